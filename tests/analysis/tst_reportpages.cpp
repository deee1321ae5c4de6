#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <cmath>
#include <limits>

#include "analysis/reportpages.h"

using Points = QList<QPair<QString, double>>;

// Filling the chart and report templates: what lands in the page and how it is escaped.
class TestReportPages : public QObject {
    Q_OBJECT

private slots:
    void templatesHoldTheirParts_data();
    void templatesHoldTheirParts();
    void piePoints_data();
    void piePoints();
    void pieTitleIsAScriptString();
    void columnCategoriesAndAbsoluteValues();
    void reportTitleSummaryAndRows();
    void filledTextIsNotSearchedAgain();
    void numbers_data();
    void numbers();
};

void TestReportPages::templatesHoldTheirParts_data()
{
    QTest::addColumn<QString>("resource");
    QTest::addColumn<QStringList>("parts");
    const QStringList chart = { "<title>Quorvane报表</title>", "src=\"qrc:/rc/chart/jquery.js\"",
        "src=\"qrc:/rc/chart/charts.js\"", "id=\"container\"", "'#title#'" };
    QTest::newRow("pie") << ":/rc/chart/pie.html" << (chart + QStringList { "data: [#data#]", "type: 'pie'" });
    QTest::newRow("column") << ":/rc/chart/column.html"
                            << (chart
                                   + QStringList { "categories: [#x#]", "data: [#yExpenses#]", "data: [#yIncomes#]",
                                       "name: '支出'", "name: '收入'" });
    const QStringList report = { "<title>#title#</title>", "<h1 class=\"headline\">#title#</h1>",
        "<ul class=\"summary\">#summary#</ul>", "</tr>\n#data#\n</table>", "charset=utf-8" };
    QTest::newRow("category report")
        << ":/rc/report/category.html"
        << (report
               + QStringList { "<b>分类明细 (单位 元)</b>",
                   "<tr><th>名称</th><th>类型</th><th>次数</th><th>百分比</th><th>金额</th></tr>" });
    QTest::newRow("account report") << ":/rc/report/account.html"
                                    << (report
                                           + QStringList { "<b>账户明细 (单位 元)</b>",
                                               "<tr><th>账户</th><th>类型</th><th>支出</th><th>收入</th><th>转入</th>"
                                               "<th>转出</th><th>借出</th><th>借入</th><th>收款</th><th>还款</th><th>"
                                               "合计</th></tr>" });
    QTest::newRow("borrower report")
        << ":/rc/report/borrower.html"
        << (report
               + QStringList { "<b>借款人明细 (单位 元)</b>",
                   "<tr><th>名称</th><th>借入</th><th>借出</th><th>还款</th><th>收款</th><th>合计</th></tr>" });
    QTest::newRow("member report") << ":/rc/report/member.html"
                                   << (report
                                          + QStringList { "<b>成员明细 (单位 元)</b>",
                                              "<tr><th>名称</th><th>支出百分比</th><th>支出</th><th>收入百分比</th>"
                                              "<th>收入</th><th>合计百分比</th><th>合计</th></tr>" });
    QTest::newRow("statistics report") << ":/rc/report/stat.html"
                                       << (report
                                              + QStringList { "<b>账目明细 (单位 元)</b>",
                                                  "<tr><th>名称</th><th>支出</th><th>收入</th><th>合计</th></tr>" });
}

void TestReportPages::templatesHoldTheirParts()
{
    QFETCH(QString, resource);
    QFETCH(QStringList, parts);
    const QString text = ReportPages::read(resource);
    for (const QString& part : parts)
        QVERIFY2(text.contains(part), qPrintable(part));
    // The chart script must not be strict: the data hold numbers such as 08.
    QVERIFY(!ReportPages::read(":/rc/chart/charts.js").contains("use strict"));
    QVERIFY(QFile::exists(":/rc/chart/jquery.js"));
}

void TestReportPages::piePoints_data()
{
    QTest::addColumn<Points>("points");
    QTest::addColumn<QString>("data");
    QTest::newRow("quote") << Points { { "Kid's toys", -12 } } << "['Kid\\'s toys',-12.00]";
    QTest::newRow("backslash") << Points { { "a\\b", 1.5 } } << "['a\\\\b',1.50]";
    QTest::newRow("end of script") << Points { { "</script><script>alert(1)</script>", 1 } }
                                   << "['\\x3c/script>\\x3cscript>alert(1)\\x3c/script>',1.00]";
    QTest::newRow("line breaks") << Points { { QString("a\nb\rc") + QChar(0x2028) + "d" + QChar(0x2029), 2 } }
                                 << "['a\\nb\\rc\\u2028d\\u2029',2.00]";
    QTest::newRow("placeholders in a name") << Points { { "%2 #title#", 0 } } << "['%2 #title#',0.00]";
    QTest::newRow("two points, no blank")
        << Points { { "餐饮", -30 }, { "交通", -0.001 } } << "['餐饮',-30.00],['交通',0.00]";
    QTest::newRow("not a number") << Points { { "x", std::numeric_limits<double>::quiet_NaN() } } << "['x',0.00]";
    QTest::newRow("no points") << Points {} << "";
}

void TestReportPages::piePoints()
{
    QFETCH(Points, points);
    QFETCH(QString, data);
    const QString page = ReportPages::piePage("<b>2013</b>年", points);
    QVERIFY2(page.contains("data: [" + data + "]"), qPrintable(page.mid(page.indexOf("data: ["), 120)));
}

void TestReportPages::pieTitleIsAScriptString()
{
    const QString page = ReportPages::piePage("<b>2013</b>年<b>5</b>月<b>支出</b>分类分析", {});
    QVERIFY(page.contains("text: '\\x3cb>2013\\x3c/b>年\\x3cb>5\\x3c/b>月\\x3cb>支出\\x3c/b>分类分析'"));
}

void TestReportPages::columnCategoriesAndAbsoluteValues()
{
    QStringList months;
    QList<double> expenses;
    QList<double> incomes;
    for (int month = 1; month <= 12; ++month) {
        months << QString::number(201300 + month);
        expenses << -month;
        incomes << month * 10.5;
    }
    const QString page = ReportPages::columnPage("<b>2013</b>年账目汇总", months, expenses, incomes);
    QVERIFY(page.contains("categories: [01,02,03,04,05,06,07,08,09,10,11,12]"));
    QVERIFY(page.contains("data: [1.00,2.00,3.00,4.00,5.00,6.00,7.00,8.00,9.00,10.00,11.00,12.00]"));
    QVERIFY(page.contains("data: [10.50,21.00,"));
    QVERIFY(page.contains("text: '\\x3cb>2013\\x3c/b>年账目汇总'"));

    const QString days = ReportPages::columnPage("t", { "2013-04-01", "2013-04-30" }, { -30, 0 }, { 100, 0 });
    QVERIFY(days.contains("categories: [01,30]"));
    QVERIFY(days.contains("data: [30.00,0.00]"));
}

void TestReportPages::reportTitleSummaryAndRows()
{
    const QString summary = ReportPages::summary(-120, 300, 180);
    QCOMPARE(summary, QString("<li>支出小计：-120.00</li><li>收入小计：300.00</li><li>结余小计：180.00</li>"));
    const QString page = ReportPages::reportPage(
        ":/rc/report/stat.html", summary, "<b>2013</b>年账目汇总", { { "201301", "-120.00" }, { "合计", "-120.00" } });
    QVERIFY(page.contains("<title>2013年账目汇总</title>"));
    QVERIFY(page.contains("<h1 class=\"headline\">2013年账目汇总</h1>"));
    QVERIFY(page.contains("<ul class=\"summary\">" + summary + "</ul>"));
    QVERIFY(page.contains("</tr>\n<tr><td>201301</td><td>-120.00</td></tr><tr><td>合计</td><td>-120.00</td></tr>\n"));
    QVERIFY(!page.contains(QRegularExpression("#[a-zA-Z]+#")));
}

void TestReportPages::filledTextIsNotSearchedAgain()
{
    // A user's text holding a placeholder stays as it is, in whichever order the placeholders stand.
    const QString page = ReportPages::reportPage(
        ":/rc/report/category.html", QString(), "<b>2013</b>年", { { "#title# #summary# #data#", "1" } });
    QVERIFY(page.contains("<td>#title# #summary# #data#</td>"));
    QCOMPARE(page.count("2013年"), 2);
    QCOMPARE(ReportPages::fill("#a##b# #c", { { "#a#", "#b#" }, { "#b#", "B" } }), QString("#b#B #c"));
}

void TestReportPages::numbers_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("amount");
    QTest::addColumn<QString>("share");
    QTest::newRow("negative") << -1250.0 << "-1250.00"
                              << "-125000.00%";
    QTest::newRow("fraction") << 0.3 << "0.30"
                              << "30.00%";
    QTest::newRow("float noise") << -1e-17 << "0.00"
                                 << "0.00%";
    QTest::newRow("rounds to zero") << -0.004 << "0.00"
                                    << "-0.40%";
    QTest::newRow("not a number") << std::nan("") << "0.00"
                                  << "0.00%";
    QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << "0.00"
                              << "0.00%";
}

void TestReportPages::numbers()
{
    QFETCH(double, value);
    QFETCH(QString, amount);
    QFETCH(QString, share);
    QCOMPARE(ReportPages::amountText(value), amount);
    QCOMPARE(ReportPages::shareText(value), share);
}

QTEST_GUILESS_MAIN(TestReportPages)
#include "tst_reportpages.moc"
