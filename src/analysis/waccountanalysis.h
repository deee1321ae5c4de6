#pragma once

#include "analysis/reportrows.h"
#include "analysis/wanalysispage.h"

namespace Ui {
class WAccountAnalysis;
}

// How much money went through each account in the chosen period, by bill kind: as a table, as a
// pie of one kind across the accounts, or as a report with the period's subtotals.
class WAccountAnalysis : public WAnalysisPage {
    Q_OBJECT

public:
    explicit WAccountAnalysis(QWidget* parent = nullptr);
    ~WAccountAnalysis() override;

private slots:
    void on_cbKind_currentIndexChanged(int index);

private:
    QList<QPair<QString, QString>> setUpForm() override;
    void refreshFigures() override;
    QString kindText() const override;
    void bindTable(const QList<MAccountStat>& rows);
    void bindChart(const QList<MAccountStat>& rows, const QString& title);
    void bindReport(const QList<MAccountStat>& rows, const QString& title);

    Ui::WAccountAnalysis* ui = nullptr;
};
