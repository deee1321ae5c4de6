#include <QSqlQuery>
#include <QTest>

#include "data/maccount.h"
#include "data/mbill.h"
#include "data/mcategory.h"
#include "data/notifier.h"
#include "data/sqlhelper.h"
#include "notifierrecorder.h"
#include "testenv.h"

namespace {

MBill* newBill(const QDate& date, double amount = -10, const QString& title = QString())
{
    auto* bill = new MBill;
    bill->setKind("expense");
    bill->setAmount(amount);
    bill->setDescription("");
    bill->setDate(date);
    bill->setMonth(date.year() * 100 + date.month());
    bill->setTitle(title);
    return bill;
}

QStringList titles(const QList<MBill*>& bills)
{
    QStringList result;
    for (const MBill* bill : bills)
        result << bill->getTitle();
    return result;
}

} // namespace

class TestMBill : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void conditionCacheAndSignal();
    void failedQueryYieldsAnEmptyCachedList();
    void reloadsRefreshTheSameBills();
    void newestFirst();
    void fieldsRoundTrip();
    void reloadReadsEveryColumnAsStored();
    void updateKeepsADateThatNamesNoDay();
    void insertAlwaysGivesANewId();
    void monthSignalOnlyWhenTheSetOfMonthsChanges_data();
    void monthSignalOnlyWhenTheSetOfMonthsChanges();
    void firstMonthListIsTheReference();
    void changeChainOrder();
    void batchRunsTheChangeChainOnce();
    void writesOfUnknownBillsStillSignal();
    void removeClearsAStaleTombstone();
    void cloneCopiesTheDataOnly();
    void dateThatIsNoDateSurvivesAWrite_data();
    void dateThatIsNoDateSurvivesAWrite();
    void lookups();
    void quotedLiteralsMatchOnlyThemselves_data();
    void quotedLiteralsMatchOnlyThemselves();
    void quotingHelpers();

private:
    std::unique_ptr<TestEnv> env;
    std::unique_ptr<TestBook> book;
    std::vector<std::unique_ptr<MBill>> owned;
};

void TestMBill::init()
{
    env = std::make_unique<TestEnv>();
    book = std::make_unique<TestBook>(env->dataDir() + "book.db");
    QVERIFY(book->isOpen());
}

void TestMBill::cleanup()
{
    owned.clear();
    book.reset();
    env.reset();
}

void TestMBill::conditionCacheAndSignal()
{
    addBillRow("expense", -1, QDate(2024, 1, 1), { { "title", "一月" } });
    addBillRow("income", 2, QDate(2024, 2, 1), { { "title", "二月" } });
    NotifierRecorder recorder;

    QCOMPARE(MBill::get("")->size(), 0); // equals the initial null condition: no signal, invalid SQL
    QVERIFY(recorder.signalList.isEmpty());

    QList<MBill*>* all = MBill::get(" 1=1 ");
    QCOMPARE(all->size(), 2);
    QCOMPARE(recorder.signalList, QStringList({ "condition:  1=1 " }));
    QCOMPARE(MBill::get(" 1=1 "), all); // cached: no SQL, no signal
    addBillRow("expense", -3, QDate(2024, 3, 1));
    QCOMPARE(MBill::get(" 1=1 ")->size(), 2);
    QCOMPARE(recorder.signalList.size(), 1);

    QList<MBill*>* january = MBill::get(" 1=1  and month=202401");
    QCOMPARE(titles(*january), QStringList({ "一月" }));
    QCOMPARE(all->size(), 2); // a list of another condition keeps its bills
    QCOMPARE(recorder.signalList.last(), QString("condition:  1=1  and month=202401"));

    recorder.clear();
    MBill::clearCache();
    QVERIFY(january->isEmpty());
    QCOMPARE(january->capacity(), 0); // an emptied list keeps no memory, however many bills it had
    QList<MBill*>* again = MBill::get(" 1=1  and month=202401"); // same condition: reload, no signal
    QCOMPARE(again->size(), 1);
    QVERIFY(!recorder.signalList.contains("condition:  1=1  and month=202401"));
    MBill::get(" 1=1 ");
    QCOMPARE(recorder.signalList.last(), QString("condition:  1=1 "));
}

void TestMBill::failedQueryYieldsAnEmptyCachedList()
{
    addBillRow("expense", -1, QDate(2024, 1, 1));
    QList<MBill*>* broken = MBill::get(" 1=1 and no_such_column=1");
    QVERIFY(broken->isEmpty());
    QCOMPARE(MBill::get(" 1=1 and no_such_column=1"), broken);
}

void TestMBill::reloadsRefreshTheSameBills()
{
    addBillRow("expense", -1, QDate(2024, 1, 1), { { "title", "a" } });
    addBillRow("expense", -2, QDate(2024, 1, 2), { { "title", "b" } });
    const QList<MBill*> first = *MBill::get(" 1=1 ");
    QCOMPARE(first.size(), 2);
    MBill* held = first.last();

    // However often the list reloads, each bill stays one object: memory does not grow with reloads.
    for (int i = 0; i < 5; ++i) {
        MBill::clearCache();
        QCOMPARE(*MBill::get(" 1=1 "), first);
    }

    // A pointer held across a write shows the bill as stored now.
    held->setTitle("renamed");
    QVERIFY(MBill::update(held));
    QVERIFY(QSqlQuery().exec("update tbl_bill set amount=-7 where title='renamed'"));
    MBill::clearCache();
    QCOMPARE(MBill::get(" 1=1 ")->last(), held);
    QCOMPARE(held->getTitle(), QString("renamed"));
    QCOMPARE(held->getAmount(), -7.0);

    // A deleted bill leaves the list but its object stays readable.
    QVERIFY(MBill::remove(held));
    QCOMPARE(MBill::get(" 1=1 ")->size(), 1);
    QCOMPARE(held->getTitle(), QString("renamed"));
}

void TestMBill::newestFirst()
{
    addBillRow("expense", -1, QDate(2024, 1, 2), { { "title", "old day" }, { "created_time", "2024-01-09 00:00:00" } });
    addBillRow("expense", -1, QDate(2024, 1, 3), { { "title", "early" }, { "created_time", "2024-01-03 08:00:00" } });
    addBillRow("expense", -1, QDate(2024, 1, 3), { { "title", "late" }, { "created_time", "2024-01-03 09:00:00" } });
    addBillRow("expense", -1, QDate(2023, 12, 31), { { "title", "last year" } });
    QCOMPARE(titles(*MBill::get(" 1=1 ")), QStringList({ "late", "early", "old day", "last year" }));
}

void TestMBill::fieldsRoundTrip()
{
    MBill bill;
    bill.setKind("transfer");
    bill.setAmount(-1234.56);
    bill.setDescription("房租\n第二行");
    bill.setDate(QDate(2013, 5, 7));
    bill.setMonth(201305);
    bill.setCategoryId("c");
    bill.setSubCategoryId("s");
    bill.setAccountId("a");
    bill.setToAccountId("b");
    bill.setBorrowerId("o");
    bill.setMemberId("m");
    bill.setTitle("标题");
    QVERIFY(MBill::insert(&bill));
    QCOMPARE(scalar("select date from tbl_bill").toString(), QString("2013-05-07"));
    QVERIFY(!scalar("select created_time from tbl_bill").toString().isEmpty());

    const MBill* loaded = MBill::get(" 1=1 ")->first();
    QCOMPARE(loaded->getId(), bill.getId());
    QCOMPARE(loaded->getAmount(), -1234.56);
    QCOMPARE(loaded->getDescription(), QString("房租\n第二行"));
    QCOMPARE(loaded->getDate(), QDate(2013, 5, 7));
    QCOMPARE(loaded->getMonth(), 201305);
    QCOMPARE(QStringList({ loaded->getCategoryId(), loaded->getSubCategoryId(), loaded->getAccountId(),
                 loaded->getToAccountId(), loaded->getBorrowerId(), loaded->getMemberId(), loaded->getKind(),
                 loaded->getTitle() }),
        QStringList({ "c", "s", "a", "b", "o", "m", "transfer", "标题" }));

    std::unique_ptr<MBill> changed(loaded->clone());
    changed->setId(bill.getId());
    changed->setAmount(-1);
    changed->setDate(QDate(2014, 1, 1));
    changed->setMonth(201401);
    QVERIFY(MBill::update(changed.get()));
    QCOMPARE(
        scalar("select amount||'/'||date||'/'||month from tbl_bill").toString(), QString("-1.0/2014-01-01/201401"));
}

void TestMBill::reloadReadsEveryColumnAsStored()
{
    // Columns left to their defaults hold the number 0 or nothing; a reload must read what is stored
    // now, also where a text kept its length.
    const QString id = addBillRow("expense", -3, QDate(2024, 2, 29), { { "title", "abc" }, { "description", "早饭" } });
    const MBill* bill = MBill::get(" 1=1 ")->first();
    QCOMPARE(bill->getId(), id);
    QCOMPARE(bill->getCategoryId(), QString("0"));
    QCOMPARE(bill->getAccountId(), QString("0"));
    QVERIFY(bill->getBorrowerId().isNull());
    QCOMPARE(bill->getDate(), QDate(2024, 2, 29));
    QCOMPARE(bill->getMonth(), 202402);

    QVERIFY(execAll({ "update tbl_bill set title='abd', description='午饭', amount=7, account_id='02', "
                      "borrower_id='', date='2024-03-01', month=202403" }));
    MBill::clearCache();
    QCOMPARE(MBill::get(" 1=1 ")->first(), bill);
    QCOMPARE(bill->getTitle(), QString("abd"));
    QCOMPARE(bill->getDescription(), QString("午饭"));
    QCOMPARE(bill->getAmount(), 7.0);
    QCOMPARE(bill->getAccountId(), QString("02"));
    QVERIFY(!bill->getBorrowerId().isNull());
    QVERIFY(bill->getBorrowerId().isEmpty());
    QCOMPARE(bill->getDate(), QDate(2024, 3, 1));
    QCOMPARE(bill->getMonth(), 202403);
}

void TestMBill::updateKeepsADateThatNamesNoDay()
{
    // Such a date reads as no date at all; a change to another field (a bulk change of the account)
    // must neither lose the bill's date nor fail.
    const QString id = addBillRow("expense", -3, QDate(2024, 2, 1), { { "date", "2024-02-30" } });
    MBill* bill = MBill::get(" 1=1 ")->first();
    QVERIFY(!bill->getDate().isValid());
    QCOMPARE(MBill::getStoredDate(id), QString("2024-02-30"));
    bill->setAccountId("02");
    QVERIFY(MBill::update(bill));
    QCOMPARE(
        scalar("select date||'/'||month||'/'||account_id from tbl_bill").toString(), QString("2024-02-30/202402/02"));
}

void TestMBill::insertAlwaysGivesANewId()
{
    MBill* bill = newBill(QDate(2024, 1, 1));
    owned.emplace_back(bill);
    bill->setId("mine");
    QVERIFY(MBill::insert(bill));
    const QString first = bill->getId();
    QVERIFY(isGeneratedId(first));
    QVERIFY(MBill::insert(bill)); // the same object again: a second row
    QVERIFY(bill->getId() != first);
    QCOMPARE(scalar("select count(*) from tbl_bill").toInt(), 2);

    MBill dateless;
    dateless.setKind("expense");
    dateless.setDescription("");
    QVERIFY(!MBill::insert(&dateless)); // date is required
    QVERIFY(!dateless.getId().isEmpty());
}

void TestMBill::monthSignalOnlyWhenTheSetOfMonthsChanges_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("monthSignals");
    QTest::newRow("first bill of a new month") << "insert 2024-03" << 1;
    QTest::newRow("another bill in a month") << "insert 2024-01" << 0;
    QTest::newRow("last bill of a month deleted") << "remove february" << 1;
    QTest::newRow("one of two bills of a month deleted") << "remove one of january" << 0;
    QTest::newRow("moved to a new month") << "move february to 2024-04" << 1;
    QTest::newRow("moved between existing months") << "move one of january to 2024-02" << 0;
    QTest::newRow("moved out of its month into another") << "move february to 2024-01" << 1;
}

void TestMBill::monthSignalOnlyWhenTheSetOfMonthsChanges()
{
    QFETCH(QString, change);
    QFETCH(int, monthSignals);
    MBill* january1 = newBill(QDate(2024, 1, 5));
    MBill* january2 = newBill(QDate(2024, 1, 6));
    MBill* february = newBill(QDate(2024, 2, 5));
    owned.emplace_back(january1);
    owned.emplace_back(january2);
    owned.emplace_back(february);
    for (MBill* bill : { january1, january2, february })
        QVERIFY(MBill::insert(bill));
    QCOMPARE(*MBill::getMonthList(), QList<int>({ 202402, 202401 }));

    NotifierRecorder recorder;
    const QStringList words = change.split(' ');
    MBill* target = change.contains("february") ? february : january1;
    if (words[0] == "insert") {
        MBill* bill = newBill(QDate::fromString(words[1] + "-15", Qt::ISODate));
        owned.emplace_back(bill);
        QVERIFY(MBill::insert(bill));
    } else if (words[0] == "remove") {
        QVERIFY(MBill::remove(target));
    } else {
        const QDate date = QDate::fromString(words.last() + "-15", Qt::ISODate);
        target->setDate(date);
        target->setMonth(date.year() * 100 + date.month());
        QVERIFY(MBill::update(target));
    }
    QCOMPARE(recorder.count("bill"), 1);
    QCOMPARE(recorder.count("months"), monthSignals);
}

void TestMBill::firstMonthListIsTheReference()
{
    addBillRow("expense", -1, QDate(2024, 1, 1));
    NotifierRecorder recorder;
    MBill::clearCache(); // no list built before: this one becomes the reference, nothing to compare
    QCOMPARE(recorder.signalList, QStringList({ "bill" }));
    addBillRow("expense", -1, QDate(2024, 2, 1));
    MBill::clearCache();
    QCOMPARE(recorder.signalList, QStringList({ "bill", "bill", "months" }));
    QVERIFY(execAll({ "delete from tbl_bill" }));
    MBill::clearCache(); // every month gone
    QCOMPARE(recorder.count("months"), 2);
    QVERIFY(MBill::getMonthList()->isEmpty());
}

void TestMBill::changeChainOrder()
{
    // Listeners of billDataChanged run before the balances are recomputed and see a dropped cache.
    QVERIFY(execAll({ "insert into tbl_account (id, name, kind, amount, sort) values ('A', '现金', 'cash', 100, 1)" }));
    MAccount* account = MAccount::getById("A");
    QList<MBill*>* list = MBill::get(" 1=1 ");
    double balanceSeen = 0;
    int rowsSeen = -1;
    QObject listener;
    connect(Notifier::getInstance(), &Notifier::billDataChanged, &listener, [&] {
        balanceSeen = account->getBalance();
        rowsSeen = MBill::get(" 1=1 ")->size();
    });
    MBill* bill = newBill(QDate(2024, 1, 1), -30);
    owned.emplace_back(bill);
    bill->setAccountId("A");
    QVERIFY(MBill::insert(bill));
    QCOMPARE(balanceSeen, 100.0);
    QCOMPARE(rowsSeen, 1);
    QCOMPARE(account->getBalance(), 70.0);
    QVERIFY(list->isEmpty());
}

void TestMBill::batchRunsTheChangeChainOnce()
{
    addBillRow("expense", -1, QDate(2024, 1, 1), { { "title", "a" } });
    addBillRow("expense", -2, QDate(2024, 1, 2), { { "title", "b" } });
    addBillRow("income", 3, QDate(2024, 2, 1), { { "title", "c" } });
    const QList<MBill*> bills = *MBill::get(" 1=1 ");
    MBill::getMonthList();
    NotifierRecorder recorder;
    {
        MBill::Batch outer;
        {
            MBill::Batch inner;
            bills.at(1)->setTitle("changed");
            QVERIFY(MBill::update(bills.at(1)));
        }
        QVERIFY(recorder.signalList.isEmpty()); // an inner batch does not end the outer one
        for (MBill* bill : bills) {
            if (bill->getMonth() == 202402)
                QVERIFY(MBill::remove(bill));
        }
        QVERIFY(recorder.signalList.isEmpty());
    }
    // Once for all writes, and the months once since February lost its last bill.
    QCOMPARE(recorder.signalList, QStringList({ "bill", "months" }));
    QCOMPARE(MBill::get(" 1=1 ")->size(), 2);
    QCOMPARE(scalar("select count(*) from tbl_bill where title='changed'").toInt(), 1);

    // A batch without writes announces nothing.
    recorder.clear();
    {
        MBill::Batch idle;
    }
    QVERIFY(recorder.signalList.isEmpty());
}

void TestMBill::writesOfUnknownBillsStillSignal()
{
    addBillRow("expense", -1, QDate(2024, 1, 1));
    MBill* ghost = newBill(QDate(2024, 1, 1));
    owned.emplace_back(ghost);
    ghost->setId("ghost");
    NotifierRecorder recorder;
    QVERIFY(MBill::update(ghost));
    QVERIFY(MBill::remove(ghost));
    QCOMPARE(recorder.signalList, QStringList({ "bill", "bill" }));
    QCOMPARE(scalar("select count(*) from tbl_bill").toInt(), 1);
    QCOMPARE(scalar("select count(*) from tbl_bill_deleted").toInt(), 0);
}

void TestMBill::removeClearsAStaleTombstone()
{
    const QString id = addBillRow("expense", -5, QDate(2024, 1, 1), { { "title", "现在的" } });
    QVERIFY(execAll({ "insert into tbl_bill_deleted (id, amount, description, date, month, kind, title) values ('" + id
        + "', -1, '', '2020-01-01', 202001, 'expense', '以前的')" }));
    MBill* bill = MBill::get(" 1=1 ")->first();
    QVERIFY(MBill::remove(bill));
    QCOMPARE(scalar("select count(*) from tbl_bill").toInt(), 0);
    QCOMPARE(scalar("select group_concat(title) from tbl_bill_deleted").toString(), QString("现在的"));
    QCOMPARE(bill->getTitle(), QString("现在的")); // the object stays valid
}

void TestMBill::cloneCopiesTheDataOnly()
{
    MBill original;
    original.setId("id");
    original.setKind("lend");
    original.setAmount(-50);
    original.setDescription("d");
    original.setDate(QDate(2024, 6, 1));
    original.setMonth(202406);
    original.setBorrowerId("o");
    original.setTitle("t");
    original.setDayRow(true);
    original.setExpanded(false);
    original.setParent(&original);
    original.getChildren()->append(&original);
    std::unique_ptr<MBill> copy(original.clone());
    QVERIFY(copy->getId().isNull());
    QCOMPARE(copy->getAmount(), -50.0);
    QCOMPARE(copy->getDate(), QDate(2024, 6, 1));
    QCOMPARE(copy->getMonth(), 202406);
    QCOMPARE(copy->getBorrowerId(), QString("o"));
    QCOMPARE(copy->getKind(), QString("lend"));
    QCOMPARE(copy->getTitle(), QString("t"));
    QVERIFY(copy->getChildren()->isEmpty());
    QVERIFY(copy->isExpanded());
    QVERIFY(!copy->isDayRow());
    QCOMPARE(copy->getParent(), nullptr);
    QCOMPARE(copy->parent(), nullptr);
}

void TestMBill::dateThatIsNoDateSurvivesAWrite_data()
{
    QTest::addColumn<QString>("stored");
    QTest::newRow("another program's form") << "2013/5/11";
    QTest::newRow("no such day") << "2024-02-30";
    QTest::newRow("empty") << "";
}

void TestMBill::dateThatIsNoDateSurvivesAWrite()
{
    // The import copies another program's dates as they stand; a bulk change of such bills
    // rewrites their other fields and must neither fail nor lose the date.
    QFETCH(QString, stored);
    const QString id = addBillRow("expense", -5, QDate(2024, 3, 1), { { "account_id", "01" } });
    QVERIFY(execAll({ "update tbl_bill set date=" + sqlText(stored) + " where id=" + sqlText(id) }));
    MBill::clearCache();
    const QList<MBill*> bills = *MBill::get(" 1=1 ");
    QCOMPARE(bills.size(), 1);
    MBill* bill = bills.first();
    QVERIFY(!bill->getDate().isValid());

    bill->setAccountId("02");
    QVERIFY(MBill::update(bill));
    QCOMPARE(scalar("select date from tbl_bill where id=" + sqlText(id)).toString(), stored);
    QCOMPARE(scalar("select account_id from tbl_bill where id=" + sqlText(id)).toString(), QString("02"));
    std::unique_ptr<MBill> copy(bill->clone());
    QVERIFY(MBill::insert(copy.get()));
    QCOMPARE(scalar("select date from tbl_bill where id=" + sqlText(copy->getId())).toString(), stored);

    // A date the user gives replaces it.
    bill->setDate(QDate(2024, 4, 2));
    QVERIFY(MBill::update(bill));
    QCOMPARE(scalar("select date from tbl_bill where id=" + sqlText(id)).toString(), QString("2024-04-02"));
}

void TestMBill::lookups()
{
    QVERIFY(execAll({ "insert into tbl_account (id, name, kind, amount, sort) values ('A', '现金', 'cash', 0, 1)",
        "insert into tbl_category (id, name, kind, sort) values ('c', '餐饮', 'expense', 1)",
        "insert into tbl_sub_category (id, category_id, name, kind, sort) values ('s', 'c', '午餐', 'expense', 1)" }));
    MBill bill;
    bill.setAccountId("A");
    bill.setCategoryId("c");
    bill.setSubCategoryId("s");
    QCOMPARE(bill.getAccount(), MAccount::getById("A"));
    QCOMPARE(bill.getToAccount(), nullptr);
    QCOMPARE(bill.getCategory()->getName(), QString("餐饮"));
    QCOMPARE(bill.getSubCategory()->getName(), QString("午餐"));
    QCOMPARE(bill.getBorrower(), nullptr);
    QCOMPARE(bill.getMember(), nullptr);
    bill.setCategoryId("s"); // a sub-category's id is no top category
    QCOMPARE(bill.getCategory(), nullptr);
}

void TestMBill::quotedLiteralsMatchOnlyThemselves_data()
{
    QTest::addColumn<QString>("search");
    QTest::addColumn<QStringList>("found");
    QTest::newRow("quote") << "O'Brien" << QStringList({ "O'Brien" });
    QTest::newRow("percent") << "100%" << QStringList({ "100%" });
    QTest::newRow("underscore") << "a_b" << QStringList({ "a_b" });
    QTest::newRow("backslash") << "C:\\x" << QStringList({ "C:\\x" });
    QTest::newRow("injection") << "' or 1=1 --" << QStringList({ "' or 1=1 --" });
    QTest::newRow("chinese part") << "饭" << QStringList({ "午饭" });
    QTest::newRow("nothing matches") << "%'_\\" << QStringList();
}

void TestMBill::quotedLiteralsMatchOnlyThemselves()
{
    QFETCH(QString, search);
    QFETCH(QStringList, found);
    for (const char* title :
        { "O'Brien", "OBrien", "100%", "1000", "a_b", "axb", "C:\\x", "C:x", "' or 1=1 --", "午饭" })
        addBillRow("expense", -1, QDate(2024, 1, 1), { { "title", QString::fromUtf8(title) } });
    const QString contains = " 1=1  and title like " + sqlContains(search);
    QCOMPARE(titles(*MBill::get(contains)), found);
    const QString equals = " 1=1  and title=" + sqlText(search);
    QCOMPARE(MBill::get(equals)->size(), found.contains(search) ? 1 : 0);
    QCOMPARE(scalar("select count(*) from tbl_bill").toInt(), 10); // nothing else ran
}

void TestMBill::quotingHelpers()
{
    QCOMPARE(sqlText("O'Brien"), QString("'O''Brien'"));
    QCOMPARE(sqlText(QString()), QString("''"));
    QCOMPARE(sqlText("''"), QString("''''''"));
    QCOMPARE(sqlContains("5%_\\'"), QString("'%5\\%\\_\\\\''%' escape '\\'"));
}

QTEST_GUILESS_MAIN(TestMBill)
#include "tst_mbill.moc"
