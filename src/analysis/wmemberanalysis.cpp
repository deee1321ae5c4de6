#include "analysis/wmemberanalysis.h"

#include "analysis/reporthelper.h"
#include "analysis/reportpages.h"
#include "data/constants.h"
#include "data/mbill.h"
#include "data/metadata.h"
#include "ui_wmemberanalysis.h"

using ReportPages::amountText;
using ReportPages::shareText;

WMemberAnalysis::WMemberAnalysis(QWidget* parent)
    : WAnalysisPage(parent, true)
{
}

WMemberAnalysis::~WMemberAnalysis()
{
    delete ui;
}

QList<QPair<QString, QString>> WMemberAnalysis::setUpForm()
{
    ui = new Ui::WMemberAnalysis;
    ui->setupUi(this);
    const QStringList headers
        = { tr("名称"), tr("支出"), tr("支出百分比"), tr("收入"), tr("收入百分比"), tr("合计"), tr("合计百分比") };
    ui->tableWidget->setColumnCount(int(headers.size()));
    ui->tableWidget->setHorizontalHeaderLabels(headers);

    return Constants::getInstance()->getCategoryKinds()->getPairs();
}

void WMemberAnalysis::on_cbKind_currentIndexChanged(int)
{
    refresh();
}

void WMemberAnalysis::refreshFigures()
{
    ui->tableWidget->clearContents();
    ui->tableWidget->setRowCount(0);
    const QList<MMemberStat> rows = ReportHelper().getMemberData(scope(), scopeValue());
    const QString text = title(
        tr("成员<b>%1</b>分析"), tr("<b>%1</b>年成员<b>%2</b>分析"), tr("<b>%1</b>年<b>%2</b>月成员<b>%3</b>分析"));
    showRows(this, rows, text, &WMemberAnalysis::bindTable, &WMemberAnalysis::bindChart, &WMemberAnalysis::bindReport);
}

void WMemberAnalysis::bindTable(const QList<MMemberStat>& rows)
{
    QList<QStringList> cells;
    for (const MMemberStat& row : rows) {
        cells << QStringList { row.name, amountText(row.expense), shareText(row.expenseRatio), amountText(row.income),
            shareText(row.incomeRatio), amountText(row.total), shareText(row.totalRatio) };
    }
    fillTable(ui->tableWidget, cells, { 200, 100, 100, 100, 100, 100, 100 }, 1);
}

void WMemberAnalysis::bindChart(const QList<MMemberStat>& rows, const QString& title)
{
    const bool income = ui->cbKind->currentData().toString() == MBill::Income;
    QList<QPair<QString, double>> points;
    for (qsizetype i = 0; i + 1 < rows.size(); ++i)
        points.append({ rows.at(i).name, income ? rows.at(i).income : rows.at(i).expense });
    showPie(title, points);
}

void WMemberAnalysis::bindReport(const QList<MMemberStat>& rows, const QString& title)
{
    // The report puts each share before its amount, unlike the table.
    QList<QStringList> cells;
    for (const MMemberStat& row : rows) {
        cells << QStringList { row.name, shareText(row.expenseRatio), amountText(row.expense),
            shareText(row.incomeRatio), amountText(row.income), shareText(row.totalRatio), amountText(row.total) };
    }
    const MMemberStat& total = rows.last();
    showReport(QStringLiteral(":/rc/report/member.html"),
        ReportPages::summary(total.expense, total.income, total.total), title, escapedCells(cells));
}
