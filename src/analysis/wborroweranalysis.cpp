#include "analysis/wborroweranalysis.h"

#include "analysis/reporthelper.h"
#include "analysis/reportpages.h"
#include "data/constants.h"
#include "data/mbill.h"
#include "data/metadata.h"
#include "ui_wborroweranalysis.h"

namespace {

// The rows' cells in the order of the table and of the report: 借入, 借出, 还款, 收款, 合计.
QList<QStringList> cellsOf(const QList<MBorrowerStat>& rows)
{
    QList<QStringList> cells;
    for (const MBorrowerStat& row : rows) {
        cells << QStringList { row.name, ReportPages::amountText(row.borrow), ReportPages::amountText(row.lend),
            ReportPages::amountText(row.repay), ReportPages::amountText(row.refund),
            ReportPages::amountText(row.total) };
    }
    return cells;
}

} // namespace

WBorrowerAnalysis::WBorrowerAnalysis(QWidget* parent)
    : WAnalysisPage(parent, true)
{
}

WBorrowerAnalysis::~WBorrowerAnalysis()
{
    delete ui;
}

QList<QPair<QString, QString>> WBorrowerAnalysis::setUpForm()
{
    ui = new Ui::WBorrowerAnalysis;
    ui->setupUi(this);
    const QStringList headers = { tr("名称"), tr("借入"), tr("借出"), tr("还款"), tr("收款"), tr("合计") };
    ui->tableWidget->setColumnCount(int(headers.size()));
    ui->tableWidget->setHorizontalHeaderLabels(headers);

    return Constants::getInstance()->getLoanKinds()->getPairs();
}

void WBorrowerAnalysis::on_cbKind_currentIndexChanged(int)
{
    refresh();
}

void WBorrowerAnalysis::refreshFigures()
{
    const QList<MBorrowerStat> rows = ReportHelper().getBorrowerData(scope(), scopeValue());
    const QString text = title(tr("借款人<b>%1</b>分析"), tr("<b>%1</b>年借款人<b>%2</b>分析"),
        tr("<b>%1</b>年<b>%2</b>月借款人<b>%3</b>分析"));
    showRows(
        this, rows, text, &WBorrowerAnalysis::bindTable, &WBorrowerAnalysis::bindChart, &WBorrowerAnalysis::bindReport);
}

void WBorrowerAnalysis::bindTable(const QList<MBorrowerStat>& rows)
{
    fillTable(ui->tableWidget, cellsOf(rows), { 200, 100, 100, 100, 100, 100 }, 1);
}

void WBorrowerAnalysis::bindChart(const QList<MBorrowerStat>& rows, const QString& title)
{
    const QString key = ui->cbKind->currentData().toString();
    double MBorrowerStat::*column = &MBorrowerStat::repay;
    if (key == MBill::Borrow)
        column = &MBorrowerStat::borrow;
    else if (key == MBill::Lend)
        column = &MBorrowerStat::lend;
    else if (key == MBill::Refund)
        column = &MBorrowerStat::refund;
    QList<QPair<QString, double>> points;
    for (qsizetype i = 0; i + 1 < rows.size(); ++i)
        points.append({ rows.at(i).name, rows.at(i).*column });
    showPie(title, points);
}

void WBorrowerAnalysis::bindReport(const QList<MBorrowerStat>& rows, const QString& title)
{
    showReport(QStringLiteral(":/rc/report/borrower.html"), QString(), title, escapedCells(cellsOf(rows)));
}
