#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTest>

#include "data/constants.h"
#include "data/dbhelper.h"
#include "data/dbsetting.h"
#include "engine/httphelper.h"
#include "engine/synchelper.h"
#include "notifierrecorder.h"
#include "servicefixture.h"
#include "testenv.h"

namespace {

const QString failedText = QString::fromUtf8("同步失败，同步时出现严重错误");
const QString V0 = "2030-01-01 00:00:00";
const QString V1 = "2030-01-01 00:00:01";
const QString V2 = "2030-01-01 00:00:02";

const QStringList billColumns = { "id", "title", "amount", "description", "date", "month", "category_id",
    "sub_category_id", "account_id", "to_account_id", "borrower_id", "member_id", "kind", "created_time", "version" };

QString billInsert(const QString& table, const QString& id, const QString& amount, const QString& version)
{
    return QString("insert into %1 (id, title, amount, description, date, month, kind, account_id, version) "
                   "values ('%2', 't', %3, 'd', '2024-01-01', 202401, 'expense', '', '%4')")
        .arg(table, id, amount, version);
}

QJsonArray billRow(const QString& id, const QString& amount, const QString& description, const QString& version)
{
    return { id, "t", amount, description, "2024-01-01", "202401", "", "", "", "", "", "", "expense",
        "2024-01-01 00:00:00", version };
}

QString reply(const QJsonArray& tables)
{
    return QString::fromUtf8(QJsonDocument(tables).toJson(QJsonDocument::Compact));
}

// Rows and pairs are arrays of arrays: a list keeps one array from being read as the list itself.
QJsonArray arrays(const QList<QJsonArray>& list)
{
    QJsonArray array;
    for (const QJsonArray& element : list)
        array.append(element);
    return array;
}

QJsonObject table(const QString& name, const QJsonArray& columns, const QList<QJsonArray>& rows,
    const QList<QJsonArray>& deletions = {})
{
    return { { "table_name", name }, { "update_columns", columns }, { "update_data", arrays(rows) },
        { "delete_columns", QJsonArray { "id", "version" } }, { "delete_data", arrays(deletions) } };
}

QJsonArray bills(const QList<QJsonArray>& rows, const QList<QJsonArray>& deletions = {})
{
    return { table("bill", QJsonArray::fromStringList(billColumns), rows, deletions) };
}

int backups()
{
    return int(QDir(Constants::getInstance()->getBackupDir()).entryList(QDir::Files).size());
}

// The change set of a logged upload, by table name.
QHash<QString, QJsonObject> changeSetOf(const QJsonObject& request)
{
    QHash<QString, QJsonObject> tables;
    for (const QJsonValue& value : QJsonDocument::fromJson(fieldOf(request, "data").toUtf8()).array())
        tables.insert(value.toObject().value("table_name").toString(), value.toObject());
    return tables;
}

// The rows of a table of a change set, by id.
QHash<QString, QStringList> rowsOf(const QJsonObject& table)
{
    QStringList columns;
    for (const QJsonValue& column : table.value("update_columns").toArray())
        columns << column.toString();
    QHash<QString, QStringList> rows;
    for (const QJsonValue& row : table.value("update_data").toArray()) {
        QStringList cells;
        for (const QJsonValue& cell : row.toArray())
            cells << cell.toString();
        rows.insert(cells.value(int(columns.indexOf("id"))), cells);
    }
    return rows;
}

} // namespace

class TestSyncHelper : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void firstSyncGivesDefaultsTheAccountIds();
    void laterSyncUploadsWhatChangedSince();
    void emptyReplyStillCompletesTheRun();
    void replyIsMerged_data();
    void replyIsMerged();
    void failureLeavesTheBookAlone_data();
    void failureLeavesTheBookAlone();
    void firstSyncFailures_data();
    void firstSyncFailures();
    void failedMigrationIsUndone();
    void failedTransactionIsUndone_data();
    void failedTransactionIsUndone();
    void unreadableBookEndsTheRun_data();
    void unreadableBookEndsTheRun();
    void oneRunAtATime();

private:
    // The account's first synchronisation, clean; the book then has its user id.
    void syncOnce();

    ServiceFixture service;
    TestEnv* env = nullptr;
    TestBook* book = nullptr;
    int accounts = 0;
};

void TestSyncHelper::initTestCase()
{
    QVERIFY2(service.start(), qPrintable(service.errorText()));
    service.useFromProgram();
}

void TestSyncHelper::init()
{
    env = new TestEnv;
    book = new TestBook(env->dataDir() + "Quorvane.db");
    QVERIFY(book->isOpen());
    QVERIFY(DBHelper::getInstance()->upgrade());
    QVERIFY(DBHelper::getInstance()->initDefaultData(QString()));
    // An account of its own for every test, so that no test sees another's records.
    const QString user = QString("user%1").arg(++accounts);
    QVERIFY2(service.addUser(user, "secret 1+1"), qPrintable(service.errorText()));
    DbSetting::getInstance()->setSyncUsername(user);
    DbSetting::getInstance()->setSyncPassword("secret 1+1");
    QVERIFY(DbSetting::getInstance()->save());
    service.clearConfig();
    service.clearRequests();
    service.useFromProgram();
    HttpHelper::setTransferTimeout(60000);
}

void TestSyncHelper::cleanup()
{
    delete book;
    delete env;
}

void TestSyncHelper::syncOnce()
{
    const SyncOutcome outcome = runSync();
    QVERIFY2(outcome.finished, qPrintable(outcome.message));
    QVERIFY(!DbSetting::getInstance()->getUserId().isEmpty());
    service.clearRequests();
}

void TestSyncHelper::firstSyncGivesDefaultsTheAccountIds()
{
    QVERIFY(execAll({ "insert into tbl_bill (id, title, amount, description, date, month, kind, account_id, "
                      "category_id, sub_category_id, member_id) values ('b-null', NULL, 12.5, 'd', '2024-01-02', "
                      "202401, 'expense', '01', '01', '01', '01')",
        "insert into tbl_bill (id, amount, description, date, month, kind, account_id) values ('b-neg', -3.0, '', "
        "'2024-01-03', 202401, 'income', '02')",
        "insert into tbl_bill (id, amount, description, date, month, kind, account_id, version) values ('b-old', 1, "
        "'', '2000-01-01', 200001, 'expense', '01', '2000-01-01 00:00:00')",
        "insert into tbl_bill (id, amount, description, date, month, kind, account_id, version) values ('b-still', 1, "
        "'', '2000-01-01', 200001, 'expense', '', '2000-01-01 00:00:00')",
        "insert into tbl_member (id, name, version) values ('abc', 'three', '2020-01-01 00:00:00')",
        "delete from tbl_member where id='02'" }));
    QSqlQuery sum;
    sum.prepare("insert into tbl_bill (id, amount, description, date, month, kind) values ('b-sum', ?, '', "
                "'2024-01-04', 202401, 'expense')");
    sum.addBindValue(0.1 + 0.2);
    QVERIFY(sum.exec());

    SyncHelper* sync = SyncHelper::getInstance();
    QSignalSpy started(sync, &SyncHelper::syncStarted);
    QSignalSpy logged(sync, &SyncHelper::syncLog);
    QSignalSpy progress(sync, &SyncHelper::syncProgress);
    const QString before = QDateTime::currentDateTimeUtc().toString("yyyy-MM-dd hh:mm:ss");
    const SyncOutcome outcome = runSync();
    const QString after = QDateTime::currentDateTimeUtc().toString("yyyy-MM-dd hh:mm:ss");
    QVERIFY2(outcome.finished, qPrintable(outcome.message));
    QCOMPARE(started.count(), 1);
    QCOMPARE(logged.count(), 1);
    QCOMPARE(logged.first().first().toString(), QString::fromUtf8("正在同步数据..."));
    QCOMPARE(progress.count(), 1);
    QCOMPARE(progress.first().first().toFloat(), 20.0f);

    const QList<QJsonObject> requests = service.requests();
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests.at(0).value("path").toString(), QString("sync/userid.php"));
    QCOMPARE(fieldOf(requests.at(0), "username"), DbSetting::getInstance()->getSyncUsername());
    const QJsonObject upload = requests.at(1);
    QCOMPARE(upload.value("path").toString(), QString("sync/syncpc2.php"));
    QStringList names;
    for (const auto& field : fieldsOf(upload))
        names << field.first;
    QCOMPARE(names, QStringList({ "version", "username", "password", "sync_time", "client_time", "data" }));
    QCOMPARE(fieldOf(upload, "version"), QString("38"));
    QCOMPARE(fieldOf(upload, "sync_time"), QString("2008-08-08 08:08:08"));
    QVERIFY(fieldOf(upload, "client_time") >= before && fieldOf(upload, "client_time") <= after);

    // The six tables in order, each with its keys sorted, never the user_id column.
    const QString data = fieldOf(upload, "data");
    QVERIFY2(data.startsWith(R"([{"delete_columns":["id","version"],"delete_data":[],"table_name":"bill",)"
                             R"("update_columns":["id","title","amount","description","date","month",)"),
        qPrintable(data.left(200)));
    QStringList tables;
    for (const QJsonValue& value : QJsonDocument::fromJson(data.toUtf8()).array())
        tables << value.toObject().value("table_name").toString();
    QCOMPARE(tables, QStringList({ "bill", "account", "borrower", "category", "sub_category", "member" }));
    QVERIFY(!data.contains("user_id"));
    const QHash<QString, QJsonObject> changes = changeSetOf(upload);
    QCOMPARE(changes.value("bill").value("update_columns").toArray(), QJsonArray::fromStringList(billColumns));

    // The default records took the account's ids: 34 characters of its id, then their own two.
    const QString userId = DbSetting::getInstance()->getUserId();
    QCOMPARE(scalar("select user_id from tbl_setting").toString(), userId);
    const QString prefix = userId.left(userId.size() - 2);
    QCOMPARE(scalar("select group_concat(id) from (select id from tbl_account order by id)").toString(),
        prefix + "01," + prefix + "02");
    QCOMPARE(scalar("select account_id from tbl_bill where id='b-neg'").toString(), prefix + "02");
    QCOMPARE(scalar("select count(*) from tbl_sub_category where length(category_id)=2").toInt(), 0);
    QCOMPARE(scalar("select count(*) from tbl_member where id='abc'").toInt(), 1);

    // Bills whose references changed went up; the default records themselves (old versions) did not.
    const QHash<QString, QStringList> billRows = rowsOf(changes.value("bill"));
    QStringList uploadedBills = billRows.keys();
    uploadedBills.sort();
    QCOMPARE(uploadedBills, QStringList({ "b-neg", "b-null", "b-old", "b-sum" }));
    const QStringList nullTitle = billRows.value("b-null");
    QCOMPARE(nullTitle.at(billColumns.indexOf("title")), QString(""));
    QCOMPARE(nullTitle.at(billColumns.indexOf("amount")), QString("12.5"));
    QCOMPARE(nullTitle.at(billColumns.indexOf("account_id")), prefix + "01");
    QCOMPARE(nullTitle.at(billColumns.indexOf("sub_category_id")), prefix + "01");
    QCOMPARE(billRows.value("b-neg").at(billColumns.indexOf("amount")), QString("-3"));
    QCOMPARE(billRows.value("b-sum").at(billColumns.indexOf("amount")), QString("0.3"));
    QVERIFY(rowsOf(changes.value("account")).isEmpty());
    QCOMPARE(rowsOf(changes.value("member")).keys(), QStringList({ "abc" }));
    const QJsonArray deleted = changes.value("member").value("delete_data").toArray();
    QCOMPARE(deleted.size(), 1);
    QCOMPARE(deleted.first().toArray().first().toString(), prefix + "02");

    const QString syncTime = scalar("select sync_time from tbl_setting").toString();
    QVERIFY2(syncTime >= before && syncTime <= after, qPrintable(syncTime));
    QCOMPARE(backups(), 2);
}

void TestSyncHelper::laterSyncUploadsWhatChangedSince()
{
    syncOnce();
    QVERIFY(execAll({ "update tbl_setting set sync_time='" + V1 + "'", billInsert("tbl_bill", "same", "1", V1),
        billInsert("tbl_bill", "before", "1", V0), billInsert("tbl_bill", "after", "1", V2),
        billInsert("tbl_bill", "gone", "1", V0), "delete from tbl_bill where id='gone'",
        "update tbl_bill_deleted set version='" + V1 + "' where id='gone'" }));
    QSignalSpy progress(SyncHelper::getInstance(), &SyncHelper::syncProgress);
    const SyncOutcome outcome = runSync();
    QVERIFY2(outcome.finished, qPrintable(outcome.message));

    QVERIFY(progress.isEmpty());
    QVERIFY(service.requests("sync/userid.php").isEmpty());
    const QList<QJsonObject> uploads = service.requests("sync/syncpc2.php");
    QCOMPARE(uploads.size(), 1);
    QCOMPARE(fieldOf(uploads.first(), "sync_time"), V1);
    // A row stamped in the very second of the last run's start goes again: it may have missed it.
    const QJsonObject bill = changeSetOf(uploads.first()).value("bill");
    QStringList ids = rowsOf(bill).keys();
    ids.sort();
    QCOMPARE(ids, QStringList({ "after", "same" }));
    QCOMPARE(bill.value("delete_data").toArray(), arrays({ QJsonArray { "gone", V1 } }));
}

void TestSyncHelper::emptyReplyStillCompletesTheRun()
{
    service.setFault("sync/syncpc2.php", { { "body", "[]" } });
    NotifierRecorder notifier;
    const QString before = QDateTime::currentDateTimeUtc().toString("yyyy-MM-dd hh:mm:ss");
    const SyncOutcome outcome = runSync();
    QVERIFY2(outcome.finished, qPrintable(outcome.message));
    // Every list reloads, in the order the caches are dropped.
    QStringList lists = notifier.signalList;
    lists.removeAll("months");
    QCOMPARE(lists, QStringList({ "account", "borrower", "category", "member", "bill" }));
    QVERIFY(scalar("select sync_time from tbl_setting").toString() >= before);
    QCOMPARE(backups(), 2);
}

void TestSyncHelper::replyIsMerged_data()
{
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("checks");

    QTest::newRow("same version: local row kept")
        << QStringList { billInsert("tbl_bill", "x", "1", V1) } << reply(bills({ billRow("x", "2", "d", V1) }))
        << QStringList { "select amount from tbl_bill where id='x'|1" };
    QTest::newRow("older local row: every column taken")
        << QStringList { billInsert("tbl_bill", "x", "1", V1) } << reply(bills({ billRow("x", "2.5", "it's", V2) }))
        << QStringList { "select amount||' '||description||' '||version from tbl_bill where id='x'|2.5 it's " + V2 };
    QTest::newRow("later local deletion: stays deleted")
        << QStringList { billInsert("tbl_bill_deleted", "x", "1", V2) } << reply(bills({ billRow("x", "2", "d", V1) }))
        << QStringList { "select count(*) from tbl_bill where id='x'|0", "select version from tbl_bill_deleted|" + V2 };
    QTest::newRow("earlier local deletion: row back, tombstone gone")
        << QStringList { billInsert("tbl_bill_deleted", "x", "1", V1) } << reply(bills({ billRow("x", "2", "d", V2) }))
        << QStringList { "select amount from tbl_bill where id='x'|2", "select count(*) from tbl_bill_deleted|0" };
    QTest::newRow("new row whose id holds a quote")
        << QStringList() << reply(bills({ billRow("q'); drop table tbl_bill; --", "4", "d", V1) }))
        << QStringList { "select amount from tbl_bill where id='q''); drop table tbl_bill; --'|4" };
    QTest::newRow("deletion of an older local row")
        << QStringList { billInsert("tbl_bill", "x", "1", V1) } << reply(bills({}, { QJsonArray { "x", V2 } }))
        << QStringList { "select count(*) from tbl_bill where id='x'|0",
               "select count(*) from tbl_bill_deleted where id='x'|1" };
    QTest::newRow("deletion of a newer local row: kept")
        << QStringList { billInsert("tbl_bill", "x", "1", V2) } << reply(bills({}, { QJsonArray { "x", V1 } }))
        << QStringList { "select count(*) from tbl_bill where id='x'|1" };
    QTest::newRow("deletion despite a stale tombstone")
        << QStringList { billInsert("tbl_bill", "x", "1", V1), billInsert("tbl_bill_deleted", "x", "1", V0) }
        << reply(bills({}, { QJsonArray { "x", V2 } }))
        << QStringList { "select count(*) from tbl_bill where id='x'|0",
               "select count(*) from tbl_bill_deleted where id='x' and version<>'" + V0 + "'|1" };
    QTest::newRow("deleted accounts that bills use come back")
        << QStringList { "insert into tbl_account (id, name, kind, amount) values ('acc-a', 'A', 'cash', 0)",
               "insert into tbl_account (id, name, kind, amount) values ('acc-b', 'B', 'cash', 0)",
               "insert into tbl_bill (id, amount, description, date, month, kind, account_id) values ('ba', 1, '', "
               "'2024-01-01', 202401, 'expense', 'acc-a')",
               "insert into tbl_bill (id, amount, description, date, month, kind, account_id) values ('bb', 1, '', "
               "'2024-01-01', 202401, 'expense', 'acc-b')",
               "delete from tbl_account where id in ('acc-a', 'acc-b')" }
        << "[]"
        << QStringList { "select count(*) from tbl_account where id in ('acc-a', 'acc-b')|2",
               "select count(*) from tbl_account_deleted|0" };
    QTest::newRow("deleted transfer target that a bill names comes back")
        << QStringList { "insert into tbl_account (id, name, kind, amount) values ('from', 'F', 'cash', 0)",
               "insert into tbl_account (id, name, kind, amount) values ('target', 'T', 'card', 0)",
               "insert into tbl_bill (id, amount, description, date, month, kind, account_id, to_account_id) values "
               "('bt', -5, '', '2024-01-01', 202401, 'transfer', 'from', 'target')",
               "delete from tbl_account where id='target'" }
        << "[]"
        << QStringList { "select name from tbl_account where id='target'|T",
               "select count(*) from tbl_account_deleted|0" };
    QTest::newRow("unknown table and column names ignored")
        << QStringList()
        << reply({ table("setting", { "sync_time" }, { QJsonArray { "2000-01-01 00:00:00" } }),
               table("bill; drop table tbl_member", { "id" }, { QJsonArray { "y" } }),
               table("bill", QJsonArray::fromStringList(billColumns + QStringList { "evil\"" }),
                   { billRow("x", "3", "d", V1) << QJsonValue("boom") }) })
        << QStringList { "select amount from tbl_bill where id='x'|3",
               "select count(*) from tbl_setting where sync_time like '2000%'|0",
               "select count(*) from sqlite_master where name='tbl_member'|1" };
    QTest::newRow("rows without id, short rows and refused rows skipped")
        << QStringList()
        << reply({ table("bill", { "title", "amount" }, { QJsonArray { "t", "1" } }),
               table("bill", { "id", "amount", "version" },
                   { QJsonArray { "short" }, QJsonArray { "no-description", "1", V1 } }),
               table("bill", QJsonArray::fromStringList(billColumns), { billRow("x", "5", "d", V1) }) })
        << QStringList { "select count(*) from tbl_bill|1", "select amount from tbl_bill where id='x'|5" };
}

void TestSyncHelper::replyIsMerged()
{
    QFETCH(QStringList, setup);
    QFETCH(QString, answer);
    QFETCH(QStringList, checks);
    QVERIFY(execAll(setup));
    service.setFault("sync/syncpc2.php", { { "body", answer } });
    const SyncOutcome outcome = runSync();
    QVERIFY2(outcome.finished, qPrintable(outcome.message));
    for (const QString& check : std::as_const(checks)) {
        const qsizetype bar = check.lastIndexOf('|');
        QCOMPARE(scalar(check.left(bar)).toString(), check.mid(bar + 1));
    }
}

void TestSyncHelper::failureLeavesTheBookAlone_data()
{
    QTest::addColumn<QJsonObject>("fault");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    const QString commError = QString::fromUtf8("和服务器通讯时出错");
    QTest::newRow("refused connection") << QJsonObject() << 505 << commError;
    QTest::newRow("HTTP 500") << QJsonObject { { "status", 500 } } << 505 << commError;
    QTest::newRow("connection closed") << QJsonObject { { "close", true } } << 505 << commError;
    QTest::newRow("no answer: time-out") << QJsonObject { { "hang", true } } << 505 << commError;
    QTest::newRow("error object") << QJsonObject { { "error", 7 }, { "message", "m" } } << 7 << "m";
    QTest::newRow("HTML page") << QJsonObject { { "body", "<html><body>Service down</body></html>" } } << 0
                               << failedText;
    QTest::newRow("object without a message") << QJsonObject { { "body", R"({"error":3})" } } << 0 << failedText;
}

void TestSyncHelper::failureLeavesTheBookAlone()
{
    QFETCH(QJsonObject, fault);
    QFETCH(int, code);
    QFETCH(QString, message);
    syncOnce();
    QVERIFY(execAll({ billInsert("tbl_bill", "local", "1", V1) }));
    const QStringList rows = bookRows(QSqlDatabase::database(), true);
    const int backupsBefore = backups();
    HttpHelper::setTransferTimeout(1000);
    if (fault.isEmpty()) {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        qputenv("QUORVANE_BASE_URL", QString("http://127.0.0.1:%1/").arg(closed.serverPort()).toUtf8());
    } else {
        service.setFault("sync/syncpc2.php", fault);
    }

    const SyncOutcome outcome = runSync();
    QVERIFY(!outcome.finished);
    QCOMPARE(outcome.code, code);
    QCOMPARE(outcome.message, message);
    QVERIFY(!SyncHelper::getInstance()->isRunning());
    QCOMPARE(bookRows(QSqlDatabase::database(), true), rows);
    // The backup before the run, none after it.
    QCOMPARE(backups(), backupsBefore + 1);
}

void TestSyncHelper::firstSyncFailures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QJsonObject>("fault");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("migrated");
    QTest::newRow("account refused") << "sync/userid.php" << QJsonObject { { "error", 3 }, { "message", "x" } } << 3
                                     << "x" << false;
    QTest::newRow("no id in the answer") << "sync/userid.php" << QJsonObject { { "body", "{}" } } << 0 << failedText
                                         << false;
    QTest::newRow("upload fails after the migration") << "sync/syncpc2.php" << QJsonObject { { "status", 500 } } << 505
                                                      << QString::fromUtf8("和服务器通讯时出错") << true;
}

void TestSyncHelper::firstSyncFailures()
{
    QFETCH(QString, path);
    QFETCH(QJsonObject, fault);
    QFETCH(int, code);
    QFETCH(QString, message);
    QFETCH(bool, migrated);
    service.setFault(path, fault);
    const SyncOutcome outcome = runSync();
    QCOMPARE(outcome.code, code);
    QCOMPARE(outcome.message, message);

    QCOMPARE(service.requests("sync/syncpc2.php").size(), migrated ? 1 : 0);
    QCOMPARE(scalar("select count(*) from tbl_account where length(id)=2").toInt(), migrated ? 0 : 2);
    QCOMPARE(scalar("select length(user_id) from tbl_setting").toInt(), migrated ? 36 : 0);
    QCOMPARE(DbSetting::getInstance()->getUserId().isEmpty(), !migrated);
    QCOMPARE(scalar("select sync_time from tbl_setting").toString(), QString("2008-08-08 08:08:08.000"));
    QCOMPARE(backups(), 1);
}

void TestSyncHelper::failedMigrationIsUndone()
{
    QVERIFY(execAll({ "insert into tbl_bill (id, amount, description, date, month, kind, account_id) values ('b', "
                      "1, '', '2024-01-01', 202401, 'expense', '01')",
        "create trigger refuse before update on tbl_member begin select raise(abort, 'refused'); end" }));
    const SyncOutcome outcome = runSync();
    QCOMPARE(outcome.code, 0);
    QCOMPARE(outcome.message, failedText);
    // Nothing of the migration stays, and the next run tries it again.
    QCOMPARE(scalar("select account_id from tbl_bill where id='b'").toString(), QString("01"));
    QCOMPARE(scalar("select count(*) from tbl_account where length(id)=2").toInt(), 2);
    QVERIFY(scalar("select user_id from tbl_setting").toString().isEmpty());
    QVERIFY(DbSetting::getInstance()->getUserId().isEmpty());
    QVERIFY(service.requests("sync/syncpc2.php").isEmpty());
}

void TestSyncHelper::failedTransactionIsUndone_data()
{
    QTest::addColumn<bool>("locked");
    QTest::newRow("sync time cannot be stored") << false;
    QTest::newRow("book locked by another connection") << true;
}

void TestSyncHelper::failedTransactionIsUndone()
{
    QFETCH(bool, locked);
    syncOnce();
    QVERIFY(execAll({ billInsert("tbl_bill", "older", "1", V0) }));
    service.setFault("sync/syncpc2.php",
        { { "body", reply(bills({ billRow("new", "2", "d", V1), billRow("older", "3", "d", V1) })) } });
    QSqlDatabase other;
    if (locked) {
        QVERIFY(execAll({ "pragma busy_timeout=0" }));
        other = QSqlDatabase::addDatabase("QSQLITE", "other");
        other.setDatabaseName(book->path());
        QVERIFY(other.open());
        QVERIFY(QSqlQuery(other).exec("begin immediate"));
    } else {
        QVERIFY(execAll({ "create trigger refuse before update of sync_time on tbl_setting begin select "
                          "raise(abort, 'refused'); end" }));
    }
    const QStringList rows = bookRows(QSqlDatabase::database(), true);

    const SyncOutcome outcome = runSync();
    QCOMPARE(outcome.code, 0);
    QCOMPARE(outcome.message, failedText);
    QCOMPARE(bookRows(QSqlDatabase::database(), true), rows);
    if (locked) {
        QSqlQuery(other).exec("rollback");
        other.close();
        other = QSqlDatabase();
        QSqlDatabase::removeDatabase("other");
    }
}

void TestSyncHelper::unreadableBookEndsTheRun_data()
{
    // What keeps the run from reading the book's changes, and what gives it back.
    QTest::addColumn<QStringList>("block");
    QTest::addColumn<QStringList>("release");
    QTest::newRow("book held by another connection") << QStringList() << QStringList();
    QTest::newRow("tombstones of a table unreadable")
        << QStringList { "alter table tbl_member_deleted rename to tbl_member_aside" }
        << QStringList { "alter table tbl_member_aside rename to tbl_member_deleted" };
    QTest::newRow("a table unreadable") << QStringList { "alter table tbl_borrower rename to tbl_borrower_aside" }
                                        << QStringList { "alter table tbl_borrower_aside rename to tbl_borrower" };
}

void TestSyncHelper::unreadableBookEndsTheRun()
{
    QFETCH(QStringList, block);
    QFETCH(QStringList, release);
    syncOnce();
    QVERIFY(execAll({ "update tbl_setting set sync_time='" + V1 + "'", billInsert("tbl_bill", "local", "1", V2),
        "insert into tbl_member (id, name, version) values ('m', 'member', '" + V2 + "')",
        "delete from tbl_member where id='m'", "update tbl_member_deleted set version='" + V2 + "' where id='m'" }));
    const QString syncTime = scalar("select sync_time from tbl_setting").toString();
    const QStringList rows = bookRows(QSqlDatabase::database(), true);

    QSqlDatabase other;
    if (block.isEmpty()) {
        // Another process writing the book past the busy time-out: not even the last sync time reads.
        QVERIFY(execAll({ "pragma busy_timeout=0" }));
        other = QSqlDatabase::addDatabase("QSQLITE", "other");
        other.setDatabaseName(book->path());
        QVERIFY(other.open());
        QVERIFY(QSqlQuery(other).exec("begin exclusive"));
    } else {
        QVERIFY(execAll(block));
    }
    SyncHelper* sync = SyncHelper::getInstance();
    QSignalSpy failed(sync, &SyncHelper::syncError);
    const SyncOutcome outcome = runSync();
    QCOMPARE(failed.count(), 1);
    QVERIFY(!outcome.finished);
    QCOMPARE(outcome.code, 0);
    QCOMPARE(
        outcome.message, QString::fromUtf8("读取账本时出错，本次同步没有进行。账本可能正被其他程序使用，请稍后再试。"));
    QVERIFY(!sync->isRunning());
    // Nothing went up, and the next run sends the changes again.
    QVERIFY(service.requests("sync/syncpc2.php").isEmpty());
    if (block.isEmpty()) {
        QSqlQuery(other).exec("rollback");
        other.close();
        other = QSqlDatabase();
        QSqlDatabase::removeDatabase("other");
    } else {
        QVERIFY(execAll(release));
    }
    QCOMPARE(scalar("select sync_time from tbl_setting").toString(), syncTime);
    QCOMPARE(bookRows(QSqlDatabase::database(), true), rows);

    const SyncOutcome next = runSync();
    QVERIFY2(next.finished, qPrintable(next.message));
    const QJsonObject upload = service.requests("sync/syncpc2.php").value(0);
    QCOMPARE(rowsOf(changeSetOf(upload).value("bill")).keys(), QStringList({ "local" }));
    QCOMPARE(changeSetOf(upload).value("member").value("delete_data").toArray().size(), 1);
}

void TestSyncHelper::oneRunAtATime()
{
    SyncHelper* sync = SyncHelper::getInstance();
    QSignalSpy started(sync, &SyncHelper::syncStarted);
    QSignalSpy finished(sync, &SyncHelper::syncFinished);
    QVERIFY(sync->sync());
    QVERIFY(sync->isRunning());
    QVERIFY(!sync->sync());
    QVERIFY(finished.wait(60000));
    QCOMPARE(started.count(), 1);
    QCOMPARE(service.requests("sync/userid.php").size(), 1);
    QCOMPARE(service.requests("sync/syncpc2.php").size(), 1);
    QVERIFY(!sync->isRunning());
    QVERIFY(runSync().finished);
}

QTEST_GUILESS_MAIN(TestSyncHelper)
#include "tst_synchelper.moc"
