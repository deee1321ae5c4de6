#include "analysis/wbillstat.h"

#include "analysis/reporthelper.h"
#include "analysis/reportpages.h"
#include "ui_wbillstat.h"

namespace {

const QList<int> ColumnWidths = { 200, 150, 150, 150 };

QList<QStringList> cellsOf(const QList<MPeriodStat>& rows)
{
    QList<QStringList> cells;
    for (const MPeriodStat& row : rows) {
        cells << QStringList { row.name, ReportPages::amountText(row.expense), ReportPages::amountText(row.income),
            ReportPages::amountText(row.total) };
    }
    return cells;
}

} // namespace

WBillStat::WBillStat(QWidget* parent)
    : WAnalysisPage(parent, false)
{
}

WBillStat::~WBillStat()
{
    delete ui;
}

QList<QPair<QString, QString>> WBillStat::setUpForm()
{
    ui = new Ui::WBillStat;
    ui->setupUi(this);
    const QStringList headers = { tr("日期"), tr("支出"), tr("收入"), tr("合计") };
    ui->twBillStat->setColumnCount(int(headers.size()));
    ui->twBillStat->setHorizontalHeaderLabels(headers);

    return {};
}

void WBillStat::refreshFigures()
{
    ui->twBillStat->clearContents();
    ui->twBillStat->setRowCount(0);
    fitColumns(ui->twBillStat, ColumnWidths);
    ReportHelper helper;
    const QList<MPeriodStat> rows = month < 1 ? helper.statYear(year) : helper.statMonth(year * 100 + month);
    const QString text = title(QString(), tr("<b>%1</b>年账目汇总"), tr("<b>%1</b>年<b>%2</b>月账目汇总"));
    showRows(this, rows, text, &WBillStat::bindTable, &WBillStat::bindChart, &WBillStat::bindReport);
}

void WBillStat::bindTable(const QList<MPeriodStat>& rows)
{
    fillTable(ui->twBillStat, cellsOf(rows), ColumnWidths, 0);
}

void WBillStat::bindChart(const QList<MPeriodStat>& rows, const QString& title)
{
    QStringList names;
    QList<double> expenses;
    QList<double> incomes;
    for (qsizetype i = 0; i + 1 < rows.size(); ++i) {
        names << rows.at(i).name;
        expenses << rows.at(i).expense;
        incomes << rows.at(i).income;
    }
    showHtml(ReportPages::columnPage(title, names, expenses, incomes));
}

void WBillStat::bindReport(const QList<MPeriodStat>& rows, const QString& title)
{
    const MPeriodStat& total = rows.last();
    showReport(QStringLiteral(":/rc/report/stat.html"), ReportPages::summary(total.expense, total.income, total.total),
        title, escapedCells(cellsOf(rows)));
}
