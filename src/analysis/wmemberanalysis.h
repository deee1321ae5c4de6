#pragma once

#include "analysis/reportrows.h"
#include "analysis/wanalysispage.h"

namespace Ui {
class WMemberAnalysis;
}

// Who in the household spent and earned how much in the chosen period, with each member's shares:
// as a table, as a pie of the expense or the income per member, or as a report with subtotals.
class WMemberAnalysis : public WAnalysisPage {
    Q_OBJECT

public:
    explicit WMemberAnalysis(QWidget* parent = nullptr);
    ~WMemberAnalysis() override;

private slots:
    void on_cbKind_currentIndexChanged(int index);

private:
    QList<QPair<QString, QString>> setUpForm() override;
    void refreshFigures() override;
    void bindTable(const QList<MMemberStat>& rows);
    void bindChart(const QList<MMemberStat>& rows, const QString& title);
    void bindReport(const QList<MMemberStat>& rows, const QString& title);

    Ui::WMemberAnalysis* ui = nullptr;
};
