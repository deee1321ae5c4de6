#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
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
const QString V0 = "2020-01-01 00:00:00";
const QString V1 = "2020-01-01 00:00:01";
const QString V2 = "2020-01-01 00:00:02";

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
    void replyOverTheCapIsRefused();
    void firstSyncFailures_data();
    void firstSyncFailures();
    void failedMigrationIsUndone();
    void failedTransactionIsUndone_data();
    void failedTransactionIsUndone();
    void unreadableBookEndsTheRun_data();
    void unreadableBookEndsTheRun();
    void oneRunAtATime();
    void ownChangesGoUpWhateverTheStamps();
    void changeDuringTheRunStaysPending();
    void recordBroughtBackGoesUp();
    void damagedPendingRecordIsMadeAnew_data();
    void damagedPendingRecordIsMadeAnew();
    void clockDifferenceIsTold_data();
    void clockDifferenceIsTold();
    void unusableDateGivesNoWarning_data();
    void unusableDateGivesNoWarning();

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
        "delete from tbl_member where id='02'",
        // As rows that came into the book otherwise than by its own writes: their stamps alone say
        // what goes.
        "delete from tbl_sync_pending" }));
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
        "update tbl_bill_deleted set version='" + V1 + "' where id='gone'",
        // Nothing pending: the version rule alone.
        "delete from tbl_sync_pending" }));
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
    QTest::newRow("keys in another order: rows before the table's name and columns, deletions first")
        << QStringList { billInsert("tbl_bill", "gone", "1", V0), billInsert("tbl_bill", "older", "1", V0) }
        << QString(R"([{"delete_data":[["gone",")" + V1 + R"("]],"update_data":[)"
               + QJsonDocument(arrays({ billRow("older", "6", "d", V1), billRow("new", "7", "d", V1) }))
                     .toJson(QJsonDocument::Compact)
                     .mid(1)
                     .chopped(1)
               + R"(],"unknown":{"nested":[[{"deep":[1]}]]},"update_columns":)"
               + QJsonDocument(QJsonArray::fromStringList(billColumns)).toJson(QJsonDocument::Compact)
               + R"(,"table_name":"bill","delete_columns":["id","version"]}])")
        << QStringList { "select amount from tbl_bill where id='older'|6",
               "select amount from tbl_bill where id='new'|7", "select count(*) from tbl_bill where id='gone'|0",
               "select count(*) from tbl_bill_deleted where id='gone'|1" };
    QTest::newRow("numbers, true, false and null as cells")
        << QStringList()
        << QString(R"([{"table_name":"member","update_columns":["id","name","description","version"],)"
                   R"("update_data":[["m1",true,2.50,")"
               + V1 + R"("],["m2",null,12345678901234567,")" + V1 + R"("]]}])")
        << QStringList { "select name||'/'||description from tbl_member where id='m1'|true/2.5",
               "select quote(name)||'/'||description from tbl_member where id='m2'|''/1.23456789012346e+16" };
    // The service keeps no version further ahead of its clock (its Date) than five minutes: a local
    // version beyond that was stamped by a fast clock and yields to the service's row or deletion.
    const QString week = QDateTime::currentDateTimeUtc().addDays(7).toString("yyyy-MM-dd hh:mm:ss");
    const QString minutes = QDateTime::currentDateTimeUtc().addSecs(120).toString("yyyy-MM-dd hh:mm:ss");
    QTest::newRow("local row a week ahead: the service's taken")
        << QStringList { billInsert("tbl_bill", "x", "1", week) } << reply(bills({ billRow("x", "2", "d", V1) }))
        << QStringList { "select amount from tbl_bill where id='x'|2",
               "select version from tbl_bill where id='x'|" + V1 };
    QTest::newRow("local row ahead within the tolerance: kept")
        << QStringList { billInsert("tbl_bill", "x", "1", minutes) } << reply(bills({ billRow("x", "2", "d", V1) }))
        << QStringList { "select amount from tbl_bill where id='x'|1" };
    QTest::newRow("local row a week ahead, deleted by the service")
        << QStringList { billInsert("tbl_bill", "x", "1", week) } << reply(bills({}, { QJsonArray { "x", V1 } }))
        << QStringList { "select count(*) from tbl_bill where id='x'|0" };
    QTest::newRow("local deletion a week ahead: takes the service's version")
        << QStringList { billInsert("tbl_bill_deleted", "x", "1", week) }
        << reply(bills({}, { QJsonArray { "x", V1 } }))
        << QStringList { "select version from tbl_bill_deleted where id='x'|" + V1 };
    QTest::newRow("local deletion a week ahead, the row live at the service")
        << QStringList { billInsert("tbl_bill_deleted", "x", "1", week) }
        << reply(bills({ billRow("x", "2", "d", V1) }))
        << QStringList { "select amount from tbl_bill where id='x'|2", "select count(*) from tbl_bill_deleted|0" };
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
    // The rows are merged as they are read: those before the fault are undone with it.
    const QString rows = reply(bills({ billRow("new", "2", "d", V2), billRow("local", "3", "d", V2) }));
    QTest::newRow("rows, then a cell that is an array")
        << QJsonObject { { "body", rows.chopped(3) + R"(,[["x"]]]}])" } } << 0 << failedText;
    QTest::newRow("rows, then a table that is no object")
        << QJsonObject { { "body", rows.chopped(1) + R"(,"bill"])" } } << 0 << failedText;
    QTest::newRow("rows, then the reply breaks off") << QJsonObject { { "body", rows.chopped(10) } } << 0 << failedText;
    QTest::newRow("rows, then a table without a name")
        << QJsonObject { { "body", rows.chopped(1) + R"(,{"update_data":[]}])" } } << 0 << failedText;
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

void TestSyncHelper::replyOverTheCapIsRefused()
{
    syncOnce();
    QVERIFY(execAll({ billInsert("tbl_bill", "local", "1", V1) }));
    const QStringList rows = bookRows(QSqlDatabase::database(), true);
    QList<QJsonArray> many;
    for (int i = 0; i < 200; ++i)
        many << billRow(QString("r%1").arg(i), "1", "d", V2);
    const QString answer = reply(bills(many));
    service.setFault("sync/syncpc2.php", { { "body", answer } });
    HttpHelper::setMaxReplyBytes(answer.size() - 1);
    const SyncOutcome outcome = runSync();
    HttpHelper::setMaxReplyBytes(qint64(1) << 30);
    QVERIFY(!outcome.finished);
    QCOMPARE(outcome.code, 505);
    QCOMPARE(outcome.message, QString::fromUtf8("服务器发回的数据超过了 0 MB 的上限，本次同步没有改动账本。"));
    QCOMPARE(bookRows(QSqlDatabase::database(), true), rows);

    // At the cap itself the reply is taken.
    HttpHelper::setMaxReplyBytes(answer.size());
    const SyncOutcome taken = runSync();
    HttpHelper::setMaxReplyBytes(qint64(1) << 30);
    QVERIFY2(taken.finished, qPrintable(taken.message));
    QCOMPARE(scalar("select count(*) from tbl_bill where id like 'r%'").toInt(), 200);
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

// The upload's bill rows and bill deletions, by id.
QStringList uploadedIds(const QJsonObject& upload, const QString& table, bool deletions)
{
    const QJsonObject object = changeSetOf(upload).value(table);
    QStringList ids;
    if (deletions) {
        for (const QJsonValue& pair : object.value("delete_data").toArray())
            ids << pair.toArray().first().toString();
    } else {
        ids = rowsOf(object).keys();
    }
    ids.sort();
    return ids;
}

void TestSyncHelper::ownChangesGoUpWhateverTheStamps()
{
    syncOnce();
    // The last run's time stored a year ahead (the clock ran fast then), and changes stamped long
    // before it (the clock is slow now): a new bill, a changed one, a deletion, a new borrower.
    QVERIFY(execAll({ billInsert("tbl_bill", "kept", "1", "2001-01-01 00:00:00"),
        billInsert("tbl_bill", "gone", "1", "2001-01-01 00:00:00"), "delete from tbl_sync_pending",
        "update tbl_setting set sync_time='" + V2 + "'", billInsert("tbl_bill", "behind", "1", "2001-01-01 00:00:00"),
        "update tbl_bill set amount=2, version='2001-01-02 00:00:00' where id='kept'",
        "delete from tbl_bill where id='gone'",
        "update tbl_bill_deleted set version='2001-01-03 00:00:00' where id='gone'",
        "insert into tbl_borrower (id, name, version) values ('lender', 'L', '2001-01-01 00:00:00')" }));
    const SyncOutcome outcome = runSync();
    QVERIFY2(outcome.finished, qPrintable(outcome.message));
    const QJsonObject upload = service.requests("sync/syncpc2.php").value(0);
    QCOMPARE(uploadedIds(upload, "bill", false), QStringList({ "behind", "kept" }));
    QCOMPARE(uploadedIds(upload, "bill", true), QStringList({ "gone" }));
    QCOMPARE(uploadedIds(upload, "borrower", false), QStringList({ "lender" }));
    QCOMPARE(rowsOf(changeSetOf(upload).value("bill")).value("kept").at(billColumns.indexOf("amount")), QString("2"));
    // Sent, so forgotten: the next run sends none of them again.
    QCOMPARE(scalar("select count(*) from tbl_sync_pending").toInt(), 0);
    service.clearRequests();
    QVERIFY(runSync().finished);
    const QJsonObject next = service.requests("sync/syncpc2.php").value(0);
    QCOMPARE(uploadedIds(next, "bill", false), QStringList());
    QCOMPARE(uploadedIds(next, "bill", true), QStringList());
}

void TestSyncHelper::changeDuringTheRunStaysPending()
{
    syncOnce();
    const QString old = "2001-01-01 00:00:00";
    // What the service sends is merged without becoming a change of this book.
    service.setFault(
        "sync/syncpc2.php", { { "body", reply(bills({ billRow("theirs", "2", "d", "2002-01-01 00:00:00") })) } });
    SyncHelper* sync = SyncHelper::getInstance();
    QSignalSpy finished(sync, &SyncHelper::syncFinished);
    QVERIFY(sync->sync());
    // Written after the upload was read, before the answer is merged.
    QVERIFY(execAll({ billInsert("tbl_bill", "late", "1", old) }));
    QVERIFY(finished.wait(60000));
    const QJsonObject upload = service.requests("sync/syncpc2.php").value(0);
    QCOMPARE(uploadedIds(upload, "bill", false), QStringList());
    QCOMPARE(scalar("select count(*) from tbl_bill where id='theirs'").toInt(), 1);
    QCOMPARE(scalar("select group_concat(tbl||':'||id) from tbl_sync_pending").toString(), QString("bill:late"));

    service.clearConfig();
    service.clearRequests();
    QVERIFY(runSync().finished);
    QCOMPARE(uploadedIds(service.requests("sync/syncpc2.php").value(0), "bill", false), QStringList({ "late" }));
    QCOMPARE(scalar("select count(*) from tbl_sync_pending").toInt(), 0);
}

void TestSyncHelper::recordBroughtBackGoesUp()
{
    syncOnce();
    // A member deleted long ago while a bill still names it (a book written by another tool).
    QVERIFY(execAll({ "insert into tbl_member (id, name, version) values ('m', 'M', '2001-01-01 00:00:00')",
        "insert into tbl_bill (id, amount, description, date, month, kind, member_id, version) values ('b', 1, '', "
        "'2024-01-01', 202401, 'expense', 'm', '2001-01-01 00:00:00')",
        "delete from tbl_member where id='m'", "update tbl_member_deleted set version='2001-01-02 00:00:00'",
        "delete from tbl_sync_pending" }));
    service.setFault("sync/syncpc2.php", { { "body", "[]" } });
    QVERIFY(runSync().finished);
    QCOMPARE(scalar("select version from tbl_member where id='m'").toString(), QString("2001-01-02 00:00:00"));

    // The next run sends it, so that the service and the other books have it again too.
    service.clearConfig();
    service.clearRequests();
    QVERIFY(runSync().finished);
    QCOMPARE(uploadedIds(service.requests("sync/syncpc2.php").value(0), "member", false), QStringList({ "m" }));
}

void TestSyncHelper::damagedPendingRecordIsMadeAnew_data()
{
    QTest::addColumn<QStringList>("damage");
    QTest::newRow("table and triggers removed") << QStringList { "drop table tbl_sync_pending",
        "drop trigger bill_pending_insert", "drop trigger bill_pending_update", "drop trigger bill_pending_delete" };
    QTest::newRow("table with other columns")
        << QStringList { "drop table tbl_sync_pending", "create table tbl_sync_pending (what)" };
    QTest::newRow("a view in its place") << QStringList { "drop table tbl_sync_pending",
        "create view tbl_sync_pending as select 1 as seq" };
    QTest::newRow("a trigger that records nothing") << QStringList { "drop trigger bill_pending_insert",
        "create trigger bill_pending_insert after insert on tbl_bill begin select 1; end" };
}

void TestSyncHelper::damagedPendingRecordIsMadeAnew()
{
    QFETCH(QStringList, damage);
    syncOnce();
    const QString now = QDateTime::currentDateTimeUtc().toString("yyyy-MM-dd hh:mm:ss");
    QVERIFY(execAll({ billInsert("tbl_bill", "stamped", "1", now) }));
    QVERIFY(execAll(damage));
    const SyncOutcome outcome = runSync();
    QVERIFY2(outcome.finished, qPrintable(outcome.message));
    // This run went by the stamps; the record works again for the next.
    QVERIFY(uploadedIds(service.requests("sync/syncpc2.php").value(0), "bill", false).contains("stamped"));
    bool repaired = true;
    QVERIFY(DBHelper::ensurePendingChanges(QSqlDatabase::database(), &repaired));
    QVERIFY(!repaired);
    QVERIFY(execAll({ billInsert("tbl_bill", "behind", "1", "2001-01-01 00:00:00") }));
    service.clearRequests();
    QVERIFY(runSync().finished);
    QVERIFY(uploadedIds(service.requests("sync/syncpc2.php").value(0), "bill", false).contains("behind"));
}

void TestSyncHelper::clockDifferenceIsTold_data()
{
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<bool>("warned");
    QTest::newRow("right") << qint64(0) << false;
    QTest::newRow("four minutes ahead") << qint64(240) << false;
    QTest::newRow("four minutes behind") << qint64(-240) << false;
    QTest::newRow("a week behind") << qint64(-7 * 86400) << true;
    QTest::newRow("a week ahead") << qint64(7 * 86400) << true;
    QTest::newRow("an hour ahead") << qint64(3600) << true;
}

void TestSyncHelper::clockDifferenceIsTold()
{
    QFETCH(qint64, offset);
    QFETCH(bool, warned);
    syncOnce();
    // The computer's clock alone; the service keeps the real one.
    SyncHelper::setClock([offset] { return QDateTime::currentDateTimeUtc().addSecs(offset); });
    SyncHelper* sync = SyncHelper::getInstance();
    QSignalSpy warning(sync, &SyncHelper::clockWarning);
    const SyncOutcome outcome = runSync();
    SyncHelper::setClock({});
    // Nothing held back: the run completes either way.
    QVERIFY2(outcome.finished, qPrintable(outcome.message));
    QCOMPARE(warning.count(), warned ? 1 : 0);
    if (!warned)
        return;
    const qint64 told = warning.first().first().toLongLong();
    QVERIFY2(std::abs(told - offset) <= 5, qPrintable(QString::number(told)));
    const QString text = SyncHelper::clockWarningText(told);
    QVERIFY2(text.contains(offset > 0 ? QString::fromUtf8("快了") : QString::fromUtf8("慢了")), qPrintable(text));
    QVERIFY2(text.contains(offset == 3600 ? QString::fromUtf8("1 小时") : QString::fromUtf8("7 天")), qPrintable(text));
    QVERIFY2(text.contains(QString::fromUtf8("较晚")), qPrintable(text));
}

void TestSyncHelper::unusableDateGivesNoWarning_data()
{
    QTest::addColumn<QByteArray>("dateHeader");
    QTest::newRow("none") << QByteArray();
    QTest::newRow("empty") << QByteArray("Date: \r\n");
    QTest::newRow("not a date") << QByteArray("Date: yesterday\r\n");
    QTest::newRow("no such day") << QByteArray("Date: Fri, 32 Dec 2026 10:00:00 GMT\r\n");
    QTest::newRow("another zone") << QByteArray("Date: 2026-12-11T10:00:00+08:00\r\n");
    QTest::newRow("very long") << "Date: " + QByteArray(6000, 'x') + "\r\n";
}

void TestSyncHelper::unusableDateGivesNoWarning()
{
    QFETCH(QByteArray, dateHeader);
    syncOnce();
    // A service of the test's own that answers the upload with an empty change set and the header.
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QByteArray request;
    connect(&server, &QTcpServer::newConnection, &server, [&] {
        QTcpSocket* socket = server.nextPendingConnection();
        connect(socket, &QTcpSocket::readyRead, socket, [&, socket] {
            request += socket->readAll();
            const qsizetype end = request.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const qsizetype length = request.indexOf("Content-Length: ");
            const qsizetype size
                = length < 0 ? 0 : request.mid(length + 16, request.indexOf('\r', length) - length - 16).toLongLong();
            if (request.size() < end + 4 + size)
                return;
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 2\r\nConnection: close\r\n"
                + dateHeader + "\r\n[]");
            socket->disconnectFromHost();
        });
    });
    qputenv("QUORVANE_BASE_URL", QString("http://127.0.0.1:%1/").arg(server.serverPort()).toUtf8());
    // A clock a week off, which a usable date would have told.
    SyncHelper::setClock([] { return QDateTime::currentDateTimeUtc().addDays(-7); });
    QSignalSpy warning(SyncHelper::getInstance(), &SyncHelper::clockWarning);
    const SyncOutcome outcome = runSync();
    SyncHelper::setClock({});
    QVERIFY2(outcome.finished, qPrintable(outcome.message));
    QCOMPARE(warning.count(), 0);
}

QTEST_GUILESS_MAIN(TestSyncHelper)
#include "tst_synchelper.moc"
