#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <csignal>

#include "analysis/wcategoryanalysis.h"
#include "analysisbook.h"
#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "modalanswerer.h"
#include "shell/ubook.h"

using Ids = QVariantMap;

namespace {

// A page shown in a window of its own; showing it binds it.
template <typename Page> struct Shown {
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    Page* page = new Page;

    Shown()
    {
        window->resize(1000, 600);
        (new QVBoxLayout(window.get()))->addWidget(page);
        window->show();
    }
    template <typename Child> Child* find(const char* name) const { return page->template findChild<Child*>(name); }
    QPushButton* button(const char* name) const { return find<QPushButton>(name); }
    QComboBox* combo(const char* name) const { return find<QComboBox>(name); }
    void choose(const char* comboName, const QVariant& data) const
    {
        QComboBox* box = combo(comboName);
        const int index = box->findData(data);
        QVERIFY2(index >= 0, qPrintable(data.toString()));
        box->setCurrentIndex(index);
    }
};

// The five texts of every row of the category tree, children indented by two blanks.
QStringList treeRows(const QTreeWidget* tree)
{
    QStringList rows;
    const auto textOf = [](const QTreeWidgetItem* item) {
        QStringList cells;
        for (int column = 0; column < 5; ++column)
            cells << item->text(column);
        return cells.join(' ');
    };
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = tree->topLevelItem(i);
        rows << textOf(item);
        for (int j = 0; j < item->childCount(); ++j)
            rows << "  " + textOf(item->child(j));
    }
    return rows;
}

QString totalOf(const QTreeWidget* tree)
{
    const QTreeWidgetItem* last = tree->topLevelItem(tree->topLevelItemCount() - 1);
    return last ? last->text(0) + " " + last->text(2) : QString();
}

// Bills in three periods, so that each scope shows a total of its own.
void billsInThreePeriods(AnalysisBook& book)
{
    book.category("c1", "餐饮", "expense");
    book.bill("expense", -1, QDate(2013, 5, 1), Ids { { "category_id", "c1" } });
    book.bill("expense", -10, QDate(2013, 1, 1), Ids { { "category_id", "c1" } });
    book.bill("expense", -100, QDate(2012, 3, 1), Ids { { "category_id", "c1" } });
}

} // namespace

// The analysis pages offscreen, without the web engine: the frame's choices and views, the category
// page's tree, titles, chart points and report, export, and what shows when charts cannot be drawn.
class TestAnalysisPages : public QObject {
    Q_OBJECT

private slots:
    void startValuesFollowTheSetting_data();
    void startValuesFollowTheSetting();
    void everyChoiceRefreshesOnce();
    void aYearNoLongerOfferedKeepsItsFigures();
    void viewModesShowTheirButtons();
    void categoryTreeFollowsTheKind();
    void collapseAndExpand();
    void categoryTitlesPointsAndReport();
    void badBooksShowZeros_data();
    void badBooksShowZeros();
    void exportSavesTheShownReport();
    void withoutTheWebEngineTheFiguresStay();
    void bookPageHoldsTheRealPages();
    void programStartsWithoutTheWebEngine();
};

void TestAnalysisPages::startValuesFollowTheSetting_data()
{
    QTest::addColumn<bool>("allData");
    QTest::addColumn<QString>("year");
    QTest::addColumn<QString>("month");
    QTest::addColumn<QString>("total");
    QTest::newRow("this month") << false << "2013"
                                << "5"
                                << "合计 -1.00";
    QTest::newRow("all data") << true << "全部"
                              << "全年"
                              << "合计 -111.00";
}

void TestAnalysisPages::startValuesFollowTheSetting()
{
    QFETCH(bool, allData);
    QFETCH(QString, year);
    QFETCH(QString, month);
    QFETCH(QString, total);
    AnalysisBook book;
    billsInThreePeriods(book);
    FileSetting::getInstance()->setValue(SettingKeys::AnalysisAllData, allData);
    Shown<WCategoryAnalysis> shown;
    QCOMPARE(shown.combo("cbYear")->currentText(), year);
    QCOMPARE(shown.combo("cbMonth")->currentText(), month);
    QVERIFY(shown.combo("cbMonth")->isEnabled());
    QCOMPARE(totalOf(shown.find<QTreeWidget>("tableWidget")), total);
    QCOMPARE(shown.combo("cbYear")->count(), 3); // 全部, 2013, 2012
    QCOMPARE(shown.combo("cbMonth")->count(), 13);
}

void TestAnalysisPages::everyChoiceRefreshesOnce()
{
    AnalysisBook book;
    billsInThreePeriods(book);
    FileSetting::getInstance()->setValue(SettingKeys::AnalysisAllData, true);
    Shown<WCategoryAnalysis> shown;
    const QTreeWidget* tree = shown.find<QTreeWidget>("tableWidget");
    QSignalSpy refreshes(shown.page, &WAnalysisPage::refreshed);

    // While all years are shown, a month changes nothing but the next year's choice.
    shown.choose("cbMonth", 3);
    QCOMPARE(refreshes.size(), 1);
    QCOMPARE(totalOf(tree), QString("合计 -111.00"));
    shown.choose("cbYear", 2012);
    QCOMPARE(refreshes.size(), 2);
    QCOMPARE(totalOf(tree), QString("合计 -100.00"));

    shown.choose("cbYear", 0);
    QCOMPARE(refreshes.size(), 3);
    QCOMPARE(shown.combo("cbMonth")->currentText(), QString("全年"));
    QVERIFY(!shown.combo("cbMonth")->isEnabled());
    QCOMPARE(totalOf(tree), QString("合计 -111.00"));

    shown.choose("cbYear", 2013);
    QCOMPARE(refreshes.size(), 4);
    QVERIFY(shown.combo("cbMonth")->isEnabled());
    QCOMPARE(shown.page->getMonth(), 0);
    QCOMPARE(totalOf(tree), QString("合计 -11.00"));

    shown.choose("cbKind", "income");
    QCOMPARE(refreshes.size(), 5);
    // Showing the page again refills the combos and refreshes once.
    shown.window->hide();
    shown.window->show();
    QCOMPARE(refreshes.size(), 6);
    QCOMPARE(shown.combo("cbYear")->currentText(), QString("2013"));
    QCOMPARE(shown.combo("cbKind")->currentText(), QString("收入"));
}

void TestAnalysisPages::aYearNoLongerOfferedKeepsItsFigures()
{
    AnalysisBook book;
    book.category("c1", "餐饮", "expense");
    book.bill("expense", -5, QDate(2011, 5, 1), Ids { { "category_id", "c1" } });
    Shown<WCategoryAnalysis> shown;
    shown.choose("cbYear", 2011);
    QCOMPARE(totalOf(shown.find<QTreeWidget>("tableWidget")), QString("合计 -5.00"));
    QVERIFY(execAll({ "delete from tbl_bill" }));

    shown.window->hide();
    shown.window->show();
    QCOMPARE(shown.combo("cbYear")->currentIndex(), -1);
    QCOMPARE(shown.page->getYear(), 2011);
    QCOMPARE(totalOf(shown.find<QTreeWidget>("tableWidget")), QString("合计 0.00"));
}

void TestAnalysisPages::viewModesShowTheirButtons()
{
    AnalysisBook book;
    Shown<WCategoryAnalysis> shown;
    const auto shownButtons = [&] {
        QStringList names;
        for (const char* name : { "pbPrint", "pbExport", "pbCollapseExpand" })
            if (shown.button(name)->isVisible())
                names << name;
        if (shown.combo("cbKind")->isVisible() && shown.find<QLabel>("label")->isVisible())
            names << "kind";
        return names.join(',') + " / " + QString::number(shown.find<QStackedWidget>("stackedWidget")->currentIndex());
    };
    QCOMPARE(shownButtons(), QString("pbCollapseExpand,kind / 0"));
    QTest::mouseClick(shown.button("pbReport"), Qt::LeftButton);
    QCOMPARE(shownButtons(), QString("pbPrint,pbExport,kind / 1"));
    QTest::mouseClick(shown.button("pbChart"), Qt::LeftButton);
    QCOMPARE(shownButtons(), QString("kind / 1"));
    QTest::mouseClick(shown.button("pbTable"), Qt::LeftButton);
    QCOMPARE(shownButtons(), QString("pbCollapseExpand,kind / 0"));
    QCOMPARE(shown.button("pbTable")->property("style").toString(), QString("green"));
    QCOMPARE(shown.button("pbExport")->property("style").toString(), QString("blue"));
}

void TestAnalysisPages::categoryTreeFollowsTheKind()
{
    AnalysisBook book;
    book.category("c1", "餐饮", "expense");
    book.category("s1", "早餐", "expense", "c1");
    book.category("s2", "午餐", "expense", "c1");
    book.category("c2", "交通", "expense");
    book.category("i1", "工资", "income");
    book.bill("expense", -30, QDate(2013, 5, 1), Ids { { "category_id", "c1" }, { "sub_category_id", "s1" } });
    book.bill("expense", -70, QDate(2013, 5, 2), Ids { { "category_id", "c1" } });
    book.bill("income", 1000, QDate(2013, 5, 2), Ids { { "category_id", "i1" } });
    Shown<WCategoryAnalysis> shown;
    auto* tree = shown.find<QTreeWidget>("tableWidget");
    QCOMPARE(tree->headerItem()->text(0), QString("名称"));
    QCOMPARE(tree->columnCount(), 5);
    QCOMPARE(tree->columnWidth(0), 250);
    QCOMPARE(tree->columnWidth(3), 100);
    QCOMPARE(treeRows(tree),
        QStringList({ "餐饮 支出 -100.00 100.00% 2", "  早餐 支出 -30.00 30.00% 1", "  午餐 支出 0.00 0.00% 0",
            "交通 支出 0.00 0.00% 0", "合计 支出 -100.00 100.00% 2" }));
    QVERIFY(tree->topLevelItem(0)->isExpanded());
    QCOMPARE(tree->topLevelItem(0)->textAlignment(1), int(Qt::AlignCenter));
    QCOMPARE(tree->topLevelItem(0)->child(0)->textAlignment(4), int(Qt::AlignCenter));

    shown.choose("cbKind", "income");
    QCOMPARE(treeRows(tree), QStringList({ "工资 收入 1000.00 100.00% 1", "合计 收入 1000.00 100.00% 1" }));
}

void TestAnalysisPages::collapseAndExpand()
{
    AnalysisBook book;
    book.category("c1", "餐饮", "expense");
    book.category("s1", "早餐", "expense", "c1");
    Shown<WCategoryAnalysis> shown;
    auto* tree = shown.find<QTreeWidget>("tableWidget");
    QPushButton* button = shown.button("pbCollapseExpand");
    QCOMPARE(button->text(), QString("折叠"));
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(button->text(), QString("展开"));
    QVERIFY(!tree->topLevelItem(0)->isExpanded());

    // A new tree is built expanded; the button keeps its word until it is clicked again.
    shown.choose("cbMonth", 4);
    QVERIFY(tree->topLevelItem(0)->isExpanded());
    QCOMPARE(button->text(), QString("展开"));
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(button->text(), QString("折叠"));
    QVERIFY(tree->topLevelItem(0)->isExpanded());
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!tree->topLevelItem(0)->isExpanded());
}

void TestAnalysisPages::categoryTitlesPointsAndReport()
{
    AnalysisBook book;
    book.category("c1", "餐饮", "expense");
    book.category("s1", "早<餐>", "expense", "c1");
    book.category("c2", "Kid's & toys", "expense");
    book.bill("expense", -30, QDate(2013, 5, 1), Ids { { "category_id", "c1" }, { "sub_category_id", "s1" } });
    book.bill("expense", -12, QDate(2013, 5, 1), Ids { { "category_id", "c2" } });
    Shown<WCategoryAnalysis> shown;

    QTest::mouseClick(shown.button("pbChart"), Qt::LeftButton);
    QString html = shown.page->getShownHtml();
    QVERIFY(html.contains("text: '\\x3cb>2013\\x3c/b>年\\x3cb>5\\x3c/b>月\\x3cb>支出\\x3c/b>分类分析'"));
    QVERIFY(html.contains("data: [['餐饮',-30.00],['Kid\\'s & toys',-12.00]]"));

    QTest::mouseClick(shown.button("pbReport"), Qt::LeftButton);
    html = shown.page->getShownHtml();
    QVERIFY(html.contains("<title>2013年5月分类分析</title>"));
    QVERIFY(html.contains("<ul class=\"summary\"></ul>"));
    QVERIFY(html.contains("<tr><td>餐饮</td><td>支出</td><td>1</td><td>71.43%</td><td>-30.00</td></tr>"
                          "<tr><td>&nbsp;&nbsp;&nbsp;&nbsp;早&lt;餐&gt;</td><td>支出</td><td>1</td><td>71.43%</td>"
                          "<td>-30.00</td></tr>"
                          "<tr><td>Kid's &amp; toys</td><td>支出</td><td>1</td><td>28.57%</td><td>-12.00</td></tr>"
                          "<tr><td>合计</td><td>支出</td><td>2</td><td>100.00%</td><td>-42.00</td></tr>"));

    // The chart draws the kind chosen last.
    shown.choose("cbKind", "income");
    QTest::mouseClick(shown.button("pbChart"), Qt::LeftButton);
    QVERIFY(shown.page->getShownHtml().contains("\\x3cb>收入\\x3c/b>分类分析'"));
    QVERIFY(shown.page->getShownHtml().contains("data: []"));
}

void TestAnalysisPages::badBooksShowZeros_data()
{
    QTest::addColumn<QString>("book");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("no bills") << "no bills" << QStringList { "餐饮 支出 0.00 0.00% 0", "合计 支出 0.00 100.00% 0" };
    QTest::newRow("a month without bills")
        << "bills in April" << QStringList { "餐饮 支出 0.00 0.00% 0", "合计 支出 0.00 100.00% 0" };
    QTest::newRow("bills of deleted categories")
        << "deleted category" << QStringList { "餐饮 支出 -5.00 100.00% 1", "合计 支出 -5.00 100.00% 1" };
    QTest::newRow("a sub-category of the other kind")
        << "mixed kinds" << QStringList { "餐饮 支出 -5.00 100.00% 1", "合计 支出 -5.00 100.00% 1" };
    QTest::newRow("no category of the kind") << "no categories" << QStringList { "合计 支出 0.00 100.00% 0" };
    QTest::newRow("amounts that cancel") << "cancelling"
                                         << QStringList { "餐饮 支出 0.00 0.00% 3", "合计 支出 0.00 100.00% 3" };
}

void TestAnalysisPages::badBooksShowZeros()
{
    QFETCH(QString, book);
    QFETCH(QStringList, rows);
    AnalysisBook analysis;
    const QDate may(2013, 5, 3);
    if (book != "no categories")
        analysis.category("c1", "餐饮", "expense");
    if (book == "bills in April")
        analysis.bill("expense", -5, QDate(2013, 4, 3), Ids { { "category_id", "c1" } });
    if (book == "deleted category" || book == "mixed kinds")
        analysis.bill("expense", -5, may, Ids { { "category_id", "c1" } });
    if (book == "deleted category")
        analysis.bill("expense", -7, may, Ids { { "category_id", "gone" } });
    if (book == "mixed kinds") {
        analysis.category("s1", "收入的", "income", "c1");
        analysis.bill("income", 9, may, Ids { { "category_id", "i9" }, { "sub_category_id", "s1" } });
    }
    if (book == "cancelling") {
        for (double amount : { 0.1, 0.2, -0.3 })
            analysis.bill("expense", amount, may, Ids { { "category_id", "c1" } });
    }
    Shown<WCategoryAnalysis> shown;
    QCOMPARE(treeRows(shown.find<QTreeWidget>("tableWidget")), rows);
    for (const char* mode : { "pbChart", "pbReport" }) {
        QTest::mouseClick(shown.button(mode), Qt::LeftButton);
        const QString html = shown.page->getShownHtml();
        QVERIFY2(!html.contains("nan", Qt::CaseInsensitive) && !html.contains("inf,") && !html.contains("-0.00"),
            qPrintable(html));
    }
}

void TestAnalysisPages::exportSavesTheShownReport()
{
    AnalysisBook book;
    book.category("c1", "餐饮", "expense");
    QTemporaryDir folder;
    const QString file = folder.filePath("report.html");
    {
        QFile longer(file);
        QVERIFY(longer.open(QIODevice::WriteOnly));
        longer.write(QByteArray(200000, 'x'));
    }
    Shown<WCategoryAnalysis> shown;
    QTest::mouseClick(shown.button("pbReport"), Qt::LeftButton);
    QString answer = file;
    WAnalysisPage::setFileNameAsker([&answer](QWidget*) { return answer; });
    QTest::mouseClick(shown.button("pbExport"), Qt::LeftButton);
    QFile saved(file);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QByteArray bytes = saved.readAll();
    saved.close();
    QCOMPARE(bytes, shown.page->getShownHtml().toUtf8());
    QVERIFY(bytes.startsWith("<!DOCTYPE html"));
    QVERIFY(bytes.contains("2013年5月分类分析"));

    // Cancelled: nothing is written. Not writable: the user is told, the file stays.
    answer.clear();
    QTest::mouseClick(shown.button("pbExport"), Qt::LeftButton);
    answer = folder.path();
    {
        ModalAnswerer boxes;
        boxes.expect(ModalAnswerer::titled("错误"), ModalAnswerer::press("确定"));
        QTest::mouseClick(shown.button("pbExport"), Qt::LeftButton);
        QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    }
    WAnalysisPage::setFileNameAsker({});
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), bytes);
}

void TestAnalysisPages::withoutTheWebEngineTheFiguresStay()
{
    // This test program never prepared the web engine, so the pages must not start it.
    AnalysisBook book;
    Shown<WCategoryAnalysis> shown;
    QTest::mouseClick(shown.button("pbChart"), Qt::LeftButton);
    QVERIFY(!shown.page->getReportView());
    auto* notice = shown.find<QLabel>("lblNoWebView");
    QVERIFY(notice && notice->isVisible());
    QVERIFY(notice->text().startsWith("无法显示图表和报表："));
    QTest::mouseClick(shown.button("pbReport"), Qt::LeftButton);
    QCOMPARE(shown.page->findChildren<QLabel*>("lblNoWebView").size(), 1);
    ModalAnswerer boxes;
    boxes.expect(ModalAnswerer::titled("错误"), ModalAnswerer::press("确定"));
    QTest::mouseClick(shown.button("pbPrint"), Qt::LeftButton);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestAnalysisPages::bookPageHoldsTheRealPages()
{
    AnalysisBook book;
    book.category("c1", "餐饮", "expense");
    UBook page;
    page.show();
    auto* category = page.findChild<WCategoryAnalysis*>("wgtCategoryAnalysis");
    QVERIFY(category);
    // Nothing of a page is built before the user opens it.
    QVERIFY(category->children().isEmpty());
    QTest::mouseClick(page.findChild<QPushButton*>("pbCategoryAnalysis"), Qt::LeftButton);
    QVERIFY(!category->findChild<QLabel*>("lblNotAvailable"));
    auto* tree = category->findChild<QTreeWidget*>("tableWidget");
    QVERIFY(tree && tree->isVisible());
    QVERIFY(category->findChild<QPushButton*>("pbChart")->isVisible());
    QVERIFY(!category->findChild<QPushButton*>("pbPrint")->isVisible());
    QCOMPARE(treeRows(tree), QStringList({ "餐饮 支出 0.00 0.00% 0", "合计 支出 0.00 100.00% 0" }));
}

void TestAnalysisPages::programStartsWithoutTheWebEngine()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString appDir = root.path() + "/app";
    QVERIFY(QDir().mkpath(appDir));
    const QString program = appDir + "/quorvane";
    QVERIFY(QFile::copy(QStringLiteral(QUORVANE_EXECUTABLE), program));
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", root.path());
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, {});
    QVERIFY(process.waitForStarted());
    const QString data = appDir + "/data/";
    QTRY_VERIFY_WITH_TIMEOUT(QSettings(data + "Quorvane.ini", QSettings::IniFormat).contains("Common/LastBook"), 30000);

    QFile maps(QString("/proc/%1/maps").arg(process.processId()));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    const QByteArray mapped = maps.readAll();
    QVERIFY(mapped.contains("libQt6Widgets"));
    QVERIFY(!mapped.contains("libQt6WebEngine"));
    QVERIFY(!mapped.contains("libQt6Quick"));
    QVERIFY(!mapped.contains("quorvane-webview"));

    ::kill(pid_t(process.processId()), SIGTERM);
    QVERIFY(process.waitForFinished(30000));
}

QTEST_MAIN(TestAnalysisPages)
#include "tst_analysispages.moc"
