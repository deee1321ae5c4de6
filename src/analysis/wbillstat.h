#pragma once

#include "analysis/reportrows.h"
#include "analysis/wanalysispage.h"

namespace Ui {
class WBillStat;
}

// The statistics page: the expense, income and balance of each month of a year, or of each day of
// a month, closed by their total: as a table, as a column chart or as a report with subtotals.
class WBillStat : public WAnalysisPage {
    Q_OBJECT

public:
    explicit WBillStat(QWidget* parent = nullptr);
    ~WBillStat() override;

private:
    QList<QPair<QString, QString>> setUpForm() override;
    void refreshFigures() override;
    void bindTable(const QList<MPeriodStat>& rows);
    void bindChart(const QList<MPeriodStat>& rows, const QString& title);
    void bindReport(const QList<MPeriodStat>& rows, const QString& title);

    Ui::WBillStat* ui = nullptr;
};
