#pragma once

#include "analysis/reportrows.h"
#include "analysis/wanalysispage.h"

namespace Ui {
class WBorrowerAnalysis;
}

// What was borrowed from, lent to, repaid to and received back from each borrower in the chosen
// period: as a table, as a pie of one loan kind across the borrowers, or as a report.
class WBorrowerAnalysis : public WAnalysisPage {
    Q_OBJECT

public:
    explicit WBorrowerAnalysis(QWidget* parent = nullptr);
    ~WBorrowerAnalysis() override;

private slots:
    void on_cbKind_currentIndexChanged(int index);

private:
    QList<QPair<QString, QString>> setUpForm() override;
    void refreshFigures() override;
    void bindTable(const QList<MBorrowerStat>& rows);
    void bindChart(const QList<MBorrowerStat>& rows, const QString& title);
    void bindReport(const QList<MBorrowerStat>& rows, const QString& title);

    Ui::WBorrowerAnalysis* ui = nullptr;
};
