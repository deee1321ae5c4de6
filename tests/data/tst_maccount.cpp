#include <QSqlQuery>
#include <QTest>

#include "data/maccount.h"
#include "data/mbill.h"
#include "notifierrecorder.h"
#include "testenv.h"

namespace {

MAccount* addAccount(const QString& id, const QString& name, double amount, int sort)
{
    auto* account = new MAccount;
    account->setId(id);
    account->setName(name);
    account->setKind("cash");
    account->setAmount(amount);
    account->setSort(sort);
    MAccount::insert(account);
    return account;
}

} // namespace

class TestMAccount : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void balances_data();
    void balances();
    void billWritesMoveBalancesWithoutAccountSignal();
    void idsOnInsert_data();
    void idsOnInsert();
    void newAccountsGoLast();
    void cacheIsKeptUntilAWrite();
    void indexFollowsTheRowById();
    void writesReportTheirOutcomeAndAlwaysSignal_data();
    void writesReportTheirOutcomeAndAlwaysSignal();
    void removeClearsAStaleTombstone();

private:
    std::unique_ptr<TestEnv> env;
    std::unique_ptr<TestBook> book;
    std::vector<std::unique_ptr<MAccount>> owned;
};

void TestMAccount::init()
{
    env = std::make_unique<TestEnv>();
    book = std::make_unique<TestBook>(env->dataDir() + "book.db");
    QVERIFY(book->isOpen());
}

void TestMAccount::cleanup()
{
    owned.clear();
    book.reset();
    env.reset();
}

void TestMAccount::balances_data()
{
    // Bills as "kind amount account [target]"; A starts with 100, B with 0.
    QTest::addColumn<QStringList>("bills");
    QTest::addColumn<double>("balanceA");
    QTest::addColumn<double>("balanceB");
    QTest::addColumn<int>("billCountB");
    QTest::newRow("no bills") << QStringList() << 100.0 << 0.0 << 0;
    QTest::newRow("expense") << QStringList({ "expense -30 A" }) << 70.0 << 0.0 << 0;
    QTest::newRow("income") << QStringList({ "income 50 A" }) << 150.0 << 0.0 << 0;
    // A transfer's target is in use: it may not be removed while the transfer names it.
    QTest::newRow("transfer A to B") << QStringList({ "transfer -100 A B" }) << 0.0 << 100.0 << 1;
    QTest::newRow("B only a target") << QStringList({ "transfer -40 A B", "transfer -2.5 A B" }) << 57.5 << 42.5 << 2;
    QTest::newRow("B's own bills") << QStringList({ "expense -10 B", "transfer -5 B A" }) << 105.0 << -15.0 << 2;
    QTest::newRow("bills of a removed account")
        << QStringList({ "expense -7 gone", "transfer -3 gone A" }) << 103.0 << 0.0 << 0;
}

void TestMAccount::balances()
{
    QFETCH(QStringList, bills);
    QFETCH(double, balanceA);
    QFETCH(double, balanceB);
    QFETCH(int, billCountB);
    owned.emplace_back(addAccount("A", "现金", 100, 1));
    owned.emplace_back(addAccount("B", "银行卡", 0, 2));
    for (const QString& bill : bills) {
        const QStringList parts = bill.split(' ');
        QVariantMap columns { { "account_id", parts[2] } };
        if (parts.size() > 3)
            columns["to_account_id"] = parts[3];
        addBillRow(parts[0], parts[1].toDouble(), QDate(2024, 3, 1), columns);
    }
    MAccount::clearCache();
    QCOMPARE(MAccount::getById("A")->getBalance(), balanceA);
    QCOMPARE(MAccount::getById("B")->getBalance(), balanceB);
    QCOMPARE(MAccount::getBillCount("B"), billCountB);
    // A recomputation in place gives the same figures.
    MAccount::calculateBalance();
    QCOMPARE(MAccount::getById("A")->getBalance(), balanceA);
}

void TestMAccount::billWritesMoveBalancesWithoutAccountSignal()
{
    owned.emplace_back(addAccount("A", "现金", 100, 1));
    MAccount* cached = MAccount::getById("A");
    NotifierRecorder recorder;
    MBill bill;
    bill.setKind("expense");
    bill.setAmount(-30);
    bill.setDescription("");
    bill.setDate(QDate(2024, 3, 1));
    bill.setMonth(202403);
    bill.setAccountId("A");
    QVERIFY(MBill::insert(&bill));
    QCOMPARE(cached->getBalance(), 70.0);
    QVERIFY(MBill::remove(&bill));
    QCOMPARE(cached->getBalance(), 100.0); // the last bill gone: back to the initial amount
    QCOMPARE(recorder.count("account"), 0);
    QCOMPARE(MAccount::getById("A"), cached);
}

void TestMAccount::idsOnInsert_data()
{
    QTest::addColumn<QString>("id");
    QTest::newRow("fixed id") << "01";
    QTest::newRow("null id") << QString();
    QTest::newRow("empty id") << "";
}

void TestMAccount::idsOnInsert()
{
    QFETCH(QString, id);
    MAccount account;
    account.setId(id);
    account.setName("钱包");
    account.setKind("cash");
    QVERIFY(MAccount::insert(&account));
    if (id.isEmpty())
        QVERIFY2(isGeneratedId(account.getId()), qPrintable(account.getId()));
    else
        QCOMPARE(account.getId(), id);
    QCOMPARE(scalar("select id from tbl_account").toString(), account.getId());
    QVERIFY(!scalar("select version from tbl_account").toString().isEmpty());
}

void TestMAccount::newAccountsGoLast()
{
    MAccount first;
    first.setName("一");
    first.setKind("cash");
    QVERIFY(MAccount::insert(&first));
    QCOMPARE(first.getSort(), 1); // the first account of a book
    owned.emplace_back(addAccount("far", "远", 0, 9));
    MAccount last;
    last.setName("末");
    last.setKind("card");
    QVERIFY(MAccount::insert(&last));
    QCOMPARE(last.getSort(), 10);
    QCOMPARE(MAccount::get()->last()->getName(), QString("末"));
    // A sort the caller chose is kept, zero included.
    owned.emplace_back(addAccount("zero", "零", 0, 0));
    QCOMPARE(MAccount::get()->first()->getName(), QString("零"));
}

void TestMAccount::cacheIsKeptUntilAWrite()
{
    owned.emplace_back(addAccount("A", "现金", 100, 1));
    QList<MAccount*>* list = MAccount::get();
    MAccount* before = list->first();
    QCOMPARE(MAccount::get(), list);
    QVERIFY(execAll({ "update tbl_account set name='改了'" }));
    QCOMPARE(MAccount::getById("A")->getName(), QString("现金")); // no SQL while cached

    MAccount changed = *before;
    changed.setName("新名");
    QVERIFY(MAccount::update(&changed));
    QVERIFY(list->isEmpty()); // the old list was emptied and forgotten
    QVERIFY(MAccount::get()->first() != before);
    QCOMPARE(MAccount::get()->first()->getName(), QString("新名"));
    QCOMPARE(before->getName(), QString("现金")); // still readable with the values of its load
    QCOMPARE(MAccount::getById(""), nullptr);
}

void TestMAccount::indexFollowsTheRowById()
{
    owned.emplace_back(addAccount("A", "甲", 0, 1));
    owned.emplace_back(addAccount("B", "乙", 0, 2));
    MAccount* a = MAccount::getById("A");
    MAccount* b = MAccount::getById("B");
    QCOMPARE(MAccount::indexOf(a), 0);
    // Moving down swaps the two sorts with two updates.
    MAccount first = *a;
    MAccount second = *b;
    first.setSort(2);
    second.setSort(1);
    QVERIFY(MAccount::update(&first));
    QVERIFY(MAccount::update(&second));
    QCOMPARE(MAccount::indexOf(a), 1); // a record of an earlier load finds its row's place
    QVERIFY(MAccount::remove("A"));
    QCOMPARE(MAccount::indexOf(a), -1);
    QCOMPARE(MAccount::indexOf(b), 0);
}

void TestMAccount::writesReportTheirOutcomeAndAlwaysSignal_data()
{
    QTest::addColumn<QString>("write");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("accountsAfter");
    QTest::newRow("update of an unknown id") << "update" << true << "A:甲";
    QTest::newRow("remove of an unknown id") << "remove" << true << "A:甲";
    QTest::newRow("insert without a name") << "insert nameless" << false << "A:甲";
    QTest::newRow("insert of an existing id") << "insert duplicate" << false << "A:甲";
}

void TestMAccount::writesReportTheirOutcomeAndAlwaysSignal()
{
    QFETCH(QString, write);
    QFETCH(bool, result);
    QFETCH(QString, accountsAfter);
    owned.emplace_back(addAccount("A", "甲", 0, 1));
    NotifierRecorder recorder;
    MAccount record;
    record.setKind("cash");
    record.setId("nobody");
    record.setName("谁");
    bool ok = false;
    if (write == "update") {
        ok = MAccount::update(&record);
    } else if (write == "remove") {
        ok = MAccount::remove("nobody");
    } else if (write == "insert nameless") {
        record.setName(QString());
        ok = MAccount::insert(&record);
    } else {
        record.setId("A");
        ok = MAccount::insert(&record);
    }
    QCOMPARE(ok, result);
    QCOMPARE(recorder.signalList, QStringList({ "account" }));
    QCOMPARE(scalar("select group_concat(id||':'||name) from tbl_account").toString(), accountsAfter);
}

void TestMAccount::removeClearsAStaleTombstone()
{
    // An id that was deleted once and came back (a synchronisation, the default records).
    owned.emplace_back(addAccount("01", "旧", 0, 1));
    QVERIFY(MAccount::remove("01"));
    owned.emplace_back(addAccount("01", "回来了", 0, 1));
    // Removing an id without a row keeps the tombstone of another that the server must learn of.
    owned.emplace_back(addAccount("02", "别的", 0, 2));
    QVERIFY(MAccount::remove("02"));
    QVERIFY(MAccount::remove("02"));
    QCOMPARE(scalar("select count(*) from tbl_account_deleted where id='02'").toInt(), 1);

    QVERIFY(MAccount::remove("01"));
    QCOMPARE(scalar("select count(*) from tbl_account").toInt(), 0);
    QCOMPARE(scalar("select group_concat(name) from tbl_account_deleted where id='01'").toString(), QString("回来了"));
    QCOMPARE(MAccount::get()->size(), 0);
}

QTEST_GUILESS_MAIN(TestMAccount)
#include "tst_maccount.moc"
