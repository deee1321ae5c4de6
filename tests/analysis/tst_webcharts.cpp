#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>
#include <unistd.h>

#include "analysis/reportpages.h"
#include "analysis/reportview.h"
#include "analysis/reportviewloader.h"
#include "analysis/waccountanalysis.h"
#include "analysis/wcategoryanalysis.h"
#include "analysisbook.h"
#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "shell/mainwindow.h"
#include "webtesting.h"

using Ids = QVariantMap;
using WebTesting::evaluate;

namespace {

// The processes this one started (their names as the kernel keeps them, 15 characters at most).
QStringList childProcesses()
{
    QStringList names;
    const QString self = QString::number(::getpid());
    for (const QString& pid : QDir("/proc").entryList({ "[0-9]*" }, QDir::Dirs)) {
        QFile stat("/proc/" + pid + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QString line = QString::fromUtf8(stat.readAll());
        const qsizetype close = line.lastIndexOf(')');
        const QStringList fields = line.mid(close + 2).split(' ');
        if (fields.size() > 1 && fields.at(1) == self)
            names << line.mid(line.indexOf('(') + 1, close - line.indexOf('(') - 1);
    }
    return names;
}

bool engineProcessRuns()
{
    return childProcesses().filter("QtWebEngine").size() > 0;
}

bool engineMapped()
{
    QFile maps("/proc/self/maps");
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libQt6WebEngineCore");
}

// A window holding widget, shown and exposed.
std::unique_ptr<QWidget> host(QWidget* widget, const QSize& size = QSize(1000, 640))
{
    auto window = std::make_unique<QWidget>();
    window->resize(size);
    (new QVBoxLayout(window.get()))->addWidget(widget);
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        return nullptr;
    return window;
}

QString texts(ReportView* view, const QString& selector)
{
    return evaluate(view,
        "Array.prototype.map.call(document.querySelectorAll('" + selector
            + "'), function(e) { return e.textContent; })"
              ".join('|')")
        .toString();
}

int count(ReportView* view, const QString& selector)
{
    return evaluate(view, "document.querySelectorAll('" + selector + "').length").toInt();
}

// Nothing is drawn over the texts of selector: each is what the user sees at its middle.
bool labelsOnTop(ReportView* view, const QString& selector)
{
    return evaluate(view,
        "Array.prototype.every.call(document.querySelectorAll('" + selector
            + "'), function(e) {"
              "    var box = e.getBoundingClientRect();"
              "    return document.elementFromPoint(box.left + box.width / 2, box.top + box.height / 2)"
              "        === e; })")
        .toBool();
}

// The pie's legend keeps clear of the pie and of its labels, and stays within the chart.
bool legendKeepsClear(ReportView* view)
{
    return evaluate(view,
        "var legend = document.querySelector('.qv-legend').getBBox();"
        "var right = chart.pie.x + chart.pie.r;"
        "Array.prototype.forEach.call(document.querySelectorAll('.qv-data-label'), function(e) {"
        "    right = Math.max(right, e.getBBox().x + e.getBBox().width); });"
        "right < legend.x && legend.x + legend.width <= chart.chartWidth")
        .toBool();
}

// A page of the analyses in a window of size, showing its chart or report (button "pbChart" or
// "pbReport"), drawn, and the console of its view watched from the first load on.
struct ShownPage {
    std::unique_ptr<QWidget> window;
    ReportView* view = nullptr;
    std::unique_ptr<WebTesting::Console> console;

    bool show(WAnalysisPage* page, const QSize& size, const char* button)
    {
        window = host(page, size);
        if (!window)
            return false;
        QTest::mouseClick(page->findChild<QPushButton*>(button), Qt::LeftButton);
        view = page->getReportView();
        if (!view)
            return false;
        console = std::make_unique<WebTesting::Console>(view);
        return QByteArray(button) == "pbChart" ? WebTesting::waitForChart(view) : WebTesting::waitForReport(view);
    }
};

} // namespace

// Charts and reports in a real web view, offscreen: what the chart script draws, that the web
// engine stays out of the program until the first chart, and printing.
class TestWebCharts : public QObject {
    Q_OBJECT

private slots:
    void engineStaysOutUntilTheFirstChart();
    void pieDrawsEveryNameAsText();
    void pieLabelsNeverCutAFigure_data();
    void pieLabelsNeverCutAFigure();
    void columnsDrawTwoBarsPerPeriod_data();
    void columnsDrawTwoBarsPerPeriod();
    void reportPrintsWithItsChineseText();
    void reportCellsKeepTheirWords();
    void everyPageDrawsItsChart_data();
    void everyPageDrawsItsChart();
};

void TestWebCharts::engineStaysOutUntilTheFirstChart()
{
    QVERIFY2(!engineMapped(), "the web engine was mapped before the test began");
    TestEnv env;
    MainWindow::environment().trayAvailable = [] { return false; };
    FileSetting* settings = FileSetting::getInstance();
    settings->setValue(SettingKeys::EnableAutoUpdate, false);
    settings->setValue(SettingKeys::BackupWhenStartup, false);
    settings->setValue(SettingKeys::BackupWhenClose, false);
    {
        MainWindow window;
        QVERIFY(window.isBookOpen());
        addBillRow("expense", -30, QDate::currentDate(), Ids { { "category_id", "01" } });
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        // The bill list and every analysis page in its table.
        auto* months = window.findChild<QComboBox*>("cbMonthList");
        QVERIFY(months);
        months->setCurrentIndex(months->count() - 1);
        for (const char* button :
            { "pbCategoryAnalysis", "pbAccountAnalysis", "pbBorrowerAnalysis", "pbMemberAnalysis", "pbBillStat" })
            QTest::mouseClick(window.findChild<QPushButton*>(button), Qt::LeftButton);
        QTest::mouseClick(window.findChild<QPushButton*>("pbCategoryAnalysis"), Qt::LeftButton);
        QVERIFY(!engineMapped());
        QVERIFY(!ReportViewLoader::isLoaded());
        QVERIFY2(!engineProcessRuns(), qPrintable(childProcesses().join(", ")));

        auto* page = window.findChild<WCategoryAnalysis*>();
        QVERIFY(!page->getReportView());
        QTest::mouseClick(page->findChild<QPushButton*>("pbChart"), Qt::LeftButton);
        ReportView* view = page->getReportView();
        QVERIFY(view);
        WebTesting::Console console(view);
        QVERIFY(WebTesting::waitForChart(view));
        QCOMPARE(count(view, ".qv-slice"), 1);
        QVERIFY(engineMapped());
        QTRY_VERIFY_WITH_TIMEOUT(engineProcessRuns(), 30000);
        QVERIFY2(console.errors().isEmpty(), qPrintable(console.errors().join('\n')));
    }
    DbSetting::setInstance(nullptr);
    TestBook::closeDefault();
    MainWindow::environment() = MainWindow::Environment();
}

void TestWebCharts::pieDrawsEveryNameAsText()
{
    AnalysisBook book;
    const QString injected = "</script><script>injected=1</script>";
    const QStringList names = { "Kid's toys", "a\\b", injected, "x\ny", "Tom's <b>x</b>" };
    const QList<double> amounts = { -12, -30, -8, 0, -50 };
    for (int i = 0; i < names.size(); ++i) {
        book.category(QString::number(i), names.at(i), "expense");
        if (amounts.at(i) != 0)
            book.bill("expense", amounts.at(i), QDate(2013, 5, 2), Ids { { "category_id", QString::number(i) } });
    }
    auto* page = new WCategoryAnalysis;
    const std::unique_ptr<QWidget> window = host(page, QSize(1600, 900));
    QVERIFY(window);
    QTest::mouseClick(page->findChild<QPushButton*>("pbChart"), Qt::LeftButton);
    ReportView* view = page->getReportView();
    QVERIFY(view);
    WebTesting::Console console(view);
    QVERIFY(WebTesting::waitForChart(view));

    // One slice and one label per point that is not zero, a legend item for every point.
    QCOMPARE(count(view, ".qv-slice"), 4);
    QStringList labels = texts(view, ".qv-data-label").split('|');
    labels.sort();
    QCOMPARE(labels,
        QStringList({ injected + " -8.00元: 8.00 %", "Kid's toys -12.00元: 12.00 %", "Tom's <b>x</b> -50.00元: 50.00 %",
            "a\\b -30.00元: 30.00 %" }));
    QCOMPARE(texts(view, ".qv-legend-item").split('|'),
        QStringList({ "Kid's toys -12.00元 : 12.00 %", "a\\b -30.00元 : 30.00 %", injected + " -8.00元 : 8.00 %",
            "x\ny 0.00元 : 0.00 %", "Tom's <b>x</b> -50.00元 : 50.00 %" }));
    QVERIFY(evaluate(view, "typeof injected === 'undefined'").toBool());
    QCOMPARE(texts(view, ".qv-title"), QString("2013年5月支出分类分析"));
    QCOMPARE(texts(view, ".qv-title tspan[font-weight=bold]"), QString("2013|5|支出"));

    QVERIFY(legendKeepsClear(view));
    QVERIFY(labelsOnTop(view, ".qv-legend-item"));
    QVERIFY(labelsOnTop(view, ".qv-data-label"));

    // The slice's tooltip reads the point format; the chart follows the window's size.
    QVERIFY(evaluate(view,
        "var slice = document.querySelector('.qv-slice').getBoundingClientRect();"
        "document.querySelector('.qv-slice').dispatchEvent(new MouseEvent('mousemove', "
        "{ clientX: slice.left + slice.width / 2, clientY: slice.top + slice.height / 2 })); true")
                .toBool());
    QCOMPARE(texts(view, ".qv-tooltip text"), QString("Kid's toys  -12.00元: 12.00%"));
    const int width = evaluate(view, "chart.chartWidth").toInt();
    window->resize(700, 500);
    QVERIFY(WebTesting::waitUntil(view, QString("chart.chartWidth < %1").arg(width)));
    // Narrow, the labels are shortened rather than run into the legend.
    QVERIFY(legendKeepsClear(view));
    QVERIFY(texts(view, ".qv-data-label").contains(QChar(0x2026)));
    QVERIFY2(console.errors().isEmpty(), qPrintable(console.errors().join('\n')));
}

void TestWebCharts::pieLabelsNeverCutAFigure_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("slices");
    QTest::addColumn<bool>("allLabelled");
    // The page as the program's window of 1024 × 700 shows it, maximised on a screen of 1280 × 800,
    // and narrow: then the labels that have no room for their figures are left out.
    QTest::newRow("23 slices, 1024 × 700") << QSize(875, 545) << 23 << true;
    QTest::newRow("23 slices, maximised") << QSize(1130, 645) << 23 << true;
    QTest::newRow("8 slices, 1024 × 700") << QSize(875, 545) << 8 << true;
    QTest::newRow("8 slices, narrow") << QSize(640, 420) << 8 << false;
}

// Measured in the drawn chart: every label ends with its point's whole figures, and only its name
// may be shortened; the labels keep clear of each other and of the legend; the legend's columns are
// even, and no two slices share a colour.
void TestWebCharts::pieLabelsNeverCutAFigure()
{
    QFETCH(QSize, size);
    QFETCH(int, slices);
    QFETCH(bool, allLabelled);
    AnalysisBook book;
    for (int i = 0; i < slices; ++i) {
        const QString id = QString("c%1").arg(i);
        book.category(id, QString("第%1类：房贷车贷与日常开销").left(4 + (i * 7) % 12).arg(i), "expense");
        book.bill("expense", -38027.12 - i * 1317.37, QDate(2013, 5, 2), Ids { { "category_id", id } });
    }
    ShownPage shown;
    QVERIFY(shown.show(new WCategoryAnalysis, size, "pbChart"));
    ReportView* view = shown.view;

    // What each label would read whole, by the template's own formatter.
    const QStringList whole = evaluate(view,
        "chart.series[0].points.map(function(p) { return p.name + ' ' + p.y.toFixed(2) + '元: ' + "
        "p.percentage.toFixed(2) "
        "+ ' %'; }).join('|')")
                                  .toString()
                                  .split('|');
    const QStringList names
        = evaluate(view, "chart.series[0].points.map(function(p) { return p.name; }).join('|')").toString().split('|');
    QCOMPARE(whole.size(), slices);
    const QStringList labels = texts(view, ".qv-data-label").split('|', Qt::SkipEmptyParts);
    if (allLabelled)
        QCOMPARE(labels.size(), slices);
    for (const QString& label : labels) {
        bool matched = false;
        for (int i = 0; i < whole.size() && !matched; ++i) {
            const QString figures = whole.at(i).mid(names.at(i).size());
            if (label == whole.at(i))
                matched = true;
            else if (label.endsWith(QChar(0x2026) + figures))
                matched = names.at(i).startsWith(label.chopped(figures.size() + 1));
        }
        QVERIFY2(matched, qPrintable(label));
    }

    QVERIFY(legendKeepsClear(view));
    QVERIFY(labelsOnTop(view, ".qv-data-label"));
    QVERIFY(labelsOnTop(view, ".qv-legend-item"));
    QVERIFY2(evaluate(view,
                 "var boxes = Array.prototype.map.call(document.querySelectorAll('.qv-data-label'), function(e) {"
                 "    return e.getBBox(); });"
                 "boxes.every(function(a, i) { return a.x >= 0 && boxes.every(function(b, j) {"
                 "    return i === j || a.x + a.width <= b.x || b.x + b.width <= a.x || a.y + a.height <= b.y"
                 "        || b.y + b.height <= a.y; }); })")
                 .toBool(),
        "labels overlap or leave the chart");
    // The legend's items, whole in their figures, in columns of even length.
    const QStringList columns = evaluate(view,
        "var counts = {}; Array.prototype.forEach.call(document.querySelectorAll('.qv-legend-item'), function(e) {"
        "    counts[e.getAttribute('x')] = (counts[e.getAttribute('x')] || 0) + 1; });"
        "Object.keys(counts).map(function(k) { return counts[k]; }).join('|')")
                                    .toString()
                                    .split('|');
    int shortest = slices;
    int longest = 0;
    for (const QString& column : columns) {
        shortest = std::min(shortest, column.toInt());
        longest = std::max(longest, column.toInt());
    }
    QVERIFY2(longest - shortest <= 1, qPrintable(columns.join(", ")));
    for (const QString& item : texts(view, ".qv-legend-item").split('|'))
        QVERIFY2(QRegularExpression(" -\\d+\\.\\d\\d元 : \\d+\\.\\d\\d %$").match(item).hasMatch(), qPrintable(item));
    QCOMPARE(evaluate(view,
                 "var fills = {}; Array.prototype.forEach.call(document.querySelectorAll('.qv-slice'), function(e) {"
                 "    fills[e.getAttribute('fill')] = true; }); Object.keys(fills).length")
                 .toInt(),
        slices);
    QVERIFY2(shown.console->errors().isEmpty(), qPrintable(shown.console->errors().join('\n')));
}

void TestWebCharts::columnsDrawTwoBarsPerPeriod_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("categories");
    QStringList months;
    for (int month = 1; month <= 12; ++month)
        months << QString::number(201300 + month);
    QTest::newRow("a year") << months << "1|2|3|4|5|6|7|8|9|10|11|12";
    QStringList days;
    QStringList numbers;
    for (int day = 1; day <= 30; ++day) {
        days << QDate(2013, 4, day).toString("yyyy-MM-dd");
        numbers << QString::number(day);
    }
    QTest::newRow("a month of 30 days") << days << numbers.join('|');
}

void TestWebCharts::columnsDrawTwoBarsPerPeriod()
{
    QFETCH(QStringList, names);
    QFETCH(QString, categories);
    QList<double> expenses(names.size(), 0.0);
    QList<double> incomes(names.size(), 0.0);
    expenses[4] = -30;
    incomes[4] = 100;
    QString error;
    ReportView* view = ReportViewLoader::create(nullptr, &error);
    QVERIFY2(view, qPrintable(error));
    const std::unique_ptr<QWidget> window = host(view->widget());
    QVERIFY(window);
    WebTesting::Console console(view);
    view->setHtml(ReportPages::columnPage("<b>2013</b>年账目汇总", names, expenses, incomes));
    QVERIFY(WebTesting::waitForChart(view));

    QCOMPARE(count(view, ".qv-bar"), 2 * int(names.size()));
    QCOMPARE(texts(view, ".qv-category"), categories);
    QCOMPARE(texts(view, ".qv-legend-item"), QString("支出|收入"));
    QVERIFY(labelsOnTop(view, ".qv-legend-item"));
    // Bars stand on the axis; the zero ones have no height, the income of the fifth is the tallest.
    QCOMPARE(evaluate(view, "document.querySelectorAll('.qv-bar')[0].getAttribute('height')").toString(), QString("0"));
    QVERIFY(evaluate(view,
        "var bars = document.querySelectorAll('.qv-bar'); var n = bars.length / 2;"
        "+bars[n + 4].getAttribute('height') > +bars[4].getAttribute('height') && "
        "+bars[4].getAttribute('height') > 0")
                .toBool());
    QVERIFY(evaluate(view,
        "var bar = document.querySelectorAll('.qv-bar')[4];"
        "var box = bar.getBoundingClientRect();"
        "bar.dispatchEvent(new MouseEvent('mousemove', { clientX: box.left + 1, clientY: box.top + 1 }));"
        "true")
                .toBool());
    QCOMPARE(texts(view, ".qv-tooltip text"), QString("5 支出: 30.00 元"));
    QCOMPARE(texts(view, ".qv-title"), QString("2013年账目汇总"));
    QVERIFY2(console.errors().isEmpty(), qPrintable(console.errors().join('\n')));
}

void TestWebCharts::reportPrintsWithItsChineseText()
{
    AnalysisBook book;
    book.category("c1", "餐饮", "expense");
    book.category("c2", "Tom's <b>x</b>", "expense");
    book.bill("expense", -30, QDate(2013, 5, 2), Ids { { "category_id", "c1" } });
    auto* page = new WCategoryAnalysis;
    const std::unique_ptr<QWidget> window = host(page);
    QVERIFY(window);
    QTest::mouseClick(page->findChild<QPushButton*>("pbReport"), Qt::LeftButton);
    ReportView* view = page->getReportView();
    QVERIFY(view);
    WebTesting::Console console(view);
    QVERIFY(WebTesting::waitForReport(view));
    QVERIFY(evaluate(view, "document.body.innerText").toString().contains("Tom's <b>x</b>"));
    QCOMPARE(count(view, "td b"), 0);

    QTemporaryDir folder;
    const QString pdf = folder.filePath("report.pdf");
    WAnalysisPage::setPrintDialog([pdf](QPrinter* printer, QWidget*) {
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(pdf);
        return true;
    });
    QSignalSpy finished(page, &WAnalysisPage::printFinished);
    QTest::mouseClick(page->findChild<QPushButton*>("pbPrint"), Qt::LeftButton);
    QVERIFY(finished.wait(60000));
    WAnalysisPage::setPrintDialog({});
    QCOMPARE(finished.first().first().toBool(), true);

    QProcess pdftotext;
    pdftotext.start("pdftotext", { "-enc", "UTF-8", pdf, "-" });
    QVERIFY(pdftotext.waitForFinished(30000));
    const QString text = QString::fromUtf8(pdftotext.readAllStandardOutput());
    for (const char* expected : { "2013年5月分类分析", "分类明细", "餐饮", "-30.00", "100.00%", "Tom's <b>x</b>" })
        QVERIFY2(text.contains(QString::fromUtf8(expected)),
            qPrintable(QString::fromUtf8(expected) + " is missing from:\n" + text));
    QVERIFY2(console.errors().isEmpty(), qPrintable(console.errors().join('\n')));
}

// The account report has eleven columns: at the size the program opens with, names and kinds stay on
// one line (a name of a few words) and the page scrolls sideways instead.
void TestWebCharts::reportCellsKeepTheirWords()
{
    AnalysisBook book;
    const QStringList kinds = { "cash", "card", "credit", "fund", "stock", "other" };
    for (int i = 0; i < 12; ++i) {
        const QString id = QString("a%1").arg(i);
        book.account(id, QString("招商银行储蓄卡").left(2 + i % 6), kinds.at(i % kinds.size()));
        for (const char* kind : { "expense", "transfer", "lend", "repay" })
            book.bill(kind, -38027.12 - i, QDate(2013, 5, 2), Ids { { "account_id", id }, { "to_account_id", "a0" } });
        for (const char* kind : { "income", "borrow", "refund" })
            book.bill(kind, 130916.55 + i, QDate(2013, 5, 2), Ids { { "account_id", id } });
    }
    ShownPage shown;
    QVERIFY(shown.show(new WAccountAnalysis, QSize(875, 545), "pbReport"));
    ReportView* view = shown.view;
    QCOMPARE(count(view, "td"), 13 * 11);
    // Each cell's text in lines as drawn.
    const QString wrapped = evaluate(view,
        "Array.prototype.filter.call(document.querySelectorAll('td, th'), function(cell) {"
        "    var range = document.createRange(); range.selectNodeContents(cell);"
        "    var tops = {}; Array.prototype.forEach.call(range.getClientRects(), function(r) {"
        "        tops[Math.round(r.top)] = true; });"
        "    return Object.keys(tops).length > 1; }).map(function(cell) { return cell.textContent; }).join('|')")
                                .toString();
    QVERIFY2(wrapped.isEmpty(), qPrintable("wrapped: " + wrapped));
    QVERIFY(evaluate(view, "document.scrollingElement.scrollWidth > document.scrollingElement.clientWidth").toBool());
    QVERIFY2(shown.console->errors().isEmpty(), qPrintable(shown.console->errors().join('\n')));
}

void TestWebCharts::everyPageDrawsItsChart_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("drawn");
    QTest::addColumn<int>("elements");
    QTest::addColumn<QString>("legend");
    const QString name = "Tom's <b>x</b>\ny";
    QTest::newRow("category") << "category"
                              << ".qv-slice" << 2 << name + " -30.00元 : 60.00 %";
    QTest::newRow("account") << "account"
                             << ".qv-slice" << 2 << name + " -30.00元 : 60.00 %";
    QTest::newRow("borrower") << "borrower"
                              << ".qv-slice" << 1 << name + " -500.00元 : 100.00 %";
    QTest::newRow("member") << "member"
                            << ".qv-slice" << 2 << name + " -30.00元 : 60.00 %";
    QTest::newRow("statistics, a month") << "statistics"
                                         << ".qv-bar" << 62 << "支出";
}

void TestWebCharts::everyPageDrawsItsChart()
{
    QFETCH(QString, page);
    QFETCH(QString, drawn);
    QFETCH(int, elements);
    QFETCH(QString, legend);
    AnalysisBook book;
    const QString name = "Tom's <b>x</b>\ny";
    book.category("c1", name, "expense");
    book.category("c2", "餐饮", "expense");
    book.category("c3", "交通", "expense");
    book.account("a1", name);
    book.account("a2", "工资卡");
    book.account("a3", "信用卡");
    book.borrower("b1", name);
    book.borrower("b2", "老王");
    book.member("m1", name);
    book.member("m2", "家人");
    const QDate day(2013, 5, 8);
    book.bill("expense", -30, day, Ids { { "category_id", "c1" }, { "account_id", "a1" }, { "member_id", "m1" } });
    book.bill("expense", -20, day, Ids { { "category_id", "c2" }, { "account_id", "a2" }, { "member_id", "m2" } });
    book.bill("lend", -500, day, Ids { { "borrower_id", "b1" } });

    WAnalysisPage* shown = makeAnalysisPage(page);
    const std::unique_ptr<QWidget> window = host(shown, QSize(1200, 700));
    QVERIFY(window);
    QVERIFY(!shown->getReportView());
    QTest::mouseClick(shown->findChild<QPushButton*>("pbChart"), Qt::LeftButton);
    ReportView* view = shown->getReportView();
    QVERIFY(view);
    WebTesting::Console console(view);
    QVERIFY(WebTesting::waitForChart(view));
    QCOMPARE(count(view, drawn), elements);
    QCOMPARE(texts(view, ".qv-legend-item").split('|').first(), legend);

    // The report comes in the same view.
    QTest::mouseClick(shown->findChild<QPushButton*>("pbReport"), Qt::LeftButton);
    QCOMPARE(shown->getReportView(), view);
    QVERIFY(WebTesting::waitForReport(view));
    QVERIFY(evaluate(view, "document.body.innerText").toString().contains("合计"));
    QVERIFY2(console.errors().isEmpty(), qPrintable(console.errors().join('\n')));
}

int main(int argc, char* argv[])
{
    ReportViewLoader::prepareApplication();
    QApplication app(argc, argv);
    ReportViewLoader::applicationCreated();
    TestWebCharts test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_webcharts.moc"
