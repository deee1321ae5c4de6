#include <QFile>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTest>

#include "data/dbhelper.h"
#include "data/dbsetting.h"
#include "data/maccount.h"
#include "data/mcategory.h"
#include "data/notifier.h"
#include "notifierrecorder.h"
#include "testenv.h"

namespace {

// A book made from an SQL script of tests/data/fixtures, open as the default connection.
class ScriptBook {
public:
    ScriptBook(const QString& path, const QString& script)
    {
        QFile::remove(path);
        loaded = bookFromScript(path, QStringLiteral(QUORVANE_FIXTURES "/") + script);
        TestBook::openDefault(path);
    }
    ~ScriptBook()
    {
        DbSetting::setInstance(nullptr);
        TestBook::closeDefault();
    }
    bool loaded = false;
};

QStringList schema()
{
    QStringList rows;
    QSqlQuery query("select type, name, sql from sqlite_master order by name");
    while (query.next())
        rows << query.value(0).toString() + " " + query.value(1).toString() + " " + query.value(2).toString();
    return rows;
}

QStringList columns(const QString& table)
{
    QStringList names;
    QSqlQuery query("select name from pragma_table_info('" + table + "')");
    while (query.next())
        names << query.value(0).toString();
    return names;
}

int count(const QString& table, const QString& where = "1=1")
{
    return scalar("select count(*) from " + table + " where " + where).toInt();
}

} // namespace

class TestDBHelper : public QObject {
    Q_OBJECT

private slots:
    void openedBookIsReadFastAndLeftAsItWas();
    void newBookGetsTheDefaultRecords();
    void defaultSubCategoriesBelongToTheirParents_data();
    void defaultSubCategoriesBelongToTheirParents();
    void defaultRecordsOfTheOpenBookAnnounceThemselves();
    void failedDefaultRecordsLeaveNothing();
    void otherBookIsFilledOnItsOwnConnection();
    void otherBookThatIsMissingIsNotCreated();
    void upgradeByStoredVersion_data();
    void upgradeByStoredVersion();
    void upgradeFromVersion7RunsEveryStatement();
    void upgradeSkipsWhatTheBookAlreadyHas();
    void failingUpgradeRollsBackAndKeepsTheVersion();
    void bookWithoutSettingsRowGetsOne();
};

void TestDBHelper::openedBookIsReadFastAndLeftAsItWas()
{
    TestEnv env;
    const QString path = env.dataDir() + "fast.db";
    QVERIFY(TestBook::copyTemplate(path));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray header = file.read(100);
    file.close();

    QVERIFY(DBHelper::openDefaultConnection(path));
    QVERIFY(scalar("pragma mmap_size").toLongLong() > 0);
    QVERIFY(scalar("pragma cache_size").toInt() < -2000);
    QCOMPARE(scalar("pragma journal_mode").toString(), QString("delete"));
    QVERIFY(scalar("select count(*) from tbl_bill").isValid());
    TestBook::closeDefault();

    // Connection settings only: the file's header (page size, journal and schema format) is as it was.
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.read(100), header);
    DbSetting::setInstance(nullptr);
}

void TestDBHelper::newBookGetsTheDefaultRecords()
{
    TestEnv env;
    TestBook book(env.dataDir() + "new.db");
    QVERIFY(DBHelper::getInstance()->upgrade());
    QVERIFY(DBHelper::getInstance()->initDefaultData(""));

    QCOMPARE(count("tbl_account"), 2);
    QCOMPARE(count("tbl_borrower"), 1);
    QCOMPARE(count("tbl_category"), 12);
    QCOMPARE(count("tbl_category", "kind='expense'"), 10);
    QCOMPARE(count("tbl_category", "kind='income'"), 2);
    QCOMPARE(count("tbl_sub_category"), 25);
    QCOMPARE(count("tbl_member"), 2);
    for (const char* table : { "tbl_account", "tbl_borrower", "tbl_category", "tbl_sub_category", "tbl_member" })
        QCOMPARE(count(table, "version<>'2007-07-07 07:07:07'"), 0);
    QCOMPARE(scalar("select version from tbl_setting").toInt(), 38);
    QCOMPARE(scalar("select password from tbl_setting").toString(), QString("d41d88427e"));
    QCOMPARE(scalar("select sync_password from tbl_setting").toString(), QString("d41d88427e"));

    QCOMPARE(scalar("select name||'/'||kind||'/'||amount||'/'||sort from tbl_account where id='02'").toString(),
        QString("我的银行卡/card/0.0/2"));
    QCOMPARE(
        scalar("select name||'/'||description||'/'||sort||'/'||ifnull(kind,'null') from tbl_borrower where id='01'")
            .toString(),
        QString("借款人/借款人/1/null"));
    QCOMPARE(scalar("select group_concat(name||'='||description, ',') from (select * from tbl_member order by id)")
                 .toString(),
        QString("自己=我自己,家人=我的家人"));
    // Ids equal sorts; income follows expense in both counters.
    QCOMPARE(count("tbl_category", "cast(id as integer)<>sort"), 0);
    QCOMPARE(count("tbl_sub_category", "cast(id as integer)<>sort"), 0);
    QCOMPARE(scalar("select name from tbl_category where id='11'").toString(), QString("工资奖金"));
    QCOMPARE(scalar("select id from tbl_category where name='其它支出'").toString(), QString("10"));
}

void TestDBHelper::defaultSubCategoriesBelongToTheirParents_data()
{
    QTest::addColumn<QString>("subId");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parentId");
    QTest::addColumn<QString>("kind");
    QTest::newRow("first") << "01"
                           << "早中晚餐"
                           << "01"
                           << "expense";
    QTest::newRow("bus") << "10"
                         << "公交车"
                         << "04"
                         << "expense";
    QTest::newRow("last expense") << "22"
                                  << "其它支出"
                                  << "10"
                                  << "expense";
    QTest::newRow("salary") << "23"
                            << "工资收入"
                            << "11"
                            << "income";
    QTest::newRow("last income") << "25"
                                 << "其它收入"
                                 << "12"
                                 << "income";
}

void TestDBHelper::defaultSubCategoriesBelongToTheirParents()
{
    QFETCH(QString, subId);
    QFETCH(QString, name);
    QFETCH(QString, parentId);
    QFETCH(QString, kind);
    TestEnv env;
    TestBook book(env.dataDir() + "new.db");
    QVERIFY(DBHelper::getInstance()->initDefaultData(""));
    MCategory::get(""); // attaches the sub-categories to their parents
    MCategory* sub = MCategory::getSubCategoryById(subId);
    QVERIFY(sub);
    QCOMPARE(sub->getName(), name);
    QCOMPARE(sub->getDescription(), name);
    QCOMPARE(sub->getKind(), kind);
    QCOMPARE(sub->getCategoryId(), parentId);
    QVERIFY(sub->getParent());
    QCOMPARE(sub->getParent()->getId(), parentId);
}

void TestDBHelper::defaultRecordsOfTheOpenBookAnnounceThemselves()
{
    TestEnv env;
    TestBook book(env.dataDir() + "new.db");
    NotifierRecorder recorder;
    QVERIFY(DBHelper::getInstance()->initDefaultData(""));
    QStringList expected = { "account", "account", "borrower" };
    for (int i = 0; i < 37; ++i)
        expected << "category";
    expected << "member"
             << "member";
    QCOMPARE(recorder.signalList, expected);
    QCOMPARE(MAccount::get()->size(), 2);
}

void TestDBHelper::failedDefaultRecordsLeaveNothing()
{
    TestEnv env;
    TestBook book(env.dataDir() + "new.db");
    // A member "02" already exists, so the last insert fails.
    QVERIFY(execAll({ "insert into tbl_member (id, name, sort, version) values ('02', '旧家人', 7, 'x')" }));
    QList<MAccount*>* loadedInside = nullptr;
    NotifierRecorder recorder;
    QObject listener;
    connect(Notifier::getInstance(), &Notifier::accountDataChanged, &listener,
        [&] { loadedInside = MAccount::get(); }); // a page reloading inside the transaction
    QVERIFY(!DBHelper::getInstance()->initDefaultData(""));

    QCOMPARE(count("tbl_account"), 0);
    QCOMPARE(count("tbl_category"), 0);
    QCOMPARE(count("tbl_sub_category"), 0);
    QCOMPARE(count("tbl_member"), 1);
    QCOMPARE(scalar("select version from tbl_member").toString(), QString("x"));
    // Whatever was loaded inside the transaction is dropped again.
    QVERIFY(loadedInside);
    QCOMPARE(MAccount::get()->size(), 0);
    QCOMPARE(recorder.signalList.mid(recorder.signalList.size() - 4),
        QStringList({ "account", "borrower", "category", "member" }));
}

void TestDBHelper::otherBookIsFilledOnItsOwnConnection()
{
    TestEnv env;
    TestBook book(env.dataDir() + "open.db");
    QVERIFY(DBHelper::getInstance()->initDefaultData(""));
    QVERIFY(execAll({ "update tbl_account set name='开着的钱包' where id='01'" }));
    MAccount::clearCache();
    QList<MAccount*>* accounts = MAccount::get();
    QList<MCategory*>* categories = MCategory::get("expense");
    QCOMPARE(categories->size(), 10);

    const QString other = env.dataDir() + "other.db";
    QVERIFY(TestBook::copyTemplate(other));
    NotifierRecorder recorder;
    QVERIFY(DBHelper::getInstance()->initDefaultData(other));

    QVERIFY(recorder.signalList.isEmpty());
    QCOMPARE(QSqlDatabase::connectionNames(), QStringList({ QSqlDatabase::defaultConnection }));
    QCOMPARE(QSqlDatabase::database().databaseName(), book.path());
    QCOMPARE(MAccount::get(), accounts);
    QCOMPARE(accounts->at(0)->getName(), QString("开着的钱包"));
    QCOMPARE(MCategory::get("expense"), categories);
    QCOMPARE(categories->size(), 10);

    TestBook::openDefault(other);
    QCOMPARE(count("tbl_account"), 2);
    QCOMPARE(count("tbl_sub_category"), 25);
    QCOMPARE(count("tbl_member", "version='2007-07-07 07:07:07'"), 2);
    QCOMPARE(scalar("select name from tbl_account where id='01'").toString(), QString("我的钱包"));
    // The other book keeps its template settings until it is opened and upgraded.
    QCOMPARE(scalar("select version from tbl_setting").toInt(), 12);

    // Filling it a second time fails on the existing ids and changes nothing.
    TestBook::openDefault(book.path());
    QVERIFY(!DBHelper::getInstance()->initDefaultData(other));
    TestBook::openDefault(other);
    QCOMPARE(count("tbl_account"), 2);
    QCOMPARE(count("tbl_category"), 12);
}

void TestDBHelper::otherBookThatIsMissingIsNotCreated()
{
    TestEnv env;
    TestBook book(env.dataDir() + "open.db");
    const QString missing = env.dataDir() + "missing.db";
    QVERIFY(!DBHelper::getInstance()->initDefaultData(missing));
    QVERIFY(!QFile::exists(missing));
    QCOMPARE(QSqlDatabase::connectionNames(), QStringList({ QSqlDatabase::defaultConnection }));
}

void TestDBHelper::upgradeByStoredVersion_data()
{
    QTest::addColumn<QString>("storedVersion");
    QTest::addColumn<int>("versionAfter");
    QTest::addColumn<bool>("rowRewritten");
    QTest::newRow("version 8") << "8" << 38 << true;
    QTest::newRow("template version 12") << "12" << 38 << true;
    QTest::newRow("version 37") << "37" << 38 << true;
    QTest::newRow("null counts as 0") << "null" << 38 << true;
    QTest::newRow("current version 38") << "38" << 38 << false;
    QTest::newRow("newer version 40") << "40" << 40 << false;
}

void TestDBHelper::upgradeByStoredVersion()
{
    QFETCH(QString, storedVersion);
    QFETCH(int, versionAfter);
    QFETCH(bool, rowRewritten);
    TestEnv env;
    TestBook book(env.dataDir() + "book.db");
    QVERIFY(execAll({ "update tbl_setting set version=" + storedVersion }));
    const QStringList before = schema();

    QVERIFY(DBHelper::getInstance()->upgrade());

    // Every statement's effect is already in a template book: none runs. The record of pending
    // changes is all it adds, whatever the version (a book of this version made before it lacks it).
    QStringList after = schema();
    const QStringList pending = after.filter(QRegularExpression("^(table tbl_sync_pending|trigger "
                                                                "\\w+_pending_(insert|update|delete)) "));
    QCOMPARE(pending.size(), 1 + 6 * 3);
    for (const QString& row : pending)
        after.removeOne(row);
    QCOMPARE(after, before);
    QCOMPARE(scalar("select version from tbl_setting").toInt(), versionAfter);
    QCOMPARE(DbSetting::getInstance()->getVersion(), versionAfter);
    const QVariant password = scalar("select password from tbl_setting");
    if (rowRewritten) {
        QCOMPARE(password.toString(), QString("d41d88427e"));
    } else {
        QVERIFY(password.isNull()); // not written at all
    }
    QCOMPARE(scalar("select sync_time from tbl_setting").toString(), QString("2008-08-08 08:08:08.000"));
}

void TestDBHelper::upgradeFromVersion7RunsEveryStatement()
{
    TestEnv env;
    ScriptBook book(env.dataDir() + "old.db", "book-v7.sql");
    QVERIFY(book.loaded);
    QCOMPARE(DbSetting::getInstance()->getVersion(), 7);
    // A book of its version: the categories come with the upgrade.
    QVERIFY(DBHelper::checkSchema());

    QVERIFY(DBHelper::getInstance()->upgrade());
    QVERIFY(DBHelper::checkSchema());
    QCOMPARE(scalar("select version from tbl_setting").toInt(), 38);
    QCOMPARE(scalar("select sync_time from tbl_setting").toString(), QString("2010-01-02 03:04:05"));

    // 1-4: the category columns are appended to the bills and their tombstones; old rows keep
    // their data with the new columns empty.
    QCOMPARE(
        columns("tbl_bill").mid(columns("tbl_bill").size() - 2), QStringList({ "category_id", "sub_category_id" }));
    QCOMPARE(columns("tbl_bill_deleted"), columns("tbl_bill"));
    QCOMPARE(scalar("select title||amount||ifnull(category_id,'-') from tbl_bill where id='old-bill'").toString(),
        QString("午饭-12.5-"));
    // 5, 8, 9, 12: the four category tables, the sub-categories with their parent second.
    QCOMPARE(
        columns("tbl_category"), QStringList({ "id", "user_id", "name", "kind", "description", "sort", "version" }));
    QCOMPARE(columns("tbl_category_deleted"), columns("tbl_category"));
    QCOMPARE(columns("tbl_sub_category"),
        QStringList({ "id", "category_id", "user_id", "name", "kind", "description", "sort", "version" }));
    QCOMPARE(columns("tbl_sub_category_deleted"), columns("tbl_sub_category"));

    // The upgraded book takes the default records; the bill can be moved into a category.
    QVERIFY(DBHelper::getInstance()->initDefaultData(""));
    QCOMPARE(count("tbl_sub_category"), 25);
    QVERIFY(execAll({ "update tbl_bill set category_id='01', sub_category_id='01' where id='old-bill'" }));

    // 6, 10: the update triggers have no condition, so even the old stamp written by the default
    // records is replaced by the time of the write.
    QCOMPARE(count("tbl_account", "id in ('01', '02') and version='2007-07-07 07:07:07'"), 2);
    QCOMPARE(count("tbl_category", "version='2007-07-07 07:07:07'"), 0);
    QCOMPARE(count("tbl_sub_category", "version='2007-07-07 07:07:07'"), 0);
    // 7, 11: the delete triggers keep tombstones.
    QVERIFY(execAll({ "delete from tbl_sub_category where id='25'", "delete from tbl_category where id='12'" }));
    QCOMPARE(scalar("select name from tbl_sub_category_deleted where id='25'").toString(), QString("其它收入"));
    QCOMPARE(scalar("select category_id from tbl_sub_category_deleted where id='25'").toString(), QString("12"));
    QCOMPARE(scalar("select name from tbl_category_deleted where id='12'").toString(), QString("其它收入"));

    // Stored as 38, the statements never run again.
    const QStringList after = schema();
    DbSetting::setInstance(nullptr);
    QVERIFY(DBHelper::getInstance()->upgrade());
    QCOMPARE(schema(), after);
}

void TestDBHelper::upgradeSkipsWhatTheBookAlreadyHas()
{
    TestEnv env;
    ScriptBook book(env.dataDir() + "old.db", "book-v7.sql");
    QVERIFY(book.loaded);
    // A book where an earlier run got half-way: two columns and one table are there already.
    QVERIFY(execAll({ "ALTER TABLE tbl_bill ADD COLUMN category_id VARCHAR(36)",
        "ALTER TABLE tbl_bill_deleted ADD COLUMN category_id VARCHAR(36)",
        "CREATE TABLE tbl_category (id VARCHAR(36) NOT NULL, user_id int DEFAULT 0, name NVARCHAR(10) NOT NULL, "
        "kind nvarchar(10) NOT NULL, description NVARCHAR(50), sort INTEGER DEFAULT 0, version TIMESTAMP DEFAULT "
        "CURRENT_TIMESTAMP, PRIMARY KEY (id))",
        "insert into tbl_category (id, name, kind) values ('keep', '留着', 'expense')" }));

    QVERIFY(DBHelper::getInstance()->upgrade());
    QCOMPARE(scalar("select version from tbl_setting").toInt(), 38);
    QCOMPARE(columns("tbl_bill").count("category_id"), 1);
    QCOMPARE(columns("tbl_bill").last(), QString("sub_category_id"));
    QCOMPARE(scalar("select name from tbl_category where id='keep'").toString(), QString("留着"));
    // The upgrade's own four, beside those of the record of pending changes.
    QCOMPARE(count("sqlite_master", "type='trigger' and name like '%category%' and name not like '%pending%'"), 4);
}

void TestDBHelper::failingUpgradeRollsBackAndKeepsTheVersion()
{
    TestEnv env;
    ScriptBook book(env.dataDir() + "old.db", "book-v7.sql");
    QVERIFY(book.loaded);
    // Without the bill tombstones the third statement fails.
    QVERIFY(execAll({ "drop table tbl_bill_deleted", "drop trigger bill_deleted" }));
    const QStringList before = schema();

    QVERIFY(!DBHelper::getInstance()->upgrade());
    QCOMPARE(schema(), before); // the two columns added before the failure are gone again
    QCOMPARE(scalar("select version from tbl_setting").toInt(), 7);
    QCOMPARE(DbSetting::getInstance()->getVersion(), 7);
    QVERIFY(scalar("select password from tbl_setting").isNull());

    // Repaired, the next open upgrades.
    QVERIFY(execAll({ "create table tbl_bill_deleted as select * from tbl_bill where 0" }));
    QVERIFY(DBHelper::getInstance()->upgrade());
    QCOMPARE(scalar("select version from tbl_setting").toInt(), 38);
    QCOMPARE(columns("tbl_bill_deleted").mid(columns("tbl_bill_deleted").size() - 2),
        QStringList({ "category_id", "sub_category_id" }));
}

void TestDBHelper::bookWithoutSettingsRowGetsOne()
{
    TestEnv env;
    TestBook book(env.dataDir() + "book.db");
    QVERIFY(execAll({ "delete from tbl_setting" }));
    QVERIFY(!DbSetting::getInstance()->hasRow());

    QVERIFY(DBHelper::getInstance()->upgrade());
    QCOMPARE(count("tbl_setting"), 1);
    QCOMPARE(scalar("select version from tbl_setting").toInt(), 38);
    QCOMPARE(scalar("select sync_time from tbl_setting").toString(), QString("2008-08-08 08:08:08.000"));
    QCOMPARE(scalar("select password from tbl_setting").toString(), QString("d41d88427e"));
    DbSetting* setting = DbSetting::getInstance();
    QVERIFY(setting->hasRow());
    QCOMPARE(setting->getVersion(), 38);
    QCOMPARE(setting->getSyncTime(), QDateTime(QDate(2008, 8, 8), QTime(8, 8, 8), Qt::UTC));
    // A setting saved afterwards lands in that row.
    setting->setSyncUsername("alice");
    QVERIFY(setting->save());
    QCOMPARE(scalar("select sync_username from tbl_setting").toString(), QString("alice"));
}

QTEST_GUILESS_MAIN(TestDBHelper)
#include "tst_dbhelper.moc"
