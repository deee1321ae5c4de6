#include "analysis/wanalysispage.h"

#include <algorithm>

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QListView>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QSaveFile>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTreeWidget>

#include "analysis/reporthelper.h"
#include "analysis/reportpages.h"
#include "analysis/reportview.h"
#include "analysis/reportviewloader.h"
#include "data/constants.h"
#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "widgets/dmessagebox.h"
#include "widgets/pagetext.h"

namespace {

WAnalysisPage::PrintDialog& printDialog()
{
    static WAnalysisPage::PrintDialog dialog;
    return dialog;
}

WAnalysisPage::FileNameAsker& fileNameAsker()
{
    static WAnalysisPage::FileNameAsker asker;
    return asker;
}

bool runPrintDialog(QPrinter* printer, QWidget* parent)
{
    QPrintDialog dialog(printer, parent);
    return dialog.exec() == QDialog::Accepted;
}

QString askFileName(QWidget* parent)
{
    // Reports go where the last export went, at first where the user keeps documents, not wherever
    // the program was started from.
    FileSetting* settings = FileSetting::getInstance();
    QFileDialog dialog(parent, WAnalysisPage::tr("保存报表"),
        settings->folderFor(SettingKeys::ExportFolder, Constants::getDocumentsDir()),
        WAnalysisPage::tr("报表文件 (*.html)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // The dialog here does not add the filter's extension by itself.
    dialog.setDefaultSuffix(QStringLiteral("html"));
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    const QString file = dialog.selectedFiles().value(0);
    settings->rememberFolder(SettingKeys::ExportFolder, file);
    return file;
}

} // namespace

WAnalysisPage::WAnalysisPage(QWidget* parent, bool allYears)
    : WBaseWidget(parent)
    , allYears(allYears)
{
    const QDate today = ReportHelper::today();
    if (allYears && FileSetting::getInstance()->value(SettingKeys::AnalysisAllData).toBool()) {
        year = 0;
        month = 0;
    } else {
        year = today.year();
        month = today.month();
    }
}

WAnalysisPage::~WAnalysisPage() = default;

void WAnalysisPage::setPrintDialog(PrintDialog dialog)
{
    printDialog() = std::move(dialog);
}

void WAnalysisPage::setFileNameAsker(FileNameAsker asker)
{
    fileNameAsker() = std::move(asker);
}

void WAnalysisPage::build()
{
    built = true;
    const QList<QPair<QString, QString>> kinds = setUpForm();
    frame.cbYear = findChild<QComboBox*>(QStringLiteral("cbYear"));
    frame.cbMonth = findChild<QComboBox*>(QStringLiteral("cbMonth"));
    frame.cbKind = findChild<QComboBox*>(QStringLiteral("cbKind"));
    frame.kindLabel = findChild<QWidget*>(QStringLiteral("lblKind"));
    frame.pbTable = findChild<QPushButton*>(QStringLiteral("pbTable"));
    frame.pbChart = findChild<QPushButton*>(QStringLiteral("pbChart"));
    frame.pbReport = findChild<QPushButton*>(QStringLiteral("pbReport"));
    frame.pbPrint = findChild<QPushButton*>(QStringLiteral("pbPrint"));
    frame.pbExport = findChild<QPushButton*>(QStringLiteral("pbExport"));
    frame.pbCollapseExpand = findChild<QPushButton*>(QStringLiteral("pbCollapseExpand"));
    frame.stackedWidget = findChild<QStackedWidget*>(QStringLiteral("stackedWidget"));

    for (QPushButton* button : { frame.pbTable, frame.pbChart, frame.pbReport })
        button->setProperty("style", QStringLiteral("green"));
    for (QPushButton* button : { frame.pbPrint, frame.pbExport, frame.pbCollapseExpand }) {
        if (button)
            button->setProperty("style", QStringLiteral("blue"));
    }
    frame.pbPrint->hide();
    frame.pbExport->hide();
    if (frame.kindLabel) {
        frame.kindLabel->hide();
        frame.cbKind->hide();
    }
    frame.cbYear->setView(new QListView(this));
    frame.cbMonth->setView(new QListView(this));
    mode = TableMode;
    frame.stackedWidget->setCurrentIndex(0);
    if (frame.cbKind) {
        const QSignalBlocker blocker(frame.cbKind);
        for (const auto& [label, key] : kinds)
            frame.cbKind->addItem(label, key);
    }
    // The page's labels wear the pages' look from the first visit on, as on every later one.
    markPageText(this);
    // The page is being shown: what its form made must be shown with it, unless hidden on purpose.
    for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!child->isWindow() && !child->testAttribute(Qt::WA_WState_ExplicitShowHide))
            child->show();
    }
}

void WAnalysisPage::bind()
{
    if (!built)
        build();
    ReportHelper helper;
    {
        const QSignalBlocker yearBlocker(frame.cbYear);
        const QSignalBlocker monthBlocker(frame.cbMonth);
        frame.cbYear->clear();
        frame.cbMonth->clear();
        if (allYears)
            frame.cbYear->addItem(tr("全部"), 0);
        for (int each : helper.getYearList())
            frame.cbYear->addItem(QString::number(each), each);
        frame.cbYear->setCurrentIndex(frame.cbYear->findData(year));
        frame.cbMonth->addItem(tr("全年"), 0);
        for (int each : helper.getMonthList())
            frame.cbMonth->addItem(QString::number(each), each);
        frame.cbMonth->setCurrentIndex(frame.cbMonth->findData(month));
    }
    refresh();
}

void WAnalysisPage::on_cbYear_currentIndexChanged(int index)
{
    year = frame.cbYear->itemData(index).toInt();
    if (allYears) {
        if (year != 0) {
            frame.cbMonth->setEnabled(true);
        } else {
            month = 0;
            const QSignalBlocker blocker(frame.cbMonth);
            frame.cbMonth->setCurrentIndex(0);
            frame.cbMonth->setEnabled(false);
        }
    }
    refresh();
}

void WAnalysisPage::on_cbMonth_currentIndexChanged(int index)
{
    month = frame.cbMonth->itemData(index).toInt();
    refresh();
}

void WAnalysisPage::on_pbTable_clicked()
{
    switchMode(TableMode);
}

void WAnalysisPage::on_pbChart_clicked()
{
    switchMode(ChartMode);
}

void WAnalysisPage::on_pbReport_clicked()
{
    switchMode(ReportMode);
}

void WAnalysisPage::switchMode(Mode newMode)
{
    mode = newMode;
    refresh();
    frame.stackedWidget->setCurrentIndex(mode == TableMode ? 0 : 1);
    frame.pbPrint->setVisible(mode == ReportMode);
    frame.pbExport->setVisible(mode == ReportMode);
    if (frame.kindLabel) {
        frame.kindLabel->setVisible(mode == ChartMode);
        frame.cbKind->setVisible(mode == ChartMode);
    }
    if (frame.pbCollapseExpand)
        frame.pbCollapseExpand->setVisible(mode == TableMode);
}

void WAnalysisPage::refresh()
{
    refreshFigures();
    emit refreshed();
}

QString WAnalysisPage::scope() const
{
    if (year == 0)
        return QStringLiteral("all");
    return month < 1 ? QStringLiteral("year") : QStringLiteral("month");
}

int WAnalysisPage::scopeValue() const
{
    if (year == 0)
        return 0;
    return month < 1 ? year : year * 100 + month;
}

QString WAnalysisPage::title(const QString& allFormat, const QString& yearFormat, const QString& monthFormat) const
{
    const QString yearText = QString::number(year);
    const QString monthText = QString::number(month);
    if (!frame.cbKind) {
        if (month < 1)
            return yearFormat.arg(yearText);
        return monthFormat.arg(yearText, monthText);
    }
    const QString kind = kindText();
    if (year == 0)
        return allFormat.arg(kind);
    if (month < 1)
        return yearFormat.arg(yearText, kind);
    return monthFormat.arg(yearText, monthText, kind);
}

QString WAnalysisPage::kindText() const
{
    return mode == ChartMode && frame.cbKind ? frame.cbKind->currentText() : QString();
}

void WAnalysisPage::fillTable(
    QTableWidget* table, const QList<QStringList>& rows, const QList<int>& widths, int firstCentred)
{
    table->clearContents();
    table->setRowCount(int(rows.size()));
    for (int row = 0; row < rows.size(); ++row) {
        const QStringList& cells = rows.at(row);
        for (int column = 0; column < cells.size(); ++column) {
            auto* item = new QTableWidgetItem(cells.at(column));
            if (column >= firstCentred)
                item->setTextAlignment(Qt::AlignCenter);
            table->setItem(row, column, item);
        }
    }
    fitColumns(table, widths);
}

namespace {

const int NameColumnMaximum = 320;

// The fixed widths fit the fonts they were chosen for, not every font a system has: a column
// grows to what its texts need as the view measures them (style, font, margins).
template <typename View> void fitColumnsOf(View* view, const QList<int>& widths)
{
    view->ensurePolished();
    for (int column = 0; column < widths.size(); ++column) {
        view->resizeColumnToContents(column);
        int width = std::max(view->columnWidth(column), widths.at(column));
        if (column == 0)
            width = std::min(width, std::max(widths.at(column), NameColumnMaximum));
        view->setColumnWidth(column, width);
    }
}

} // namespace

void WAnalysisPage::fitColumns(QTableView* view, const QList<int>& widths)
{
    fitColumnsOf(view, widths);
}

void WAnalysisPage::fitColumns(QTreeView* view, const QList<int>& widths)
{
    fitColumnsOf(view, widths);
}

void WAnalysisPage::showPie(const QString& title, const QList<QPair<QString, double>>& points)
{
    showHtml(ReportPages::piePage(title, points));
}

void WAnalysisPage::showReport(
    const QString& resource, const QString& summary, const QString& title, const QList<QStringList>& cells)
{
    showHtml(ReportPages::reportPage(resource, summary, title, cells));
}

QList<QStringList> WAnalysisPage::escapedCells(const QList<QStringList>& cells)
{
    QList<QStringList> escaped;
    for (const QStringList& row : cells) {
        QStringList texts;
        for (const QString& cell : row)
            texts.append(cell.toHtmlEscaped());
        escaped.append(texts);
    }
    return escaped;
}

void WAnalysisPage::showHtml(const QString& html)
{
    shownHtml = html;
    if (!view && viewError.isEmpty())
        createView();
    if (view)
        view->setHtml(html);
}

void WAnalysisPage::createView()
{
    QWidget* page = frame.stackedWidget->widget(1);
    auto* layout = qobject_cast<QGridLayout*>(page->layout());
    view = ReportViewLoader::create(page, &viewError);
    if (view) {
        view->widget()->setObjectName(QStringLiteral("webView"));
        layout->addWidget(view->widget(), 0, 0);
        return;
    }
    // The figures stay in the table; say why the chart is missing instead of showing nothing.
    auto* notice = new QLabel(tr("无法显示图表和报表：%1").arg(viewError), page);
    notice->setObjectName(QStringLiteral("lblNoWebView"));
    notice->setAlignment(Qt::AlignCenter);
    notice->setWordWrap(true);
    layout->addWidget(notice, 0, 0);
}

void WAnalysisPage::on_pbPrint_clicked()
{
    if (!view) {
        DMessageBox::error(this, tr("无法打印报表：%1").arg(viewError));
        return;
    }
    // One print run at a time: the web view prints in the background.
    if (printer)
        return;
    auto chosen = std::make_shared<QPrinter>(QPrinter::ScreenResolution);
    const PrintDialog& dialog = printDialog();
    if (!(dialog ? dialog(chosen.get(), this) : runPrintDialog(chosen.get(), this)))
        return;
    printer = chosen;
    const QPointer<WAnalysisPage> page(this);
    view->print(printer.get(), [page, chosen](bool ok) {
        if (!page)
            return;
        page->printer.reset();
        if (!ok)
            DMessageBox::error(page, tr("报表没有打印成功，请检查打印机后再试。"));
        emit page->printFinished(ok);
    });
}

void WAnalysisPage::on_pbExport_clicked()
{
    // The report as it was filled: the web view only hands its document back later, and rewritten.
    const QString html = shownHtml;
    const FileNameAsker& asker = fileNameAsker();
    const QString fileName = asker ? asker(this) : askFileName(this);
    if (fileName.isEmpty())
        return;
    QSaveFile file(fileName);
    if (file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        // A report of the household's money is its owner's business, whatever the umask says.
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        file.write(html.toUtf8());
        if (file.commit()) {
            DMessageBox::information(
                this, tr("导出成功"), tr("您已经成功导出报表：%1").arg(QDir::toNativeSeparators(fileName)));
            return;
        }
    }
    DMessageBox::error(this, tr("报表没有保存成功：%1").arg(file.errorString()));
}
