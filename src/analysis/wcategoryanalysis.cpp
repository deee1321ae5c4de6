#include "analysis/wcategoryanalysis.h"

#include "analysis/reporthelper.h"
#include "analysis/reportpages.h"
#include "data/constants.h"
#include "data/mbill.h"
#include "data/metadata.h"
#include "widgets/witemdelegate.h"
#include "ui_wcategoryanalysis.h"

WCategoryAnalysis::WCategoryAnalysis(QWidget* parent)
    : WAnalysisPage(parent, true)
    , kind(MBill::Expense)
{
}

QList<QPair<QString, QString>> WCategoryAnalysis::setUpForm()
{
    ui = new Ui::WCategoryAnalysis;
    ui->setupUi(this);
    const QStringList headers = { tr("名称"), tr("类型"), tr("合计"), tr("百分比"), tr("次数") };
    ui->tableWidget->setColumnCount(int(headers.size()));
    ui->tableWidget->setHeaderLabels(headers);
    for (int column = 0; column < headers.size(); ++column)
        ui->tableWidget->headerItem()->setTextAlignment(column, Qt::AlignHCenter);
    ui->tableWidget->setItemDelegate(new WItemDelegate(ui->tableWidget));
    return Constants::getInstance()->getCategoryKinds()->getPairs();
}

WCategoryAnalysis::~WCategoryAnalysis()
{
    delete ui;
}

void WCategoryAnalysis::on_cbKind_currentIndexChanged(int index)
{
    kind = ui->cbKind->itemData(index).toString();
    refresh();
}

void WCategoryAnalysis::on_pbCollapseExpand_clicked()
{
    if (expanded) {
        ui->tableWidget->collapseAll();
        ui->pbCollapseExpand->setText(tr("展开"));
    } else {
        ui->tableWidget->expandAll();
        ui->pbCollapseExpand->setText(tr("折叠"));
    }
    expanded = !expanded;
}

void WCategoryAnalysis::refreshFigures()
{
    ReportHelper helper;
    const QList<MCategoryStat> rows = helper.getCategoryData(kind, scope(), scopeValue());
    const QString text = title(
        tr("<b>%1</b>分类分析"), tr("<b>%1</b>年<b>%2</b>分类分析"), tr("<b>%1</b>年<b>%2</b>月<b>%3</b>分类分析"));
    showRows(
        this, rows, text, &WCategoryAnalysis::bindTable, &WCategoryAnalysis::bindChart, &WCategoryAnalysis::bindReport);
}

namespace {

QStringList treeTexts(const MCategoryStat& row)
{
    return { row.name, Constants::getInstance()->getCategoryKinds()->getLabel(row.kind),
        ReportPages::amountText(row.total), ReportPages::shareText(row.ratio), QString::number(row.count) };
}

QTreeWidgetItem* treeItem(const MCategoryStat& row)
{
    auto* item = new QTreeWidgetItem(treeTexts(row));
    for (int column = 1; column < 5; ++column)
        item->setTextAlignment(column, Qt::AlignCenter);
    return item;
}

} // namespace

void WCategoryAnalysis::bindTable(const QList<MCategoryStat>& rows)
{
    ui->tableWidget->clear();
    for (const MCategoryStat& row : rows) {
        QTreeWidgetItem* item = treeItem(row);
        ui->tableWidget->addTopLevelItem(item);
        item->setExpanded(true);
        for (const MCategoryStat& child : row.children)
            item->addChild(treeItem(child));
    }
    fitColumns(ui->tableWidget, { 250, 100, 100, 100, 50 });
}

void WCategoryAnalysis::bindChart(const QList<MCategoryStat>& rows, const QString& title)
{
    QList<QPair<QString, double>> points;
    for (qsizetype i = 0; i + 1 < rows.size(); ++i)
        points.append({ rows.at(i).name, rows.at(i).total });
    showPie(title, points);
}

void WCategoryAnalysis::bindReport(const QList<MCategoryStat>& rows, const QString& title)
{
    const MetaData* kinds = Constants::getInstance()->getCategoryKinds();
    QList<QStringList> cells;
    for (const MCategoryStat& row : rows) {
        const QString kindLabel = kinds->getLabel(row.kind).toHtmlEscaped();
        cells.append({ row.name.toHtmlEscaped(), kindLabel, QString::number(row.count),
            ReportPages::shareText(row.ratio), ReportPages::amountText(row.total) });
        for (const MCategoryStat& child : row.children) {
            cells.append({ QStringLiteral("&nbsp;&nbsp;&nbsp;&nbsp;") + child.name.toHtmlEscaped(), kindLabel,
                QString::number(child.count), ReportPages::shareText(child.ratio),
                ReportPages::amountText(child.total) });
        }
    }
    showReport(QStringLiteral(":/rc/report/category.html"), QString(), title, cells);
}
