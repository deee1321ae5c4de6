#include <QAbstractItemModelTester>
#include <QColor>
#include <QFont>
#include <QIcon>
#include <QImage>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QTest>
#include <QTreeView>
#include <memory>
#include <sqlite3.h>

#include "billlistfixture.h"
#include "bills/mbillmodel.h"
#include "data/filesetting.h"
#include "data/maccount.h"
#include "data/mbill.h"
#include "testenv.h"

namespace {

const QDate friday(2013, 7, 5);

MBill* billAt(const QModelIndex& index)
{
    return static_cast<MBill*>(index.internalPointer());
}

// The descriptions of the bills on the page, day by day: "day: a b | day: c".
QString pageText(const MBillModel& model)
{
    QStringList days;
    for (int row = 0; row < model.rowCount(); ++row) {
        const QModelIndex day = model.index(row, 0);
        QStringList bills;
        for (int i = 0; i < model.rowCount(day); ++i)
            bills << billAt(model.index(i, 0, day))->getDescription();
        days << billAt(day)->getDate().toString("MM-dd") + ": " + bills.join(' ');
    }
    return days.join(" | ");
}

// n expenses described "0" … "n-1", newest first, perDay of them on each date going back.
void addBills(int n, int perDay = 1, const QDate& newest = QDate(2013, 7, 31))
{
    for (int i = n - 1; i >= 0; --i)
        addBill("expense", -1, newest.addDays(-(i / perDay)), { { "description", QString::number(i) } });
}

// Adds the bill of the current data row (its kind, amount and columns) on a Friday, and shows it.
void addRowBill(MBillModel* model)
{
    QFETCH(QString, kind);
    QFETCH(double, amount);
    QFETCH(QVariantMap, columns);
    addBill(kind, amount, friday, columns);
    model->refresh();
}

// Counts the statements that SQLite starts on the open book while it lives.
class StatementCounter {
public:
    StatementCounter()
    {
        const QVariant handle = QSqlDatabase::database().driver()->handle();
        db = *static_cast<sqlite3* const*>(handle.constData());
        sqlite3_trace_v2(db, SQLITE_TRACE_STMT, &StatementCounter::count, this);
    }
    ~StatementCounter() { sqlite3_trace_v2(db, 0, nullptr, nullptr); }
    StatementCounter(const StatementCounter&) = delete;
    StatementCounter& operator=(const StatementCounter&) = delete;

    QStringList statements;

private:
    static int count(unsigned, void* self, void*, void* sql)
    {
        static_cast<StatementCounter*>(self)->statements << QString::fromUtf8(static_cast<const char*>(sql));
        return 0;
    }

    sqlite3* db = nullptr;
};

QImage iconImage(const QVariant& decoration)
{
    return decoration.value<QIcon>().pixmap(10, 10).toImage();
}

} // namespace

class TestMBillModel : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void paging_data();
    void paging();
    void gotoPage_data();
    void gotoPage();
    void newConditionKeepsThePageWhileItExists();
    void daysStraddlingPagesHaveARowOnEach();
    void writesMoveBillsAcrossPages();
    void subtotalLine_data();
    void subtotalLine();
    void billCells_data();
    void billCells();
    void dayRowLooks();
    void toolTip_data();
    void toolTip();
    void colourSquare_data();
    void colourSquare();
    void dayRowsCannotBeSelected();
    void passesTheModelTester();
    void pagingUnderTheSameConditionRunsNoSql();
    void renamedRecordsShowWithoutReload();

private:
    std::unique_ptr<TestEnv> env;
    std::unique_ptr<TestBook> book;
};

void TestMBillModel::init()
{
    env = std::make_unique<TestEnv>();
    book = std::make_unique<TestBook>(env->dataDir() + "book.db");
    QVERIFY(book->isOpen());
    addReferences();
}

void TestMBillModel::cleanup()
{
    book.reset();
    env.reset();
}

void TestMBillModel::paging_data()
{
    QTest::addColumn<int>("bills");
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("pageCount");
    QTest::addColumn<int>("pageIndex");
    QTest::addColumn<QString>("shown");

    QTest::newRow("empty book") << 0 << 20 << 0 << 1 << 0 << "";
    QTest::newRow("one full page") << 20 << 20 << 0 << 1 << 0 << "0..19";
    QTest::newRow("third of three pages") << 45 << 20 << 2 << 3 << 2 << "40..44";
    QTest::newRow("beyond the last page") << 45 << 20 << 7 << 3 << 2 << "40..44";
    QTest::newRow("before the first page") << 45 << 20 << -4 << 3 << 0 << "0..19";
    QTest::newRow("one more than a page") << 21 << 20 << 1 << 2 << 1 << "20..20";
}

void TestMBillModel::paging()
{
    QFETCH(int, bills);
    QFETCH(int, pageSize);
    QFETCH(int, page);
    QFETCH(int, pageCount);
    QFETCH(int, pageIndex);
    QFETCH(QString, shown);

    addBills(bills);
    MBillModel model;
    model.setPageSize(pageSize);
    model.setPage(page);

    QCOMPARE(model.getPageCount(), pageCount);
    QCOMPARE(model.getPageIndex(), pageIndex);
    QCOMPARE(model.getBillList()->size(), bills);
    QStringList descriptions;
    for (int row = 0; row < model.rowCount(); ++row) {
        const QModelIndex day = model.index(row, 0);
        for (int i = 0; i < model.rowCount(day); ++i)
            descriptions << billAt(model.index(i, 0, day))->getDescription();
    }
    const QString range = descriptions.isEmpty() ? QString() : descriptions.first() + ".." + descriptions.last();
    QCOMPARE(range, shown);
    QCOMPARE(model.rowCount(), int(descriptions.size())); // one bill a day
}

void TestMBillModel::gotoPage_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<QString>("which");
    QTest::addColumn<int>("to");

    QTest::newRow("last") << 0 << "last" << 2;
    QTest::newRow("next on the last page") << 2 << "next" << 2;
    QTest::newRow("prev on the first page") << 0 << "prev" << 0;
    QTest::newRow("next") << 0 << "next" << 1;
    QTest::newRow("prev") << 2 << "prev" << 1;
    QTest::newRow("first") << 2 << "first" << 0;
    QTest::newRow("unknown word") << 1 << "middle" << 1;
}

void TestMBillModel::gotoPage()
{
    QFETCH(int, from);
    QFETCH(QString, which);
    QFETCH(int, to);

    addBills(45);
    MBillModel model;
    model.setPage(from);
    QCOMPARE(model.gotoPage(which), to);
    QCOMPARE(model.getPageIndex(), to);
}

void TestMBillModel::newConditionKeepsThePageWhileItExists()
{
    // July: 130 bills (7 pages of 20); June: 50 (3 pages).
    addBills(130, 5, QDate(2013, 7, 31));
    addBills(50, 5, QDate(2013, 6, 30));
    MBillModel model;
    model.setPage(5);
    QCOMPARE(model.getPageIndex(), 5);

    model.setCondition(" 1=1  and  month=201307 ");
    QCOMPARE(model.getPageCount(), 7);
    QCOMPARE(model.getPageIndex(), 5);

    model.setCondition(" 1=1  and  month=201306 ");
    QCOMPARE(model.getPageCount(), 3);
    QCOMPARE(model.getPageIndex(), 2);
}

void TestMBillModel::daysStraddlingPagesHaveARowOnEach()
{
    addBill("expense", -1, friday, { { "description", "a" } });
    addBill("expense", -2, friday.addDays(1), { { "description", "b" } });
    addBill("income", 10, friday.addDays(1), { { "description", "c" } });
    addBill("expense", -4, friday.addDays(1), { { "description", "d" } });
    MBillModel model;
    model.setPageSize(2);

    QCOMPARE(pageText(model), QString("07-06: d c"));
    QCOMPARE(model.data(model.index(0, 4)).toString(), QString("支出 -4.00 收入 +10.00  小计 +6.00  "));
    model.gotoPage("next");
    QCOMPARE(pageText(model), QString("07-06: b | 07-05: a"));
    QCOMPARE(model.data(model.index(0, 4)).toString(), QString("支出 -2.00  小计 -2.00  "));
    QCOMPARE(model.getDayRowCount(), 2);
    QCOMPARE(model.getDayRow(1)->getDate(), friday);
    QVERIFY(!model.getDayRow(2));
}

void TestMBillModel::writesMoveBillsAcrossPages()
{
    // 45 bills, one a day from 07-31 ("0") back to 06-17 ("44"), 20 a page. A write reads no whole
    // list again: the pages must still show the list as a fresh read of the book would.
    addBills(45);
    MBillModel model;
    model.setPageSize(20);
    model.setPage(1);
    const QString secondPage = "07-11: 20 | 07-10: 21 | 07-09: 22 | 07-08: 23 | 07-07: 24 | 07-06: 25 | 07-05: 26 | "
                               "07-04: 27 | 07-03: 28 | 07-02: 29 | 07-01: 30 | 06-30: 31 | 06-29: 32 | 06-28: 33 | "
                               "06-27: 34 | 06-26: 35 | 06-25: 36 | 06-24: 37 | 06-23: 38 | 06-22: 39";
    QCOMPARE(pageText(model), secondPage);
    const auto bill = [](const QString& description) {
        for (MBill* bill : *MBill::get(" 1=1 ")) {
            if (bill->getDescription() == description)
                return bill;
        }
        return static_cast<MBill*>(nullptr);
    };
    const auto moveTo = [](MBill* bill, const QDate& date) {
        bill->setDate(date);
        bill->setMonth(date.year() * 100 + date.month());
        QVERIFY(MBill::update(bill));
    };

    // From the second page to the top of the first, behind the older bill of its new day.
    moveTo(bill("30"), QDate(2013, 7, 31));
    model.refresh();
    QCOMPARE(pageText(model),
        "07-12: 19 | 07-11: 20 | 07-10: 21 | 07-09: 22 | 07-08: 23 | 07-07: 24 | 07-06: 25 | 07-05: 26 | 07-04: 27 | "
        "07-03: 28 | 07-02: 29 | 06-30: 31 | 06-29: 32 | 06-28: 33 | 06-27: 34 | 06-26: 35 | 06-25: 36 | 06-24: 37 | "
        "06-23: 38 | 06-22: 39");
    model.gotoPage("first");
    QCOMPARE(pageText(model).left(23), QString("07-31: 0 30 | 07-30: 1 "));

    // Onto the day that ends the first page: the day now straddles the two pages.
    moveTo(bill("19"), QDate(2013, 7, 13));
    model.refresh();
    QVERIFY(pageText(model).endsWith("07-14: 17 | 07-13: 18"));
    model.gotoPage("next");
    QVERIFY(pageText(model).startsWith("07-13: 19 | 07-11: 20 | "));
    QCOMPARE(model.data(model.index(0, 4)).toString(), QString("支出 -1.00  小计 -1.00  "));

    // One bill fewer: everything moves up by one, and the day is whole on the first page again.
    QVERIFY(MBill::remove(bill("0")));
    model.gotoPage("first");
    QVERIFY(pageText(model).startsWith("07-31: 30 | 07-30: 1 | "));
    QVERIFY(pageText(model).endsWith("07-13: 18 19"));
    QCOMPARE(model.getPageCount(), 3);

    // The pages hold every bill of the list once, in its order.
    QStringList shown;
    for (int page = 0; page < model.getPageCount(); ++page) {
        model.setPage(page);
        for (int day = 0; day < model.rowCount(); ++day) {
            for (int i = 0; i < model.rowCount(model.index(day, 0)); ++i)
                shown << billAt(model.index(i, 0, model.index(day, 0)))->getDescription();
        }
    }
    QStringList listed;
    for (const MBill* bill : *model.getBillList())
        listed << bill->getDescription();
    QCOMPARE(shown, listed);
    QCOMPARE(shown.size(), 44);
}

void TestMBillModel::subtotalLine_data()
{
    QTest::addColumn<QStringList>("kinds");
    QTest::addColumn<QList<double>>("amounts");
    QTest::addColumn<QString>("line");

    QTest::newRow("expense and income") << QStringList { "expense", "income" } << QList<double> { -35, 100 }
                                        << "支出 -35.00 收入 +100.00  小计 +65.00  ";
    QTest::newRow("transfer only") << QStringList { "transfer" } << QList<double> { -200.5 }
                                   << "转账 +200.50  小计 0.00  ";
    QTest::newRow("income cancels expense")
        << QStringList { "expense", "income" } << QList<double> { -50, 50 } << "支出 -50.00 收入 +50.00  小计 0.00  ";
    QTest::newRow("kinds in table order")
        << QStringList { "repay", "refund", "borrow", "lend", "expense" } << QList<double> { -1, 2, 3, -4, -5 }
        << "支出 -5.00 借出 -4.00 借入 +3.00 收款 +2.00 还款 -1.00  小计 -5.00  ";
    QTest::newRow("unknown kind counts nowhere")
        << QStringList { "expense", "gift" } << QList<double> { -35, 5 } << "支出 -35.00  小计 -35.00  ";
    QTest::newRow("float noise is no amount")
        << QStringList { "income", "income", "income" } << QList<double> { 0.1, 0.2, -0.3 } << " 小计 0.00  ";
    QTest::newRow("cents add up") << QStringList { "expense", "expense", "expense" }
                                  << QList<double> { -0.1, -0.2, -19.99 } << "支出 -20.29  小计 -20.29  ";
}

void TestMBillModel::subtotalLine()
{
    QFETCH(QStringList, kinds);
    QFETCH(QList<double>, amounts);
    QFETCH(QString, line);

    for (int i = 0; i < kinds.size(); ++i)
        addBill(kinds.at(i), amounts.at(i), friday);
    MBillModel model;
    model.refresh();
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.data(model.index(0, 4)).toString(), line);
}

void TestMBillModel::billCells_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<double>("amount");
    QTest::addColumn<QVariantMap>("columns");
    QTest::addColumn<QStringList>("cells");

    const QVariantMap lunch { { "category_id", "C1" }, { "sub_category_id", "S2" }, { "account_id", "A1" },
        { "member_id", "M1" }, { "title", "午饭" }, { "description", "面馆" } };
    QTest::newRow("expense") << "expense" << -35.0 << lunch
                             << QStringList { "餐饮 午餐", "支出 -35.00", "现金", "自己", "午饭 面馆" };
    QTest::newRow("income") << "income" << 8000.5
                            << QVariantMap { { "category_id", "C2" }, { "sub_category_id", "S3" },
                                   { "account_id", "A2" }, { "member_id", "M2" } }
                            << QStringList { "工资 月薪", "收入 8000.50", "银行卡", "家人", "" };
    QTest::newRow("transfer with a member id")
        << "transfer" << -200.0
        << QVariantMap { { "account_id", "A1" }, { "to_account_id", "A2" }, { "member_id", "M1" } }
        << QStringList { "银行卡", "转账 -200.00", "现金", "", "" };
    QTest::newRow("loan") << "lend" << -1000.0
                          << QVariantMap { { "account_id", "A1" }, { "borrower_id", "B2" }, { "member_id", "M1" },
                                 { "description", "月底还" } }
                          << QStringList { "老李", "借出 -1000.00", "现金", "", "月底还" };
    QTest::newRow("refund") << "refund" << 12.3 << QVariantMap { { "account_id", "A1" }, { "borrower_id", "B1" } }
                            << QStringList { "小王", "收款 12.30", "现金", "", "" };
    QTest::newRow("title only") << "expense" << -1.0
                                << QVariantMap { { "category_id", "C1" }, { "sub_category_id", "S1" },
                                       { "account_id", "A1" }, { "title", "早饭" } }
                                << QStringList { "餐饮 早餐", "支出 -1.00", "现金", "", "早饭 " };
    QTest::newRow("sub-category gone") << "expense" << -1.0
                                       << QVariantMap { { "category_id", "C1" }, { "sub_category_id", "S9" },
                                              { "account_id", "A1" } }
                                       << QStringList { "餐饮 出错啦~~~", "支出 -1.00", "现金", "", "" };
    QTest::newRow("category and account gone") << "income" << 1.0
                                               << QVariantMap { { "category_id", "C9" }, { "sub_category_id", "S3" },
                                                      { "account_id", "A9" }, { "member_id", "M9" } }
                                               << QStringList { "出错啦~~~ 月薪", "收入 1.00", "出错啦~~~", "", "" };
    QTest::newRow("target account gone") << "transfer" << -5.0
                                         << QVariantMap { { "account_id", "A1" }, { "to_account_id", "A9" } }
                                         << QStringList { "出错啦~~~", "转账 -5.00", "现金", "", "" };
    QTest::newRow("unknown kind") << "gift" << -1.0 << QVariantMap { { "account_id", "A1" }, { "borrower_id", "B1" } }
                                  << QStringList { "小王", " -1.00", "现金", "", "" };
}

void TestMBillModel::billCells()
{
    QFETCH(QStringList, cells);

    MBillModel model;
    addRowBill(&model);
    const QModelIndex day = model.index(0, 0);
    QStringList shown;
    for (int column = 0; column < model.columnCount(day); ++column)
        shown << model.data(model.index(0, column, day)).toString();
    QCOMPARE(shown, cells);
    QVERIFY(!model.data(model.index(0, 1, day), Qt::FontRole).isValid());
}

void TestMBillModel::dayRowLooks()
{
    addBill("expense", -35, friday);
    MBillModel model;
    model.refresh();
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QString("分类/借款人/转入账户"));
    QCOMPARE(model.headerData(4, Qt::Horizontal).toString(), QString("标题/描述"));

    const QModelIndex day = model.index(0, 0);
    QCOMPARE(model.data(day).toString(), QString("2013-07-05 星期五"));
    for (int column = 1; column < 4; ++column)
        QVERIFY(!model.data(model.index(0, column)).isValid());
    QVERIFY(model.data(model.index(0, 2), Qt::FontRole).value<QFont>().bold());
    QCOMPARE(model.data(model.index(0, 4), Qt::TextAlignmentRole).toInt(), int(Qt::AlignRight | Qt::AlignVCenter));
    QVERIFY(!model.data(day, Qt::TextAlignmentRole).isValid());
    // The whole line, for a row too narrow to show it.
    QCOMPARE(model.data(day, Qt::ToolTipRole).toString(), QString("2013-07-05 星期五  支出 -35.00  小计 -35.00"));

    const QImage open = QIcon(":/rc/images/BtnTreeOpen.png").pixmap(10, 10).toImage();
    const QImage closed = QIcon(":/rc/images/BtnTreeClosed.png").pixmap(10, 10).toImage();
    QVERIFY(open != closed);
    QCOMPARE(iconImage(model.data(day, Qt::DecorationRole)), open);
    billAt(day)->setExpanded(false);
    QCOMPARE(iconImage(model.data(day, Qt::DecorationRole)), closed);
    QVERIFY(!model.data(model.index(0, 1), Qt::DecorationRole).isValid());
}

void TestMBillModel::toolTip_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<double>("amount");
    QTest::addColumn<QVariantMap>("columns");
    QTest::addColumn<QString>("tip");

    QTest::newRow("expense")
        << "expense" << -35.0
        << QVariantMap { { "category_id", "C1" }, { "sub_category_id", "S1" }, { "account_id", "A1" },
               { "member_id", "M1" } }
        << "日期：2013-07-05 星期五\r\n支出：-35.00元\r\n分类：餐饮 - 早餐\r\n账户：现金\r\n成员：自己";
    QTest::newRow("title and description")
        << "income" << 10.0
        << QVariantMap { { "category_id", "C2" }, { "sub_category_id", "S3" }, { "account_id", "A2" },
               { "title", "工资" }, { "description", "七月" } }
        << "日期：2013-07-05 星期五\r\n收入：10.00元\r\n分类：工资 - 月薪\r\n账户：银行卡\r\n成员：\r\n工资\r\n七月";
    QTest::newRow("missing records drop their names")
        << "expense" << -1.0
        << QVariantMap { { "category_id", "C9" }, { "sub_category_id", "S1" }, { "account_id", "A9" },
               { "member_id", "M9" } }
        << "日期：2013-07-05 星期五\r\n支出：-1.00元\r\n分类： - 早餐\r\n成员：";
    QTest::newRow("transfer") << "transfer" << -200.5
                              << QVariantMap { { "account_id", "A1" }, { "to_account_id", "A2" } }
                              << "日期：2013-07-05 星期五\r\n转账：-200.50元\r\n转入账户：银行卡\r\n账户：现金";
    QTest::newRow("loan without borrower")
        << "borrow" << 500.0 << QVariantMap { { "account_id", "A1" }, { "borrower_id", "B9" } }
        << "日期：2013-07-05 星期五\r\n借入：500.00元\r\n\r\n账户：现金";
}

void TestMBillModel::toolTip()
{
    QFETCH(QString, tip);

    MBillModel model;
    addRowBill(&model);
    const QModelIndex day = model.index(0, 0);
    for (int column = 0; column < 5; ++column)
        QCOMPARE(model.data(model.index(0, column, day), Qt::ToolTipRole).toString(), tip);
}

void TestMBillModel::colourSquare_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QColor>("colour");

    QTest::newRow("expense default") << "expense"
                                     << "" << QColor(Qt::red);
    QTest::newRow("expense stored") << "expense"
                                    << "#0000ff" << QColor(Qt::blue);
    QTest::newRow("income default") << "income"
                                    << "" << QColor(Qt::green);
    QTest::newRow("transfer default") << "transfer"
                                      << "" << QColor(Qt::yellow);
    QTest::newRow("borrow stored") << "borrow"
                                   << "#123456" << QColor("#123456");
    QTest::newRow("repay default") << "repay"
                                   << "" << QColor(Qt::lightGray);
    QTest::newRow("unknown kind") << "gift"
                                  << "" << QColor(Qt::white);
}

void TestMBillModel::colourSquare()
{
    QFETCH(QString, kind);
    QFETCH(QString, stored);
    QFETCH(QColor, colour);

    addBill(kind, -1, friday);
    MBillModel model;
    model.refresh();
    const QModelIndex bill = model.index(0, 0, model.index(0, 0));
    const QString key = kind == "borrow" ? "Color/BorrowColor" : "Color/ExpenseColor";
    if (!stored.isEmpty())
        FileSetting::getInstance()->setValue(key, stored);

    // Read at every request: a colour stored after the population shows.
    const QImage square = iconImage(model.data(bill, Qt::DecorationRole));
    QCOMPARE(square.size(), QSize(10, 10));
    QCOMPARE(square.pixelColor(5, 5), colour);
    QVERIFY(!model.data(model.index(0, 1, model.index(0, 0)), Qt::DecorationRole).isValid());
}

void TestMBillModel::dayRowsCannotBeSelected()
{
    addBill("expense", -1, friday);
    addBill("expense", -2, friday.addDays(1));
    addBill("income", 3, friday.addDays(1));
    MBillModel model;
    QTreeView view;
    view.setSelectionMode(QAbstractItemView::ExtendedSelection);
    view.setModel(&model);
    model.refresh();
    view.expandAll();

    QVERIFY(!(model.flags(model.index(0, 0)) & Qt::ItemIsSelectable));
    QVERIFY(model.flags(model.index(0, 0)) & Qt::ItemIsEnabled);
    view.selectAll();
    const QModelIndexList selected = view.selectionModel()->selectedRows();
    QCOMPARE(selected.size(), 3);
    for (const QModelIndex& index : selected)
        QVERIFY(!billAt(index)->isDayRow());
}

void TestMBillModel::pagingUnderTheSameConditionRunsNoSql()
{
    // With 100,000 bills every statement here would read the whole book: paging, resizing and
    // refreshing a list whose condition is unchanged must be served from the loaded list.
    addBills(45, 3);
    MBillModel model;
    QTreeView view;
    view.setModel(&model);
    view.resize(800, 600);
    model.setCondition(" 1=1 ");
    view.expandAll();
    view.grab(); // the names of the records are loaded once

    StatementCounter counter;
    model.setPage(1);
    model.gotoPage("next");
    model.gotoPage("last");
    model.gotoPage("prev");
    model.gotoPage("first");
    model.setPageSize(12);
    model.refresh();
    model.setCondition(" 1=1 ");
    view.expandAll();
    view.grab();
    for (const QModelIndex& bill : { model.index(0, 0, model.index(0, 0)), model.index(0, 4, model.index(0, 0)) })
        model.data(bill, Qt::ToolTipRole);
    QCOMPARE(counter.statements, QStringList());
    QCOMPARE(model.getPageCount(), 4);
}

void TestMBillModel::passesTheModelTester()
{
    addBills(45, 4);
    addBill("transfer", -3, QDate(2013, 7, 31));
    MBillModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setPageSize(7);
    model.gotoPage("next");
    model.gotoPage("last");
    model.setCondition(" 1=1  and  kind='transfer' ");
    model.setCondition(" 1=1 ");
    model.setPageSize(30);
    MBill::clearCache();
    model.refresh();
    QCOMPARE(model.getPageCount(), 2);
}

void TestMBillModel::renamedRecordsShowWithoutReload()
{
    addBill("expense", -1, friday, { { "category_id", "C1" }, { "sub_category_id", "S1" }, { "account_id", "A1" } });
    MBillModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.refresh();
    const QModelIndex bill = model.index(0, 2, model.index(0, 0));
    QCOMPARE(model.data(bill).toString(), QString("现金"));

    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    MAccount* account = MAccount::getById("A1");
    account->setName("零钱");
    QVERIFY(MAccount::update(account));
    QVERIFY(changed.size() > 0);
    QCOMPARE(reset.size(), 0);
    QCOMPARE(model.data(bill).toString(), QString("零钱"));
}

QTEST_MAIN(TestMBillModel)
#include "tst_mbillmodel.moc"
