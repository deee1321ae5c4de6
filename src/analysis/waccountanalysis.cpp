#include "analysis/waccountanalysis.h"

#include "analysis/reporthelper.h"
#include "analysis/reportpages.h"
#include "data/constants.h"
#include "data/mbill.h"
#include "data/metadata.h"
#include "ui_waccountanalysis.h"

namespace {

// The row's cells in the order of the table and of the report.
QStringList cellsOf(const MAccountStat& row)
{
    QStringList cells = { row.name, Constants::getInstance()->getAccountKinds()->getLabel(row.kind) };
    for (double amount : { row.expense, row.income, row.transferIn, row.transferOut, row.lend, row.borrow, row.refund,
             row.repay, row.total })
        cells << ReportPages::amountText(amount);
    return cells;
}

QList<QStringList> cellsOf(const QList<MAccountStat>& rows)
{
    QList<QStringList> cells;
    for (const MAccountStat& row : rows)
        cells << cellsOf(row);
    return cells;
}

} // namespace

WAccountAnalysis::WAccountAnalysis(QWidget* parent)
    : WAnalysisPage(parent, true)
{
}

WAccountAnalysis::~WAccountAnalysis()
{
    delete ui;
}

QList<QPair<QString, QString>> WAccountAnalysis::setUpForm()
{
    ui = new Ui::WAccountAnalysis;
    ui->setupUi(this);
    const QStringList headers = { tr("名称"), tr("类型"), tr("支出"), tr("收入"), tr("转入"), tr("转出"), tr("借出"),
        tr("借入"), tr("收款"), tr("还款"), tr("合计") };
    ui->tableWidget->setColumnCount(int(headers.size()));
    ui->tableWidget->setHorizontalHeaderLabels(headers);

    // The transfer kind is two on this page: money in and money out.
    QList<QPair<QString, QString>> kinds;
    for (const auto& pair : Constants::getInstance()->getBillKinds()->getPairs()) {
        if (pair.second == MBill::Transfer) {
            kinds.append({ tr("转入"), QStringLiteral("transferIn") });
            kinds.append({ tr("转出"), QStringLiteral("transferOut") });
        } else {
            kinds.append(pair);
        }
    }
    return kinds;
}

void WAccountAnalysis::on_cbKind_currentIndexChanged(int)
{
    refresh();
}

QString WAccountAnalysis::kindText() const
{
    const QString kind = WAnalysisPage::kindText();
    return kind.isEmpty() ? kind : kind + tr("金额");
}

void WAccountAnalysis::refreshFigures()
{
    const QList<MAccountStat> rows = ReportHelper().getAccountData(scope(), scopeValue());
    const QString text = title(
        tr("账户<b>%1</b>分析"), tr("<b>%1</b>年账户<b>%2</b>分析"), tr("<b>%1</b>年<b>%2</b>月账户<b>%3</b>分析"));
    showRows(
        this, rows, text, &WAccountAnalysis::bindTable, &WAccountAnalysis::bindChart, &WAccountAnalysis::bindReport);
}

void WAccountAnalysis::bindTable(const QList<MAccountStat>& rows)
{
    fillTable(ui->tableWidget, cellsOf(rows), { 150, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60 }, 1);
}

void WAccountAnalysis::bindChart(const QList<MAccountStat>& rows, const QString& title)
{
    const QString key = ui->cbKind->currentData().toString();
    double MAccountStat::*column = &MAccountStat::expense;
    if (key == MBill::Income)
        column = &MAccountStat::income;
    else if (key == QLatin1String("transferIn"))
        column = &MAccountStat::transferIn;
    else if (key == QLatin1String("transferOut"))
        column = &MAccountStat::transferOut;
    else if (key == MBill::Lend)
        column = &MAccountStat::lend;
    else if (key == MBill::Borrow)
        column = &MAccountStat::borrow;
    else if (key == MBill::Refund)
        column = &MAccountStat::refund;
    else if (key == MBill::Repay)
        column = &MAccountStat::repay;
    QList<QPair<QString, double>> points;
    for (qsizetype i = 0; i + 1 < rows.size(); ++i) {
        const MAccountStat& row = rows.at(i);
        points.append({ row.name, row.*column });
    }
    showPie(title, points);
}

void WAccountAnalysis::bindReport(const QList<MAccountStat>& rows, const QString& title)
{
    const MAccountStat& total = rows.last();
    showReport(QStringLiteral(":/rc/report/account.html"),
        ReportPages::summary(total.expense, total.income, total.total), title, escapedCells(cellsOf(rows)));
}
