#include <QTest>

#include "analysis/reporthelper.h"
#include "analysisbook.h"

using Ids = QVariantMap;

// The figures of the analyses, exact on small books.
class TestReportHelper : public QObject {
    Q_OBJECT

private slots:
    void yearList_data();
    void yearList();
    void yearCountsMonthsOfExpenseAndIncome();
    void monthHasOneRowPerDay_data();
    void monthHasOneRowPerDay();
    void monthAgreesWithTheYearView();
    void categoriesWithSubCategoriesAndShares();
    void categoriesOfTheOtherKindAndOrphansAreLeftOut();
    void categoryKindIsBoundNotPasted();
    void scopesChooseTheBills_data();
    void scopesChooseTheBills();
    void accountsByKindWithTransfersBothWays();
    void borrowersByLoanKind();
    void membersWithShares();
    void emptyBookGivesZerosAndTotalRows();
    void toHtmlRows_data();
    void toHtmlRows();
};

void TestReportHelper::yearList_data()
{
    QTest::addColumn<QVariantList>("months");
    QTest::addColumn<QList<int>>("years");
    QTest::newRow("no bills") << QVariantList {} << QList<int> { 2013 };
    QTest::newRow("earliest two years back")
        << QVariantList { 201203, 201111, 201305 } << QList<int> { 2013, 2012, 2011 };
    QTest::newRow("earliest ahead") << QVariantList { 201502, 201601 } << QList<int> { 2015, 2014, 2013 };
    // Months left by a broken import would otherwise run the list back to the year 0.
    QTest::newRow("implausible months") << QVariantList { 0, 5, "abc", 201207 } << QList<int> { 2013, 2012 };
    QTest::newRow("only implausible months") << QVariantList { 0, 5 } << QList<int> { 2013 };
}

void TestReportHelper::yearList()
{
    QFETCH(QVariantList, months);
    QFETCH(QList<int>, years);
    AnalysisBook book;
    for (const QVariant& month : months)
        book.bill("expense", -1, QDate(2012, 1, 1), Ids { { "month", month } });
    ReportHelper helper;
    QCOMPARE(helper.getYearList(), years);
    QCOMPARE(helper.getMonthList(), (QList<int> { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12 }));
}

void TestReportHelper::yearCountsMonthsOfExpenseAndIncome()
{
    AnalysisBook book;
    book.bill("expense", -30, QDate(2013, 5, 3));
    book.bill("income", 100, QDate(2013, 5, 28));
    book.bill("expense", -20.5, QDate(2013, 12, 31));
    // Other kinds and other years change nothing.
    for (const char* kind : { "transfer", "lend", "borrow", "refund", "repay" })
        book.bill(kind, -1000, QDate(2013, 5, 4));
    book.bill("expense", -7, QDate(2012, 5, 4));
    book.bill("income", 7, QDate(2014, 1, 1));

    const QList<MPeriodStat> rows = ReportHelper().statYear(2013);
    QCOMPARE(rows.size(), 13);
    QCOMPARE(rows.first().name, QString("201301"));
    QCOMPARE(rows.at(11).name, QString("201312"));
    QCOMPARE(rows.last().name, QString("合计"));
    QCOMPARE(rows.at(4).expense, -30.0);
    QCOMPARE(rows.at(4).income, 100.0);
    QCOMPARE(rows.at(4).total, 70.0);
    QCOMPARE(rows.at(11).total, -20.5);
    QCOMPARE(rows.at(0).total, 0.0);
    QCOMPARE(rows.last().expense, -50.5);
    QCOMPARE(rows.last().income, 100.0);
    QCOMPARE(rows.last().total, 49.5);
}

void TestReportHelper::monthHasOneRowPerDay_data()
{
    QTest::addColumn<int>("month");
    QTest::addColumn<int>("days");
    QTest::newRow("February") << 201302 << 28;
    QTest::newRow("February of a leap year") << 201202 << 29;
    QTest::newRow("April") << 201304 << 30;
    QTest::newRow("May") << 201305 << 31;
}

void TestReportHelper::monthHasOneRowPerDay()
{
    QFETCH(int, month);
    QFETCH(int, days);
    AnalysisBook book;
    const QDate last = QDate(month / 100, month % 100, days);
    book.bill("expense", -30, last);
    book.bill("income", 100, last);
    book.bill("lend", -500, last);

    const QList<MPeriodStat> rows = ReportHelper().statMonth(month);
    QCOMPARE(rows.size(), days + 1);
    QCOMPARE(rows.first().name, QDate(month / 100, month % 100, 1).toString("yyyy-MM-dd"));
    QCOMPARE(rows.at(days - 1).name, last.toString("yyyy-MM-dd"));
    QCOMPARE(rows.at(days - 1).total, 70.0);
    QCOMPARE(rows.last().name, QString("合计"));
    QCOMPARE(rows.last().expense, -30.0);
    QCOMPARE(rows.last().total, 70.0);
}

void TestReportHelper::monthAgreesWithTheYearView()
{
    AnalysisBook book;
    book.bill("expense", -10, QDate(2013, 2, 14));
    book.bill("income", 100, QDate(2013, 2, 14));
    // Kept in February's month but dated elsewhere (an import or a synchronisation makes such
    // bills): a day February has, a day past February's end, and no date at all.
    book.bill("expense", -2, QDate(2013, 3, 5), Ids { { "month", 201302 } });
    book.bill("income", 20, QDate(2012, 11, 5), Ids { { "month", 201302 } });
    book.bill("expense", -1, QDate(2013, 3, 30), Ids { { "month", 201302 } });
    book.bill("expense", -4, QDate(2013, 2, 1), Ids { { "month", 201302 }, { "date", "not a date" } });
    // Dated in February but kept in March: March's.
    book.bill("expense", -1000, QDate(2013, 2, 20), Ids { { "month", 201303 } });

    ReportHelper helper;
    const QList<MPeriodStat> days = helper.statMonth(201302);
    QCOMPARE(days.size(), 29);
    QCOMPARE(days.at(13).total, 90.0);
    // The day of the date's number, the month of the date not compared.
    QCOMPARE(days.at(4).expense, -2.0);
    QCOMPARE(days.at(4).income, 20.0);
    QCOMPARE(days.at(19).expense, 0.0);
    double dayRows = 0;
    for (int day = 0; day < 28; ++day)
        dayRows += days.at(day).total;
    QCOMPARE(dayRows, 108.0);

    const MPeriodStat february = helper.statYear(2013).at(1);
    const MPeriodStat& total = days.last();
    QCOMPARE(total.expense, february.expense);
    QCOMPARE(total.income, february.income);
    QCOMPARE(total.total, february.total);
    QCOMPARE(total.expense, -17.0);
    QCOMPARE(total.income, 120.0);
}

void TestReportHelper::categoriesWithSubCategoriesAndShares()
{
    AnalysisBook book;
    book.category("c1", "餐饮", "expense");
    book.category("s1", "早餐", "expense", "c1");
    book.category("s2", "午餐", "expense", "c1");
    book.category("s3", "晚餐", "expense", "c1");
    book.category("c2", "交通", "expense");
    book.bill("expense", -30, QDate(2013, 5, 1), Ids { { "category_id", "c1" }, { "sub_category_id", "s1" } });
    book.bill("expense", -50, QDate(2013, 5, 2), Ids { { "category_id", "c1" }, { "sub_category_id", "s2" } });
    book.bill("expense", -20, QDate(2013, 5, 3), Ids { { "category_id", "c1" }, { "sub_category_id", "" } });

    const QList<MCategoryStat> rows = ReportHelper().getCategoryData("expense", "month", 201305);
    QCOMPARE(rows.size(), 3);
    const MCategoryStat& food = rows.at(0);
    QCOMPARE(food.name, QString("餐饮"));
    QCOMPARE(food.kind, QString("expense"));
    QCOMPARE(food.count, 3);
    QCOMPARE(food.total, -100.0);
    QCOMPARE(food.ratio, 1.0);
    QCOMPARE(food.children.size(), size_t(3));
    QCOMPARE(food.children.at(0).total, -30.0);
    QCOMPARE(food.children.at(0).ratio, 0.3);
    QCOMPARE(food.children.at(1).count, 1);
    QCOMPARE(food.children.at(1).ratio, 0.5);
    QCOMPARE(food.children.at(2).count, 0);
    QCOMPARE(food.children.at(2).ratio, 0.0);
    QCOMPARE(rows.at(1).name, QString("交通"));
    QCOMPARE(rows.at(1).total, 0.0);
    QVERIFY(rows.at(1).children.empty());
    const MCategoryStat& total = rows.last();
    QCOMPARE(total.name, QString("合计"));
    QVERIFY(total.id.isEmpty());
    QCOMPARE(total.kind, QString("expense"));
    QCOMPARE(total.count, 3);
    QCOMPARE(total.total, -100.0);
    QCOMPARE(total.ratio, 1.0);
    QVERIFY(total.children.empty());
}

void TestReportHelper::categoriesOfTheOtherKindAndOrphansAreLeftOut()
{
    AnalysisBook book;
    book.category("c1", "餐饮", "expense");
    book.category("i1", "工资", "income");
    book.category("mixed", "搞错的", "income", "c1"); // a sub-category whose kind is not its parent's
    book.category("orphan", "孤儿", "expense", "gone");
    book.bill("expense", -40, QDate(2013, 5, 1), Ids { { "category_id", "c1" }, { "sub_category_id", "mixed" } });
    book.bill("income", 300, QDate(2013, 5, 1), Ids { { "category_id", "i1" } });
    book.bill("expense", -60, QDate(2013, 5, 1), Ids { { "category_id", "deleted" } });

    const QList<MCategoryStat> expense = ReportHelper().getCategoryData("expense", "all", 0);
    QCOMPARE(expense.size(), 2);
    QCOMPARE(expense.at(0).id, QString("c1"));
    QVERIFY(expense.at(0).children.empty());
    QCOMPARE(expense.at(0).total, -40.0);
    // The bill of the deleted category counts nowhere.
    QCOMPARE(expense.last().total, -40.0);
    QCOMPARE(expense.last().count, 1);

    const QList<MCategoryStat> income = ReportHelper().getCategoryData("income", "all", 0);
    QCOMPARE(income.size(), 2);
    QCOMPARE(income.at(0).name, QString("工资"));
    QCOMPARE(income.at(0).ratio, 1.0);
    QVERIFY(income.at(0).children.empty());
    QCOMPARE(income.last().kind, QString("income"));
    QCOMPARE(income.last().total, 300.0);
}

void TestReportHelper::categoryKindIsBoundNotPasted()
{
    AnalysisBook book;
    book.category("c1", "餐饮", "expense");
    const QList<MCategoryStat> rows = ReportHelper().getCategoryData("x' or '1'='1", "all", 0);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().name, QString("合计"));
}

void TestReportHelper::scopesChooseTheBills_data()
{
    QTest::addColumn<QString>("scope");
    QTest::addColumn<int>("value");
    QTest::addColumn<double>("expense");
    QTest::newRow("all") << "all" << 0 << -111.0;
    QTest::newRow("year") << "year" << 2013 << -11.0;
    QTest::newRow("month") << "month" << 201305 << -1.0;
    QTest::newRow("a month without bills") << "month" << 201307 << 0.0;
}

void TestReportHelper::scopesChooseTheBills()
{
    QFETCH(QString, scope);
    QFETCH(int, value);
    QFETCH(double, expense);
    AnalysisBook book;
    book.member("m1", "自己");
    book.bill("expense", -1, QDate(2013, 5, 31), Ids { { "member_id", "m1" } });
    book.bill("expense", -10, QDate(2013, 1, 1), Ids { { "member_id", "m1" } });
    book.bill("expense", -100, QDate(2012, 5, 5), Ids { { "member_id", "m1" } });
    QCOMPARE(ReportHelper().getMemberData(scope, value).first().expense, expense);
}

void TestReportHelper::accountsByKindWithTransfersBothWays()
{
    AnalysisBook book;
    book.accountsWithATransfer();
    const QDate day(2013, 5, 10);
    book.bill("lend", -500, day, Ids { { "account_id", "c" } });
    book.bill("borrow", 300, day, Ids { { "account_id", "c" } });
    book.bill("refund", 200, day, Ids { { "account_id", "c" } });
    book.bill("repay", -100, day, Ids { { "account_id", "c" } });
    book.bill("expense", -999, day, Ids { { "account_id", "deleted" } });
    book.bill("transfer", -50, day, Ids { { "account_id", "deleted" }, { "to_account_id", "a" } });

    const QList<MAccountStat> rows = ReportHelper().getAccountData("all", 0);
    QCOMPARE(rows.size(), 4);
    // Ordered by the kind key as text.
    QCOMPARE(rows.at(0).kind, QString("card"));
    QCOMPARE(rows.at(1).kind, QString("cash"));
    QCOMPARE(rows.at(2).kind, QString("credit"));
    const MAccountStat& card = rows.at(0);
    const MAccountStat& cash = rows.at(1);
    const MAccountStat& credit = rows.at(2);
    QCOMPARE(cash.transferOut, -100.0);
    QCOMPARE(cash.transferIn, 50.0);
    QCOMPARE(cash.expense, -12.5);
    QCOMPARE(cash.total, -62.5);
    QCOMPARE(card.transferIn, 100.0);
    QCOMPARE(card.income, 1000.0);
    QCOMPARE(card.total, 1100.0);
    QCOMPARE(credit.lend, -500.0);
    QCOMPARE(credit.borrow, 300.0);
    QCOMPARE(credit.refund, 200.0);
    QCOMPARE(credit.repay, -100.0);
    QCOMPARE(credit.total, -100.0);
    const MAccountStat& total = rows.last();
    QCOMPARE(total.name, QString("合计"));
    QVERIFY(total.kind.isEmpty());
    QCOMPARE(total.transferIn, 150.0);
    QCOMPARE(total.transferOut, -100.0);
    QCOMPARE(total.expense, -12.5);
    QCOMPARE(total.total, cash.total + card.total + credit.total);
}

void TestReportHelper::borrowersByLoanKind()
{
    AnalysisBook book;
    book.borrower("b1", "老王");
    book.borrower("b2", "小李");
    const QDate day(2013, 5, 10);
    book.bill("lend", -500, day, Ids { { "borrower_id", "b1" } });
    book.bill("refund", 200, day, Ids { { "borrower_id", "b1" } });
    book.bill("borrow", 80, day, Ids { { "borrower_id", "b2" } });
    book.bill("repay", -30, day, Ids { { "borrower_id", "b2" } });
    book.bill("expense", -5, day, Ids { { "borrower_id", "b2" } });
    book.bill("lend", -1000, day, Ids { { "borrower_id", "deleted" } });

    const QList<MBorrowerStat> rows = ReportHelper().getBorrowerData("year", 2013);
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows.at(0).lend, -500.0);
    QCOMPARE(rows.at(0).refund, 200.0);
    QCOMPARE(rows.at(0).total, -300.0);
    QCOMPARE(rows.at(1).borrow, 80.0);
    QCOMPARE(rows.at(1).repay, -30.0);
    QCOMPARE(rows.at(1).total, 50.0);
    QCOMPARE(rows.last().name, QString("合计"));
    QCOMPARE(rows.last().lend, -500.0);
    QCOMPARE(rows.last().borrow, 80.0);
    QCOMPARE(rows.last().total, -250.0);
}

void TestReportHelper::membersWithShares()
{
    AnalysisBook book;
    book.member("m1", "自己");
    book.member("m2", "家人");
    const QDate day(2013, 5, 10);
    book.bill("expense", -300, day, Ids { { "member_id", "m1" } });
    book.bill("expense", -300, day, Ids { { "member_id", "m2" } });
    book.bill("income", 200, day, Ids { { "member_id", "m2" } });
    book.bill("lend", -1000, day, Ids { { "member_id", "m1" } });

    const QList<MMemberStat> rows = ReportHelper().getMemberData("month", 201305);
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows.at(0).expenseRatio, 0.5);
    QCOMPARE(rows.at(0).incomeRatio, 0.0);
    QCOMPARE(rows.at(0).totalRatio, 0.75);
    QCOMPARE(rows.at(1).incomeRatio, 1.0);
    QCOMPARE(rows.at(1).total, -100.0);
    const MMemberStat& total = rows.last();
    QCOMPARE(total.expense, -600.0);
    QCOMPARE(total.income, 200.0);
    QCOMPARE(total.total, -400.0);
    QCOMPARE(total.expenseRatio, 1.0);
    QCOMPARE(total.incomeRatio, 1.0);
    QCOMPARE(total.totalRatio, 1.0);
}

void TestReportHelper::emptyBookGivesZerosAndTotalRows()
{
    AnalysisBook book;
    book.category("c1", "餐饮", "expense");
    book.account("a", "钱包");
    book.member("m1", "自己");
    ReportHelper helper;
    // Sums that cancel to nothing but float noise make no share either.
    book.bill("expense", -0.1, QDate(2013, 5, 1), Ids { { "category_id", "c1" }, { "member_id", "m1" } });
    book.bill("expense", -0.2, QDate(2013, 5, 1), Ids { { "category_id", "c1" }, { "member_id", "m1" } });
    book.bill("expense", 0.3, QDate(2013, 5, 1), Ids { { "category_id", "c1" }, { "member_id", "m1" } });

    const QList<MCategoryStat> categories = helper.getCategoryData("expense", "year", 2012);
    QCOMPARE(categories.size(), 2);
    QCOMPARE(categories.first().ratio, 0.0);
    QCOMPARE(categories.last().ratio, 1.0);
    QCOMPARE(helper.getCategoryData("expense", "month", 201305).first().ratio, 0.0);
    const QList<MMemberStat> members = helper.getMemberData("month", 201305);
    QCOMPARE(members.first().expenseRatio, 0.0);
    QCOMPARE(members.first().totalRatio, 0.0);
    QCOMPARE(members.last().totalRatio, 1.0);
    QCOMPARE(helper.getAccountData("year", 2012).size(), 2);
    QCOMPARE(helper.getBorrowerData("all", 0).size(), 1);
    const QList<MPeriodStat> year = helper.statYear(2012);
    QCOMPARE(year.size(), 13);
    QCOMPARE(year.last().total, 0.0);
}

void TestReportHelper::toHtmlRows_data()
{
    QTest::addColumn<QList<QStringList>>("rows");
    QTest::addColumn<QString>("html");
    QTest::newRow("two rows") << QList<QStringList> { { "a", "1.00" }, { "b", "2.00" } }
                              << "<tr><td>a</td><td>1.00</td></tr><tr><td>b</td><td>2.00</td></tr>";
    QTest::newRow("markup stays markup") << QList<QStringList> { { "<b>x</b>&nbsp;" } }
                                         << "<tr><td><b>x</b>&nbsp;</td></tr>";
    QTest::newRow("none") << QList<QStringList> {} << "";
}

void TestReportHelper::toHtmlRows()
{
    QFETCH(QList<QStringList>, rows);
    QFETCH(QString, html);
    QCOMPARE(ReportHelper::toHtmlRows(rows), html);
}

QTEST_GUILESS_MAIN(TestReportHelper)
#include "tst_reporthelper.moc"
