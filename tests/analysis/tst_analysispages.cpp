#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QStyle>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <csignal>

#include "analysis/waccountanalysis.h"
#include "analysis/wbillstat.h"
#include "analysis/wborroweranalysis.h"
#include "analysis/wcategoryanalysis.h"
#include "analysis/wmemberanalysis.h"
#include "analysisbook.h"
#include "data/constants.h"
#include "data/dbhelper.h"
#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "modalanswerer.h"
#include "shell/ubook.h"
#include "shell/ucontent.h"
#include "widgettest.h"

using Ids = QVariantMap;

namespace {

// A page shown in a window of its own; showing it binds it.
struct Shown {
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    WAnalysisPage* page;

    explicit Shown(WAnalysisPage* shown = new WCategoryAnalysis)
        : page(shown)
    {
        window->resize(1000, 600);
        (new QVBoxLayout(window.get()))->addWidget(page);
        window->show();
    }
    template <typename Child> Child* find(const char* name) const { return page->findChild<Child*>(name); }
    QPushButton* button(const char* name) const { return find<QPushButton>(name); }
    QComboBox* combo(const char* name) const { return find<QComboBox>(name); }
    void choose(const char* comboName, const QVariant& data) const
    {
        QComboBox* box = combo(comboName);
        const int index = box->findData(data);
        QVERIFY2(index >= 0, qPrintable(data.toString()));
        box->setCurrentIndex(index);
    }
    void click(const char* name) const { QTest::mouseClick(button(name), Qt::LeftButton); }
    // The table's rows, cells joined by blanks.
    QStringList rows() const
    {
        auto* table = find<QTableWidget>("tableWidget");
        if (!table)
            table = find<QTableWidget>("twBillStat");
        QStringList rows;
        for (int row = 0; row < table->rowCount(); ++row) {
            QStringList cells;
            for (int column = 0; column < table->columnCount(); ++column)
                cells << (table->item(row, column) ? table->item(row, column)->text() : "-");
            rows << cells.join(' ');
        }
        return rows;
    }
    QString html() const { return page->getShownHtml(); }
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
    void pageFormsAndCombos_data();
    void pageFormsAndCombos();
    void accountFiguresByKind();
    void borrowerFiguresByLoanKind();
    void memberFiguresAndShares();
    void statisticsByDayAndMonth();
    void statisticsKeepsItsMonthAcrossYears();
    void poorBooksShowZeros_data();
    void poorBooksShowZeros();
    void namesAreEscaped_data();
    void namesAreEscaped();
    void exportSavesTheShownReport();
    void withoutTheWebEngineTheFiguresStay();
    void bookPageHoldsTheRealPages();
    void columnsFitTheWidestFigure_data();
    void columnsFitTheWidestFigure();
    void labelsLookTheSameOnEveryVisit();
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
    Shown shown;
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
    Shown shown;
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
    Shown shown;
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
    Shown shown;
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
    Shown shown;
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
    Shown shown;
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
    Shown shown;

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
    Shown shown;
    QCOMPARE(treeRows(shown.find<QTreeWidget>("tableWidget")), rows);
    for (const char* mode : { "pbChart", "pbReport" }) {
        QTest::mouseClick(shown.button(mode), Qt::LeftButton);
        const QString html = shown.page->getShownHtml();
        QVERIFY2(!html.contains("nan", Qt::CaseInsensitive) && !html.contains("inf,") && !html.contains("-0.00"),
            qPrintable(html));
    }
}

void TestAnalysisPages::pageFormsAndCombos_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QStringList>("headers");
    QTest::addColumn<QList<int>>("widths");
    QTest::addColumn<QStringList>("kinds");
    QTest::addColumn<QString>("exportText");
    QTest::addColumn<QString>("firstYear");
    QTest::newRow("account") << "account"
                             << QStringList { "名称", "类型", "支出", "收入", "转入", "转出", "借出", "借入", "收款",
                                    "还款", "合计" }
                             << QList<int> { 150, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60 }
                             << QStringList { "支出=expense", "收入=income", "转入=transferIn", "转出=transferOut",
                                    "借出=lend", "借入=borrow", "收款=refund", "还款=repay" }
                             << "导出"
                             << "全部";
    QTest::newRow("borrower") << "borrower" << QStringList { "名称", "借入", "借出", "还款", "收款", "合计" }
                              << QList<int> { 200, 100, 100, 100, 100, 100 }
                              << QStringList { "借出=lend", "借入=borrow", "收款=refund", "还款=repay" } << "导出"
                              << "全部";
    QTest::newRow("member") << "member"
                            << QStringList { "名称", "支出", "支出百分比", "收入", "收入百分比", "合计", "合计百分比" }
                            << QList<int> { 200, 100, 100, 100, 100, 100, 100 }
                            << QStringList { "支出=expense", "收入=income" } << "报表"
                            << "全部";
    QTest::newRow("statistics") << "statistics" << QStringList { "日期", "支出", "收入", "合计" }
                                << QList<int> { 200, 150, 150, 150 } << QStringList {} << "导出"
                                << "2013";
}

void TestAnalysisPages::pageFormsAndCombos()
{
    QFETCH(QString, page);
    QFETCH(QStringList, headers);
    QFETCH(QList<int>, widths);
    QFETCH(QStringList, kinds);
    QFETCH(QString, exportText);
    QFETCH(QString, firstYear);
    AnalysisBook book;
    FileSetting::getInstance()->setValue(SettingKeys::AnalysisAllData, true);
    Shown shown(makeAnalysisPage(page));
    auto* table = shown.find<QTableWidget>(page == "statistics" ? "twBillStat" : "tableWidget");
    QStringList shownHeaders;
    for (int column = 0; column < table->columnCount(); ++column)
        shownHeaders << table->horizontalHeaderItem(column)->text();
    QCOMPARE(shownHeaders, headers);
    for (int column = 0; column < widths.size() - 1; ++column)
        QCOMPARE(table->columnWidth(column), widths.at(column));
    QCOMPARE(table->item(0, 1)->textAlignment(), int(Qt::AlignCenter));
    QCOMPARE(table->item(0, 0)->textAlignment() == int(Qt::AlignCenter), page == "statistics");
    QCOMPARE(shown.button("pbExport")->text(), exportText);
    QCOMPARE(shown.combo("cbYear")->itemText(0), firstYear);
    QCOMPARE(shown.combo("cbMonth")->itemText(0), QString("全年"));

    QComboBox* kind = shown.combo("cbKind");
    if (kinds.isEmpty()) {
        QVERIFY(!kind);
        // The statistics page never shows all years: it starts on this month whatever the setting.
        QCOMPARE(shown.combo("cbMonth")->currentText(), QString("5"));
        return;
    }
    QStringList items;
    for (int i = 0; i < kind->count(); ++i)
        items << kind->itemText(i) + "=" + kind->itemData(i).toString();
    QCOMPARE(items, kinds);
    auto* label = shown.find<QLabel>("lblKind");
    QVERIFY(!kind->isVisible() && !label->isVisible());
    shown.click("pbChart");
    QVERIFY(kind->isVisible() && label->isVisible());
    shown.click("pbReport");
    QVERIFY(!kind->isVisible() && !label->isVisible());
}

void TestAnalysisPages::accountFiguresByKind()
{
    AnalysisBook book;
    book.accountsWithATransfer();
    Shown shown(new WAccountAnalysis);
    QCOMPARE(shown.rows(),
        QStringList({ "工资卡 银行卡 0.00 1000.00 100.00 0.00 0.00 0.00 0.00 0.00 1100.00",
            "钱包 现金 -12.50 0.00 0.00 -100.00 0.00 0.00 0.00 0.00 -112.50",
            "信用卡 信用卡 0.00 0.00 0.00 0.00 0.00 0.00 0.00 0.00 0.00",
            "合计  -12.50 1000.00 100.00 -100.00 0.00 0.00 0.00 0.00 987.50" }));

    shown.click("pbChart");
    QVERIFY(shown.html().contains("data: [['工资卡',0.00],['钱包',-12.50],['信用卡',0.00]]"));
    shown.choose("cbKind", "transferIn");
    QVERIFY(shown.html().contains("data: [['工资卡',100.00],['钱包',0.00],['信用卡',0.00]]"));
    QVERIFY(shown.html().contains("text: '\\x3cb>2013\\x3c/b>年\\x3cb>5\\x3c/b>月账户\\x3cb>转入金额\\x3c/b>分析'"));
    shown.choose("cbYear", 0);
    QVERIFY(shown.html().contains("text: '账户\\x3cb>转入金额\\x3c/b>分析'"));

    shown.click("pbReport");
    QVERIFY(shown.html().contains("<title>账户分析</title>"));
    QVERIFY(shown.html().contains("<li>支出小计：-12.50</li><li>收入小计：1000.00</li><li>结余小计：987.50</li>"));
    QVERIFY(shown.html().contains("<tr><td>信用卡</td><td>信用卡</td><td>0.00</td>"));
    QVERIFY(shown.html().contains("<tr><td>合计</td><td></td><td>-12.50</td><td>1000.00</td><td>100.00</td>"
                                  "<td>-100.00</td><td>0.00</td><td>0.00</td><td>0.00</td><td>0.00</td>"
                                  "<td>987.50</td></tr>"));
    // Back in the chart, the kind chosen last is drawn.
    shown.click("pbChart");
    QCOMPARE(shown.combo("cbKind")->currentText(), QString("转入"));
}

void TestAnalysisPages::borrowerFiguresByLoanKind()
{
    AnalysisBook book;
    book.borrower("b1", "老王");
    book.borrower("b2", "小李");
    const QDate day(2013, 5, 3);
    book.bill("lend", -500, day, Ids { { "borrower_id", "b1" } });
    book.bill("refund", 200, day, Ids { { "borrower_id", "b1" } });
    book.bill("repay", -30, day, Ids { { "borrower_id", "b2" } });
    Shown shown(new WBorrowerAnalysis);
    QCOMPARE(shown.rows(),
        QStringList({ "老王 0.00 -500.00 0.00 200.00 -300.00", "小李 0.00 0.00 -30.00 0.00 -30.00",
            "合计 0.00 -500.00 -30.00 200.00 -330.00" }));

    shown.click("pbChart");
    QVERIFY(shown.html().contains("data: [['老王',-500.00],['小李',0.00]]"));
    shown.choose("cbKind", "repay");
    QVERIFY(shown.html().contains("data: [['老王',0.00],['小李',-30.00]]"));
    QVERIFY(shown.html().contains("text: '\\x3cb>2013\\x3c/b>年\\x3cb>5\\x3c/b>月借款人\\x3cb>还款\\x3c/b>分析'"));

    shown.click("pbReport");
    QVERIFY(shown.html().contains("<title>2013年5月借款人分析</title>"));
    QVERIFY(shown.html().contains("<ul class=\"summary\"></ul>"));
    QVERIFY(shown.html().contains("<tr><td>老王</td><td>0.00</td><td>-500.00</td><td>0.00</td><td>200.00</td>"
                                  "<td>-300.00</td></tr>"));
}

void TestAnalysisPages::memberFiguresAndShares()
{
    AnalysisBook book;
    book.member("m1", "自己");
    book.member("m2", "家人");
    const QDate day(2013, 5, 3);
    book.bill("expense", -300, day, Ids { { "member_id", "m1" } });
    book.bill("expense", -300, day, Ids { { "member_id", "m2" } });
    book.bill("income", 200, day, Ids { { "member_id", "m2" } });
    Shown shown(new WMemberAnalysis);
    const QStringList table = { "自己 -300.00 50.00% 0.00 0.00% -300.00 75.00%",
        "家人 -300.00 50.00% 200.00 100.00% -100.00 25.00%", "合计 -600.00 100.00% 200.00 100.00% -400.00 100.00%" };
    QCOMPARE(shown.rows(), table);

    shown.click("pbChart");
    QVERIFY(shown.rows().isEmpty());
    QVERIFY(shown.html().contains("data: [['自己',-300.00],['家人',-300.00]]"));
    shown.choose("cbKind", "income");
    QVERIFY(shown.html().contains("data: [['自己',0.00],['家人',200.00]]"));
    QVERIFY(shown.html().contains("月成员\\x3cb>收入\\x3c/b>分析'"));

    shown.click("pbReport");
    QVERIFY(shown.html().contains("<title>2013年5月成员分析</title>"));
    QVERIFY(shown.html().contains("<li>支出小计：-600.00</li><li>收入小计：200.00</li><li>结余小计：-400.00</li>"));
    QVERIFY(shown.html().contains("<tr><td>自己</td><td>50.00%</td><td>-300.00</td><td>0.00%</td><td>0.00</td>"
                                  "<td>75.00%</td><td>-300.00</td></tr>"));
    shown.click("pbTable");
    QCOMPARE(shown.rows(), table);
}

void TestAnalysisPages::statisticsByDayAndMonth()
{
    AnalysisBook book;
    book.bill("expense", -30, QDate(2013, 5, 7));
    book.bill("income", 100, QDate(2013, 5, 7));
    book.bill("expense", -90, QDate(2013, 1, 10));
    book.bill("income", 200, QDate(2013, 12, 1));
    book.bill("lend", -1000, QDate(2013, 5, 7));
    Shown shown(new WBillStat);
    QStringList rows = shown.rows();
    QCOMPARE(rows.size(), 32);
    QCOMPARE(rows.first(), QString("2013-05-01 0.00 0.00 0.00"));
    QCOMPARE(rows.at(6), QString("2013-05-07 -30.00 100.00 70.00"));
    QCOMPARE(rows.at(30), QString("2013-05-31 0.00 0.00 0.00"));
    QCOMPARE(rows.last(), QString("合计 -30.00 100.00 70.00"));

    shown.click("pbChart");
    QVERIFY(shown.html().contains("categories: [01,02,03,04,05,06,07,08,09,10,11,12,13,14,15,16,17,18,19,20,21,22,"
                                  "23,24,25,26,27,28,29,30,31]"));
    QVERIFY(shown.html().contains("data: [0.00,0.00,0.00,0.00,0.00,0.00,30.00,0.00,"));
    QVERIFY(shown.html().contains("data: [0.00,0.00,0.00,0.00,0.00,0.00,100.00,0.00,"));
    QVERIFY(shown.html().contains("text: '\\x3cb>2013\\x3c/b>年\\x3cb>5\\x3c/b>月账目汇总'"));

    shown.choose("cbMonth", 0);
    QVERIFY(shown.html().contains("categories: [01,02,03,04,05,06,07,08,09,10,11,12]"));
    shown.click("pbReport");
    QVERIFY(shown.html().contains("<title>2013年账目汇总</title>"));
    QVERIFY(shown.html().contains("<li>支出小计：-120.00</li><li>收入小计：300.00</li><li>结余小计：180.00</li>"));
    QVERIFY(shown.html().contains("<tr><td>201305</td><td>-30.00</td><td>100.00</td><td>70.00</td></tr>"));
    shown.click("pbTable");
    rows = shown.rows();
    QCOMPARE(rows.size(), 13);
    QCOMPARE(rows.first(), QString("201301 -90.00 0.00 -90.00"));
    QCOMPARE(rows.last(), QString("合计 -120.00 300.00 180.00"));
}

void TestAnalysisPages::statisticsKeepsItsMonthAcrossYears()
{
    AnalysisBook book;
    book.bill("expense", -5, QDate(2011, 3, 1));
    book.bill("expense", -7, QDate(2012, 3, 9));
    Shown shown(new WBillStat);
    QCOMPARE(WidgetTest::itemTexts(shown.combo("cbYear")), QStringList({ "2013", "2012", "2011" }));
    QCOMPARE(shown.combo("cbYear")->currentText(), QString("2013"));
    QCOMPARE(shown.rows().last(), QString("合计 0.00 0.00 0.00"));
    shown.choose("cbMonth", 3);
    shown.choose("cbYear", 2012);
    QVERIFY(shown.combo("cbMonth")->isEnabled());
    QCOMPARE(shown.combo("cbMonth")->currentText(), QString("3"));
    QCOMPARE(shown.rows().size(), 32);
    QCOMPARE(shown.rows().at(8), QString("2012-03-09 -7.00 0.00 -7.00"));
    shown.choose("cbYear", 2011);
    QCOMPARE(shown.rows().last(), QString("合计 -5.00 0.00 -5.00"));
}

void TestAnalysisPages::poorBooksShowZeros_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("book");
    QTest::addColumn<int>("entities");
    for (const char* page : { "account", "borrower", "member" }) {
        const int defaults = QString(page) == "borrower" ? 1 : 2;
        QTest::addRow("%s, empty book", page) << page << "empty" << 0;
        QTest::addRow("%s, default records", page) << page << "defaults" << defaults;
        QTest::addRow("%s, bills of deleted records", page) << page << "deleted" << defaults;
    }
    QTest::addRow("statistics, empty book") << "statistics"
                                            << "empty" << 31;
    QTest::addRow("statistics, bills dated elsewhere") << "statistics"
                                                       << "deleted" << 31;
}

void TestAnalysisPages::poorBooksShowZeros()
{
    QFETCH(QString, page);
    QFETCH(QString, book);
    QFETCH(int, entities);
    AnalysisBook analysis;
    if (book != "empty")
        QVERIFY(DBHelper::getInstance()->initDefaultData(QString()));
    if (book == "deleted") {
        for (const char* kind : { "expense", "income", "transfer", "lend", "refund" })
            analysis.bill(kind, -9, QDate(2013, 5, 4),
                Ids { { "account_id", "gone" }, { "to_account_id", "gone" }, { "borrower_id", "gone" },
                    { "member_id", "gone" }, { "date", "2013-06-31" } });
    }
    Shown shown(makeAnalysisPage(page));
    const QStringList rows = shown.rows();
    QCOMPARE(rows.size(), entities + 1);
    for (const QString& row : rows)
        QVERIFY2(QRegularExpression("^\\S+( (0\\.00%?|100\\.00%|现金|银行卡))*  ?(0\\.00%? ?)*$").match(row).hasMatch()
                || row.startsWith("合计"),
            qPrintable(row));
    QVERIFY(rows.last().startsWith("合计"));

    shown.click("pbChart");
    const QString chart = shown.html();
    if (page == "statistics")
        QCOMPARE(chart.count("0.00,") + 2, 2 * entities);
    else
        QCOMPARE(chart.count("['"), entities);
    shown.click("pbReport");
    const QString report = shown.html();
    QCOMPARE(report.count("<tr><td>"), entities + 1);
    for (const QString& html : { chart, report })
        QVERIFY2(!html.contains("nan", Qt::CaseInsensitive) && !html.contains("-0.00"), qPrintable(html));
}

void TestAnalysisPages::namesAreEscaped_data()
{
    QTest::addColumn<QString>("page");
    QTest::newRow("account") << "account";
    QTest::newRow("borrower") << "borrower";
    QTest::newRow("member") << "member";
}

void TestAnalysisPages::namesAreEscaped()
{
    QFETCH(QString, page);
    AnalysisBook book;
    const QString name = "Tom's <b>x</b>\ny";
    book.account("a", name);
    book.borrower("b", name);
    book.member("m", name);
    Shown shown(makeAnalysisPage(page));
    QVERIFY(shown.rows().first().startsWith(name + " "));
    shown.click("pbChart");
    QVERIFY(shown.html().contains("data: [['Tom\\'s \\x3cb>x\\x3c/b>\\ny',0.00]]"));
    shown.click("pbReport");
    QVERIFY(shown.html().contains("<tr><td>Tom's &lt;b&gt;x&lt;/b&gt;\ny</td>"));
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
    Shown shown;
    QTest::mouseClick(shown.button("pbReport"), Qt::LeftButton);
    QString answer = file;
    WAnalysisPage::setFileNameAsker([&answer](QWidget*) { return answer; });
    {
        // Owner-only whatever the umask lets through, and the user is told where it went.
        const ScopedUmask careless(0);
        ModalAnswerer boxes;
        boxes.expect("导出成功", "您已经成功导出报表：" + QDir::toNativeSeparators(file), "确定");
        QTest::mouseClick(shown.button("pbExport"), Qt::LeftButton);
        QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    }
    QCOMPARE(QFileInfo(file).permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner);
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

    // The save dialog starts where the user keeps documents, not in the folder the program was
    // started from.
    ModalAnswerer boxes;
    boxes.expect(ModalAnswerer::ofClass("QFileDialog"), [](QWidget* modal) {
        auto* dialog = static_cast<QFileDialog*>(modal);
        QCOMPARE(dialog->directory().absolutePath(), QDir(Constants::getDocumentsDir()).absolutePath());
        QVERIFY(QDir(Constants::getDocumentsDir()).absolutePath() != QDir::currentPath());
        dialog->reject();
    });
    QTest::mouseClick(shown.button("pbExport"), Qt::LeftButton);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));

    // Once a report went somewhere, the next one (and the next export of the bill list) starts
    // there, in this run and the next.
    const QString kept = folder.filePath("kept.html");
    boxes.expect(ModalAnswerer::ofClass("QFileDialog"), [&](QWidget* modal) {
        auto* dialog = static_cast<QFileDialog*>(modal);
        dialog->findChild<QLineEdit*>("fileNameEdit")->setText(kept);
        QMetaObject::invokeMethod(dialog, "accept");
    });
    boxes.expect("导出成功", "您已经成功导出报表：" + QDir::toNativeSeparators(kept), "确定");
    boxes.expect(ModalAnswerer::ofClass("QFileDialog"), [&](QWidget* modal) {
        auto* dialog = static_cast<QFileDialog*>(modal);
        QCOMPARE(dialog->directory().absolutePath(), QDir(folder.path()).absolutePath());
        dialog->reject();
    });
    QTest::mouseClick(shown.button("pbExport"), Qt::LeftButton);
    QTest::mouseClick(shown.button("pbExport"), Qt::LeftButton);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QVERIFY(QFileInfo(kept).isFile());
    QVERIFY(FileSetting::getInstance()->sync());
    QCOMPARE(QSettings(FileSetting::getInstance()->fileName(), QSettings::IniFormat).value("Folders/Export").toString(),
        QDir(folder.path()).absolutePath());
}

void TestAnalysisPages::withoutTheWebEngineTheFiguresStay()
{
    // This test program never prepared the web engine, so the pages must not start it.
    AnalysisBook book;
    Shown shown;
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

void TestAnalysisPages::columnsFitTheWidestFigure_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<bool>("wholeYear");
    for (const char* page : { "category", "account", "borrower", "member", "statistics" }) {
        QTest::newRow((QByteArray(page) + ", a month").constData()) << page << false;
        QTest::newRow((QByteArray(page) + ", a year").constData()) << page << true;
    }
}

// Every text of an analysis table, the totals' largest figures among them, is drawn whole in its
// column (a name up to the width a name column may take).
void TestAnalysisPages::columnsFitTheWidestFigure()
{
    QFETCH(QString, page);
    QFETCH(bool, wholeYear);
    AnalysisBook book;
    book.account("a1", "招商银行信用卡（尾号 8888）", "credit");
    book.account("a2", "钱包");
    book.category("c1", "交通出行", "expense");
    book.category("s1", "停车费和高速公路通行费", "expense", "c1");
    book.category("c2", "工资", "income");
    book.borrower("b1", "老王");
    book.member("m1", "爸爸");
    for (int day = 1; day <= 28; ++day) {
        const QDate date(2013, day % 2 ? 5 : 3, day);
        const Ids ids { { "account_id", "a1" }, { "to_account_id", "a2" }, { "category_id", "c1" },
            { "sub_category_id", "s1" }, { "borrower_id", "b1" }, { "member_id", "m1" } };
        for (const char* kind : { "expense", "transfer", "lend", "repay" })
            book.bill(kind, -987654.32 - day, date, ids);
        for (const char* kind : { "income", "borrow", "refund" })
            book.bill(kind, 8765432.19 + day, date, ids);
    }
    Shown shown(makeAnalysisPage(page));
    if (wholeYear)
        shown.choose("cbMonth", 0);

    auto* table = shown.find<QAbstractItemView>(page == "statistics" ? "twBillStat" : "tableWidget");
    const int margins = 2 * (table->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table) + 1);
    const QFontMetrics metrics(table->font());
    QAbstractItemModel* model = table->model();
    int checked = 0;
    const std::function<void(const QModelIndex&, int)> check = [&](const QModelIndex& parent, int depth) {
        for (int row = 0; row < model->rowCount(parent); ++row) {
            for (int column = 0; column < model->columnCount(parent); ++column) {
                const QModelIndex index = model->index(row, column, parent);
                const QString text = index.data().toString();
                int needed = metrics.horizontalAdvance(text) + margins;
                if (column == 0)
                    needed += depth * 20 + (page == "category" ? 20 : 0);
                const int width = page == "category" ? static_cast<QTreeView*>(table)->columnWidth(column)
                                                     : static_cast<QTableView*>(table)->columnWidth(column);
                if (column == 0 && needed > 320)
                    continue;
                QVERIFY2(
                    width >= needed, qPrintable(QString("%1 px for \"%2\" (%3 px)").arg(width).arg(text).arg(needed)));
                ++checked;
            }
            check(model->index(row, 0, parent), depth + 1);
        }
    };
    check(QModelIndex(), 0);
    QVERIFY(checked > 10);
}

// The bar's labels wear the pages' look (bold, 14 px) from the first visit on, as on every later one.
void TestAnalysisPages::labelsLookTheSameOnEveryVisit()
{
    AnalysisBook book;
    QFile sheet(":/rc/style/default.qss");
    QVERIFY(sheet.open(QIODevice::ReadOnly));
    qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));
    {
        UContent content;
        content.resize(1000, 600);
        content.switchPage("Book");
        content.show();
        QVERIFY(QTest::qWaitForWindowExposed(&content));
        const auto looks = [&](const char* pageName) {
            QStringList seen;
            auto* page = content.findChild<WAnalysisPage*>(pageName);
            for (const QLabel* label : page->findChildren<QLabel*>()) {
                if (label->isVisible())
                    seen << QString("%1 %2 %3 %4")
                                .arg(label->objectName(), label->text())
                                .arg(label->font().bold())
                                .arg(label->font().pixelSize());
            }
            return seen;
        };
        for (const char* button : { "pbAccountAnalysis", "pbBillStat" }) {
            QTest::mouseClick(content.findChild<QPushButton*>(button), Qt::LeftButton);
            const QString name = QString(button) == "pbBillStat" ? "wgtBillStat" : "wgtAccountAnalysis";
            const QStringList first = looks(qPrintable(name));
            QVERIFY(!first.isEmpty());
            for (const QString& label : first)
                QVERIFY2(label.endsWith(" 1 14"), qPrintable(label));
            QTest::mouseClick(content.findChild<QPushButton*>("tbBillList"), Qt::LeftButton);
            QTest::mouseClick(content.findChild<QPushButton*>(button), Qt::LeftButton);
            QCOMPARE(looks(qPrintable(name)), first);
        }
    }
    qApp->setStyleSheet(QString());
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
