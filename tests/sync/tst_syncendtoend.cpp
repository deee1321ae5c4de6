// Two books on two "devices" synchronising through a real quorvane-service: book A through the
// program's classes in this process, book B through quorvane-sync in a process of its own.
#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <tuple>

#include "data/dbhelper.h"
#include "data/dbsetting.h"
#include "data/maccount.h"
#include "data/sqlhelper.h"
#include "servicefixture.h"
#include "testenv.h"

namespace {

// A time later than now, within the five minutes the service takes a version ahead of its clock.
QString inMinutes(int minutes)
{
    return QDateTime::currentDateTimeUtc().addSecs(minutes * 60).toString("yyyy-MM-dd hh:mm:ss");
}

QString billInsert(const QString& id, const QString& amount)
{
    return QString("insert into tbl_bill (id, title, amount, description, date, month, kind, account_id, "
                   "category_id, sub_category_id, member_id) values ('%1', 'bill %1', %2, '', '2024-01-02', 202401, "
                   "'expense', '01', '01', '01', '01')")
        .arg(id, amount);
}

// The amounts of the bills, "id=amount" in id order.
QStringList amounts(const QSqlDatabase& db)
{
    QStringList list;
    QSqlQuery query(db);
    query.exec("select id, amount from tbl_bill order by id");
    while (query.next())
        list << query.value(0).toString() + "=" + query.value(1).toString();
    return list;
}

bool execIn(const QString& path, const QStringList& statements)
{
    return withBookConnection(path, "device-b", BookAccess::ReadWrite, [&](QSqlDatabase& db) {
        QSqlQuery query(db);
        for (const QString& sql : statements) {
            if (!query.exec(sql)) {
                qWarning("%s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
                return false;
            }
        }
        return true;
    });
}

} // namespace

class TestSyncEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void helpCases_data();
    void helpCases();
    void deletedDefaultsGiveWayToTheAccountsOwn();
    void deletedTransferTargetComesBack();
    void restartedServiceKeepsItsData();
    void bookThatCannotBeMadeIsNotLeftHalfMade();

private:
    // A fresh pair of books for a new account: A open in this process, B's folder ready.
    void newAccount(const QString& name);
    void syncA();
    void syncB(bool create = false);
    QString bookB() const { return deviceB->path() + "/data/B.db"; }

    ServiceFixture service;
    TestEnv* env = nullptr;
    TestBook* bookA = nullptr;
    QTemporaryDir* deviceB = nullptr;
    QString account;
};

void TestSyncEndToEnd::initTestCase()
{
    QVERIFY2(service.start(), qPrintable(service.errorText()));
}

void TestSyncEndToEnd::init()
{
    service.useFromProgram();
    env = new TestEnv;
    deviceB = new QTemporaryDir;
}

void TestSyncEndToEnd::cleanup()
{
    delete bookA;
    bookA = nullptr;
    delete deviceB;
    delete env;
}

void TestSyncEndToEnd::newAccount(const QString& name)
{
    account = name;
    QVERIFY2(service.addUser(name, "pw"), qPrintable(service.errorText()));
    bookA = new TestBook(env->dataDir() + "Quorvane.db");
    QVERIFY(DBHelper::getInstance()->upgrade());
    QVERIFY(DBHelper::getInstance()->initDefaultData(QString()));
    DbSetting::getInstance()->setSyncUsername(name);
    DbSetting::getInstance()->setSyncPassword("pw");
    QVERIFY(DbSetting::getInstance()->save());
}

void TestSyncEndToEnd::syncA()
{
    const SyncOutcome outcome = runSync();
    QVERIFY2(outcome.finished, qPrintable(QString("%1 %2").arg(outcome.code).arg(outcome.message)));
}

void TestSyncEndToEnd::syncB(bool create)
{
    QStringList arguments { "--base-url", service.baseUrl() };
    if (create)
        arguments << "--create"
                  << "--user" << account << "--password"
                  << "pw";
    // B is set up while it cannot reach the service, and its user deletes two default records.
    QString output;
    QCOMPARE(runSyncProcess(deviceB->path(), "B.db", arguments, &output), 0);
}

void TestSyncEndToEnd::helpCases_data()
{
    // What A does, then what B does later (%1 is A's version, %2 B's later one); then A, B and A
    // synchronise, or B, A and B: the devices are interchangeable. Both start from the bills Z1 (10)
    // and Z2 (20).
    QTest::addColumn<QStringList>("onA");
    QTest::addColumn<QStringList>("onB");
    QTest::addColumn<QStringList>("bills");
    QTest::addColumn<bool>("bFirst");
    const QString set = "update tbl_bill set amount=%1, version='%2' where id='%3'";
    const auto change = [&](const QString& id, const QString& amount, const QString& version) {
        return set.arg(amount, version, id);
    };
    const auto remove = [](const QString& id, const QString& version) {
        return QStringList { "delete from tbl_bill where id='" + id + "'",
            "update tbl_bill_deleted set version='" + version + "' where id='" + id + "'" };
    };
    const QList<std::tuple<const char*, QStringList, QStringList, QStringList>> cases = {
        { "1 new bill on A", { billInsert("n1", "1") }, {}, { "n1=1", "z1=10", "z2=20" } },
        { "2 new bills on both", { billInsert("n2", "2") }, { billInsert("n3", "3") },
            { "n2=2", "n3=3", "z1=10", "z2=20" } },
        { "3 change on A, new bill on B", { change("z1", "5", "%1") }, { billInsert("n4", "4") },
            { "n4=4", "z1=5", "z2=20" } },
        { "4 later change of a bill wins", { change("z1", "11.99", "%1") }, { change("z1", "33.44", "%2") },
            { "z1=33.44", "z2=20" } },
        { "5 changes of different bills merge", { change("z1", "11.99", "%1") }, { change("z2", "33.44", "%2") },
            { "z1=11.99", "z2=33.44" } },
        { "6 later deletion wins", { change("z1", "11.99", "%1") }, remove("z1", "%2"), { "z2=20" } },
        { "7 later change brings a deleted bill back", remove("z1", "%1"), { change("z1", "12.36", "%2") },
            { "z1=12.36", "z2=20" } },
    };
    for (const auto& [name, onA, onB, bills] : cases) {
        QTest::addRow("%s, A first", name) << onA << onB << bills << false;
        QTest::addRow("%s, B first", name) << onA << onB << bills << true;
    }
}

void TestSyncEndToEnd::helpCases()
{
    QFETCH(QStringList, onA);
    QFETCH(QStringList, onB);
    QFETCH(QStringList, bills);
    QFETCH(bool, bFirst);
    newAccount(QString("case%1%2").arg(QTest::currentDataTag()[0]).arg(bFirst ? "b" : "a"));

    // The same start on both: A's bills reach B through B's first synchronisation.
    QVERIFY(execAll({ billInsert("z1", "10"), billInsert("z2", "20") }));
    syncA();
    syncB(true);
    syncA();
    QCOMPARE(bookRows(bookB(), false), bookRows(QSqlDatabase::database(), false));

    // Versions written as the changes' times, A's before B's, without waiting for the clock.
    const QString versionA = inMinutes(1);
    const QString versionB = inMinutes(2);
    QStringList statementsA;
    for (const QString& sql : std::as_const(onA))
        statementsA << QString(sql).replace("%1", versionA);
    QStringList statementsB;
    for (const QString& sql : std::as_const(onB))
        statementsB << QString(sql).replace("%2", versionB);
    QVERIFY(execAll(statementsA));
    QVERIFY(execIn(bookB(), statementsB));
    if (bFirst) {
        syncB();
        syncA();
        syncB();
    } else {
        syncA();
        syncB();
        syncA();
    }

    QCOMPARE(amounts(QSqlDatabase::database()), bills);
    QCOMPARE(bookRows(bookB(), false), bookRows(QSqlDatabase::database(), false));
}

void TestSyncEndToEnd::deletedDefaultsGiveWayToTheAccountsOwn()
{
    newAccount("defaults");
    syncA();
    const QString prefix = DbSetting::getInstance()->getUserId().chopped(2);
    // The account's own default account, renamed on A after B deleted its copy.
    QVERIFY(execAll({ QString("update tbl_account set name='现金包', version='%1' where id='%2'")
                          .arg(inMinutes(2), prefix + "01") }));
    syncA();

    // B is set up while it cannot reach the service, and its user deletes two default records.
    QString output;
    QCOMPARE(runSyncProcess(deviceB->path(), "B.db",
                 { "--base-url", "http://127.0.0.1:9/", "--create", "--user", account, "--password", "pw" }, &output),
        1);
    QVERIFY(execIn(bookB(),
        { "delete from tbl_account where id='01'", "delete from tbl_member where id='02'",
            "update tbl_account_deleted set version='" + inMinutes(1) + "'",
            "update tbl_member_deleted set version='" + inMinutes(1) + "'" }));
    syncB();
    syncA();

    QCOMPARE(valueIn(bookB(), "select name from tbl_account where id='" + prefix + "01'").toString(),
        QString::fromUtf8("现金包"));
    QCOMPARE(valueIn(bookB(), "select count(*) from tbl_account_deleted").toInt(), 0);
    QCOMPARE(valueIn(bookB(), "select count(*) from tbl_account where length(id)=2").toInt(), 0);
    QCOMPARE(scalar("select count(*) from tbl_member where id='" + prefix + "02'").toInt(), 0);
    QCOMPARE(bookRows(bookB(), false), bookRows(QSqlDatabase::database(), false));
}

void TestSyncEndToEnd::deletedTransferTargetComesBack()
{
    newAccount("target");
    QVERIFY(execAll({ "insert into tbl_account (id, name, kind, amount) values ('x', '旅行卡', 'card', 0)" }));
    syncA();
    syncB(true);
    QCOMPARE(valueIn(bookB(), "select name from tbl_account where id='x'").toString(), QString::fromUtf8("旅行卡"));
    const QString source = DbSetting::getInstance()->getUserId().chopped(2) + "01";

    // B removes the card (nothing of B's uses it); A, not knowing, records a transfer to it.
    QVERIFY(execIn(bookB(), { "delete from tbl_account where id='x'" }));
    QVERIFY(execAll({ "insert into tbl_bill (id, amount, description, date, month, kind, account_id, "
                      "to_account_id) values ('t', -250, '', '2024-01-02', 202401, 'transfer', '"
        + source + "', 'x')" }));
    syncB();
    syncA();
    syncB();

    // The card is back on both, and the transfer arrives on it.
    QCOMPARE(scalar("select count(*) from tbl_account where id='x'").toInt(), 1);
    QCOMPARE(valueIn(bookB(), "select count(*) from tbl_account where id='x'").toInt(), 1);
    QCOMPARE(valueIn(bookB(), "select to_account_id from tbl_bill where id='t'").toString(), QString("x"));
    MAccount::clearCache();
    QCOMPARE(MAccount::getById("x")->getBalance(), 250.0);
    // Both brought the card back, each with its own version; the later one settles on both. Within
    // one second of the deletion that takes a few more runs: a card brought back with the deletion's
    // own version (or an earlier one) loses to it and comes back once more.
    for (int pass = 0; bookRows(bookB(), false) != bookRows(QSqlDatabase::database(), false); ++pass) {
        QVERIFY2(pass < 40, "the books do not settle");
        syncA();
        syncB();
    }
    QCOMPARE(scalar("select count(*) from tbl_account where id='x'").toInt(), 1);
}

void TestSyncEndToEnd::bookThatCannotBeMadeIsNotLeftHalfMade()
{
    // The default records of the new book cannot be written: a folder where its journal goes.
    const QString obstacle = bookB() + ".creating-journal";
    QVERIFY(QDir().mkpath(obstacle));
    const QStringList arguments { "--base-url", "http://127.0.0.1:9/", "--create", "--user", "x", "--password", "pw" };
    QString output;
    QCOMPARE(runSyncProcess(deviceB->path(), "B.db", arguments, &output), 2);
    QVERIFY2(output.contains("cannot create"), qPrintable(output));
    QVERIFY(!QFile::exists(bookB()));

    // The next run makes the book whole, default records and all (the service is out of reach).
    QVERIFY(QDir().rmdir(obstacle));
    QCOMPARE(runSyncProcess(deviceB->path(), "B.db", arguments, &output), 1);
    QCOMPARE(valueIn(bookB(), "select count(*) from tbl_account").toInt(), 2);
    QCOMPARE(valueIn(bookB(), "select count(*) from tbl_sub_category").toInt(), 25);
    QCOMPARE(valueIn(bookB(), "select version from tbl_setting").toInt(), 38);
}

void TestSyncEndToEnd::restartedServiceKeepsItsData()
{
    newAccount("restart");
    QVERIFY(execAll({ billInsert("kept", "7") }));
    syncA();

    service.stop();
    QVERIFY2(service.start(), qPrintable(service.errorText()));
    service.useFromProgram();
    // A new device of the same account finds the account and its bill.
    syncB(true);
    QCOMPARE(valueIn(bookB(), "select amount from tbl_bill where id='kept'").toDouble(), 7.0);
    QCOMPARE(bookRows(bookB(), false), bookRows(QSqlDatabase::database(), false));
}

QTEST_GUILESS_MAIN(TestSyncEndToEnd)
#include "tst_syncendtoend.moc"
