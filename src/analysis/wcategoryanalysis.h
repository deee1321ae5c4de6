#pragma once

#include "analysis/reportrows.h"
#include "analysis/wanalysispage.h"

namespace Ui {
class WCategoryAnalysis;
}

// Where the money went, or came from, by category: for the chosen kind and period every top
// category with its sub-categories, their bills, sums and shares of the kind's total, as a tree,
// a pie chart of the top categories or a report.
class WCategoryAnalysis : public WAnalysisPage {
    Q_OBJECT

public:
    explicit WCategoryAnalysis(QWidget* parent = nullptr);
    ~WCategoryAnalysis() override;

private slots:
    void on_cbKind_currentIndexChanged(int index);
    void on_pbCollapseExpand_clicked();

private:
    QList<QPair<QString, QString>> setUpForm() override;
    void refreshFigures() override;
    void bindTable(const QList<MCategoryStat>& rows);
    void bindChart(const QList<MCategoryStat>& rows, const QString& title);
    void bindReport(const QList<MCategoryStat>& rows, const QString& title);

    Ui::WCategoryAnalysis* ui = nullptr;
    QString kind;
    bool expanded = true;
};
