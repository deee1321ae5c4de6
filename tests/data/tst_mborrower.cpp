#include <QTest>

#include "data/mbill.h"
#include "data/mborrower.h"
#include "notifierrecorder.h"
#include "testenv.h"

class TestMBorrower : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void balances_data();
    void balances();
    void balanceDropsToZeroWithTheLastBill();
    void argumentOfGetPlaysNoPart();
    void kindColumnIsNeverWritten();
    void insertGivesIdAndPlace_data();
    void insertGivesIdAndPlace();
    void writesOfUnknownIdsChangeNothingButSignal();
    void removeClearsAStaleTombstone();

private:
    std::unique_ptr<TestEnv> env;
    std::unique_ptr<TestBook> book;
};

void TestMBorrower::init()
{
    env = std::make_unique<TestEnv>();
    book = std::make_unique<TestBook>(env->dataDir() + "book.db");
    QVERIFY(execAll({ "insert into tbl_borrower (id, name, sort) values ('zhang', '张三', 1)",
        "insert into tbl_borrower (id, name, sort) values ('li', '李四', 2)" }));
}

void TestMBorrower::cleanup()
{
    book.reset();
    env.reset();
}

void TestMBorrower::balances_data()
{
    // Bills as "kind amount borrower".
    QTest::addColumn<QStringList>("bills");
    QTest::addColumn<double>("zhang");
    QTest::addColumn<double>("li");
    QTest::newRow("no bills") << QStringList() << 0.0 << 0.0;
    QTest::newRow("lend then refund") << QStringList({ "lend -500 zhang", "refund 200 zhang" }) << -300.0 << 0.0;
    QTest::newRow("borrow then repay") << QStringList({ "borrow 1000 li", "repay -400 li" }) << 0.0 << 600.0;
    QTest::newRow("bills of a removed borrower") << QStringList({ "lend -5 gone", "expense -3 " }) << 0.0 << 0.0;
}

void TestMBorrower::balances()
{
    QFETCH(QStringList, bills);
    QFETCH(double, zhang);
    QFETCH(double, li);
    for (const QString& bill : bills) {
        const QStringList parts = bill.split(' ');
        addBillRow(parts[0], parts[1].toDouble(), QDate(2024, 5, 1), { { "borrower_id", parts[2] } });
    }
    QCOMPARE(MBorrower::getById("zhang")->getBalance(), zhang);
    QCOMPARE(MBorrower::getById("li")->getBalance(), li);
}

void TestMBorrower::balanceDropsToZeroWithTheLastBill()
{
    MBorrower* zhang = MBorrower::getById("zhang");
    MBill bill;
    bill.setKind("lend");
    bill.setAmount(-500);
    bill.setDescription("");
    bill.setDate(QDate(2024, 5, 1));
    bill.setMonth(202405);
    bill.setBorrowerId("zhang");
    NotifierRecorder recorder;
    QVERIFY(MBill::insert(&bill));
    QCOMPARE(zhang->getBalance(), -500.0);
    QCOMPARE(MBorrower::getBillCount("zhang"), 1);
    QVERIFY(MBill::remove(&bill));
    QCOMPARE(zhang->getBalance(), 0.0); // not the stale -500
    QCOMPARE(recorder.count("borrower"), 0);
}

void TestMBorrower::argumentOfGetPlaysNoPart()
{
    QList<MBorrower*>* list = MBorrower::get("");
    QCOMPARE(MBorrower::get("debtor"), list);
    QCOMPARE(list->size(), 2);
    QCOMPARE(list->at(1)->getName(), QString("李四"));
    QCOMPARE(MBorrower::indexOf(list->at(1)), 1);
}

void TestMBorrower::kindColumnIsNeverWritten()
{
    QVERIFY(execAll({ "update tbl_borrower set kind='creditor' where id='zhang'" }));
    MBorrower changed = *MBorrower::getById("zhang");
    changed.setName("张三丰");
    QVERIFY(MBorrower::update(&changed));
    QCOMPARE(
        scalar("select name||'/'||kind from tbl_borrower where id='zhang'").toString(), QString("张三丰/creditor"));

    MBorrower added;
    added.setName("王五");
    QVERIFY(MBorrower::insert(&added));
    QVERIFY(scalar("select kind from tbl_borrower where name='王五'").isNull());
}

void TestMBorrower::insertGivesIdAndPlace_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<int>("sort");
    QTest::addColumn<int>("storedSort");
    QTest::newRow("fixed id, sort given") << "01" << 1 << 1;
    QTest::newRow("null id, no sort") << QString() << int(MBorrower::SortNotSet) << 3;
    QTest::newRow("empty id, sort 0") << "" << 0 << 0;
}

void TestMBorrower::insertGivesIdAndPlace()
{
    QFETCH(QString, id);
    QFETCH(int, sort);
    QFETCH(int, storedSort);
    MBorrower borrower;
    QCOMPARE(borrower.getBalance(), 0.0);
    borrower.setId(id);
    borrower.setName("新人");
    if (sort != MBorrower::SortNotSet)
        borrower.setSort(sort);
    QVERIFY(MBorrower::insert(&borrower));
    if (id.isEmpty())
        QVERIFY(isGeneratedId(borrower.getId()));
    else
        QCOMPARE(borrower.getId(), id);
    QCOMPARE(borrower.getSort(), storedSort);
    QCOMPARE(MBorrower::getById(borrower.getId())->getSort(), storedSort);
}

void TestMBorrower::writesOfUnknownIdsChangeNothingButSignal()
{
    NotifierRecorder recorder;
    MBorrower nobody;
    nobody.setId("nobody");
    nobody.setName("无");
    nobody.setSort(1);
    QVERIFY(MBorrower::update(&nobody));
    QVERIFY(MBorrower::remove("nobody"));
    QCOMPARE(recorder.signalList, QStringList({ "borrower", "borrower" }));
    QCOMPARE(scalar("select group_concat(id) from (select id from tbl_borrower order by sort)").toString(),
        QString("zhang,li"));
}

void TestMBorrower::removeClearsAStaleTombstone()
{
    QVERIFY(execAll({ "insert into tbl_borrower_deleted (id, name, sort) values ('zhang', '旧张三', 1)" }));
    QVERIFY(MBorrower::remove("zhang"));
    QCOMPARE(scalar("select count(*) from tbl_borrower where id='zhang'").toInt(), 0);
    QCOMPARE(scalar("select group_concat(name) from tbl_borrower_deleted").toString(), QString("张三"));
}

QTEST_GUILESS_MAIN(TestMBorrower)
#include "tst_mborrower.moc"
