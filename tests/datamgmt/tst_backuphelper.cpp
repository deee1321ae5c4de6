#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include <memory>

#include "data/backuphelper.h"
#include "data/booklock.h"
#include "data/constants.h"
#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "data/sqlhelper.h"
#include "kobelfixture.h"
#include "testenv.h"

using KobelFixture::columnIn;

namespace {

QString book()
{
    return Constants::getInstance()->getDbDir() + Constants::getInstance()->getBookName();
}

QStringList backups()
{
    return QDir(Constants::getInstance()->getBackupDir()).entryList(QDir::Files, QDir::Name);
}

// Runs one statement on its own connection to path.
bool execIn(const QString& path, const QString& sql)
{
    return withBookConnection(
        path, "exec", BookAccess::ReadWrite, [&](QSqlDatabase& db) { return QSqlQuery(db).exec(sql); });
}

bool mark(const QString& path, const QString& name)
{
    return execIn(path, QString("insert into tbl_member (id, name) values ('mark', '%1')").arg(name));
}

bool ownerOnly(const QString& path)
{
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther
        | QFileDevice::WriteOther | QFileDevice::ExeOwner;
    return QFileInfo::exists(path) && !(QFileInfo(path).permissions() & others);
}

// Writes the first half of a copy of the template book to path.
bool truncatedBook(const QString& path, const QString& scratch)
{
    if (!TestBook::copyTemplate(scratch))
        return false;
    const QByteArray bytes = fileBytes(scratch);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes.left(bytes.size() / 2)) == bytes.size() / 2;
}

// What is left of the import beside the book and among the connections.
bool importLeftNothing()
{
    const QStringList connections = QSqlDatabase::connectionNames();
    return !connections.contains("init") && !connections.contains("kobel") && !connections.contains("restored")
        && QDir(Constants::getInstance()->getDbDir())
               .entryList({ "*.importing", "*.restoring" }, QDir::Files)
               .isEmpty();
}

} // namespace

class TestBackupHelper : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void backupNames_data();
    void backupNames();
    void backupNeverReplacesAFile();
    void backupOfAMissingBookFails();
    void automaticBackupsKeepTheNewest();
    void restoreReplacesTheBook();
    void restoreRefusesWhatIsNotABook_data();
    void restoreRefusesWhatIsNotABook();
    void restoreKeepsTheOldBook_data();
    void restoreKeepsTheOldBook();
    void backupNameOfAMoment();
    void kobelConvertsTheFile();
    void kobelLeavesTombstonesOfTheDefaults();
    void kobelKeepsWhatTheBookCanHold_data();
    void kobelKeepsWhatTheBookCanHold();
    void kobelKeepsImportedRowsWithDefaultIds();
    void kobelRefusesWhatItCannotConvert_data();
    void kobelRefusesWhatItCannotConvert();

private:
    TestEnv* env = nullptr;
};

void TestBackupHelper::init()
{
    env = new TestEnv;
}

void TestBackupHelper::cleanup()
{
    delete env;
}

void TestBackupHelper::backupNames_data()
{
    QTest::addColumn<QString>("bookName");
    QTest::addColumn<QString>("base");
    QTest::newRow("plain") << "home.db"
                           << "home";
    QTest::newRow("several dots") << "my.book.db"
                                  << "my";
    QTest::newRow("chinese") << "家庭.db"
                             << "家庭";
}

void TestBackupHelper::backupNames()
{
    QFETCH(QString, bookName);
    QFETCH(QString, base);
    QVERIFY(Constants::getInstance()->setBookName(bookName));
    QVERIFY(TestBook::copyTemplate(book()));
    const QString name = BackupHelper::generateBackupFileName();
    QVERIFY2(QRegularExpression("^" + QRegularExpression::escape(base) + "\\d{17}\\.db$").match(name).hasMatch(),
        qPrintable(name));
    QVERIFY(BackupHelper::backup(QString()));
    QVERIFY(BackupHelper::backup("named.db"));
    QCOMPARE(backups().size(), 2);
    QVERIFY(backups().contains("named.db"));
    for (const QString& name : backups())
        QVERIFY(ownerOnly(Constants::getInstance()->getBackupDir() + name));
    QCOMPARE(
        valueIn(Constants::getInstance()->getBackupDir() + "named.db", "select version from tbl_setting").toInt(), 12);
}

void TestBackupHelper::backupNeverReplacesAFile()
{
    QVERIFY(TestBook::copyTemplate(book()));
    QFile taken(Constants::getInstance()->getBackupDir() + "taken.db");
    QVERIFY(taken.open(QIODevice::WriteOnly));
    taken.write("keep me");
    taken.close();
    QVERIFY(!BackupHelper::backup("taken.db"));
    QVERIFY(taken.open(QIODevice::ReadOnly));
    QCOMPARE(taken.readAll(), QByteArray("keep me"));
}

void TestBackupHelper::backupOfAMissingBookFails()
{
    QVERIFY(!BackupHelper::backup(QString()));
    QVERIFY(backups().isEmpty());
}

void TestBackupHelper::automaticBackupsKeepTheNewest()
{
    const QString dir = Constants::getInstance()->getBackupDir();
    // Two books whose backups look alike: both names begin with "home" up to the first dot.
    for (const char* name : { "home.db", "home.old.db" }) {
        QVERIFY(Constants::getInstance()->setBookName(QLatin1String(name)));
        QVERIFY(TestBook::copyTemplate(book()));
    }
    QVERIFY(BackupHelper::backup(QString()));
    QTest::qWait(2);
    QVERIFY(BackupHelper::backup(QString()));
    const QStringList otherBook = BackupHelper::automaticBackups("home.old.db");
    QCOMPARE(otherBook.size(), 2);
    // What is not an automatic backup of home.db, and must stay: a copy named by the restore (with a
    // name like an automatic one's), a manual backup, a deleted book, a file of the user's.
    QVERIFY(Constants::getInstance()->setBookName("home.db"));
    QVERIFY(BackupHelper::backup(QStringLiteral("home20000101000000000.db")));
    QVERIFY(BackupHelper::backup(QStringLiteral("手动备份.db")));
    QVERIFY(writeFile(dir + "home.db.deleted", "a deleted book"));
    QVERIFY(writeFile(dir + "home20000101000000001.db", "the user's"));
    const QStringList kept = backups();

    QStringList automatic;
    for (int i = 0; i < BackupHelper::KeptAutomaticBackups; ++i) {
        QTest::qWait(2); // backup names carry milliseconds
        QVERIFY(BackupHelper::backup(QString()));
        automatic = BackupHelper::automaticBackups("home.db");
        QCOMPARE(automatic.size(), i + 1);
    }
    const QString oldest = automatic.first();
    QTest::qWait(2);
    QVERIFY(BackupHelper::backup(QString()));
    // The 21st removed the oldest, and only that one.
    const QStringList now = BackupHelper::automaticBackups("home.db");
    QCOMPARE(now.size(), BackupHelper::KeptAutomaticBackups);
    QCOMPARE(now.mid(0, BackupHelper::KeptAutomaticBackups - 1), automatic.mid(1));
    QVERIFY(!QFile::exists(dir + oldest));
    for (const QString& name : now)
        QVERIFY(ownerOnly(dir + name));
    for (const QString& name : kept)
        QVERIFY2(QFile::exists(dir + name), qPrintable(name));
    QCOMPARE(BackupHelper::automaticBackups("home.old.db"), otherBook);
    QCOMPARE(fileBytes(dir + "home20000101000000001.db"), QByteArray("the user's"));
    // The list of automatic backups is the owner's like the backups, and out of the user's way.
    QVERIFY(ownerOnly(dir + ".home.db.autobackups"));
}

void TestBackupHelper::restoreReplacesTheBook()
{
    QVERIFY(TestBook::copyTemplate(book()));
    QVERIFY(mark(book(), "current"));
    const QString source = env->root() + "/elsewhere/chosen.db";
    QVERIFY(TestBook::copyTemplate(source));
    QVERIFY(mark(source, "chosen"));
    QVERIFY(execIn(source, "update tbl_setting set sync_time='2020-01-01 00:00:00'"));
    // Read-only for everybody, as a file from elsewhere may be: the book becomes its owner's alone.
    QVERIFY(QFile::setPermissions(source, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));

    QVERIFY(BackupHelper::restore(source));
    QCOMPARE(valueIn(book(), "select name from tbl_member where id='mark'").toString(), QString("chosen"));
    QCOMPARE(valueIn(book(), "select sync_time from tbl_setting").toString(), QString("2008-08-08 08:08:08"));
    // The source stays as it was; the old book survives as the safety backup.
    QCOMPARE(valueIn(source, "select sync_time from tbl_setting").toString(), QString("2020-01-01 00:00:00"));
    QCOMPARE(backups().size(), 1);
    QCOMPARE(valueIn(Constants::getInstance()->getBackupDir() + backups().first(),
                 "select name from tbl_member where id='mark'")
                 .toString(),
        QString("current"));
    QVERIFY(ownerOnly(book()));
    QVERIFY(ownerOnly(Constants::getInstance()->getBackupDir() + backups().first()));
    QVERIFY(importLeftNothing());
}

void TestBackupHelper::restoreRefusesWhatIsNotABook_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("text file") << "text";
    QTest::newRow("database without the book's tables") << "database";
    QTest::newRow("missing file") << "missing";
    QTest::newRow("the book itself") << "itself";
    QTest::newRow("truncated book") << "truncated";
    QTest::newRow("no current book") << "nobook";
}

void TestBackupHelper::restoreRefusesWhatIsNotABook()
{
    QFETCH(QString, kind);
    if (kind != "nobook") {
        QVERIFY(TestBook::copyTemplate(book()));
        QVERIFY(mark(book(), "current"));
    }
    QString source = env->root() + "/source.db";
    if (kind == "text") {
        QFile file(source);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a book at all");
    } else if (kind == "database") {
        QVERIFY(execIn(source, "create table t (x)"));
    } else if (kind == "itself") {
        source = book();
    } else if (kind == "truncated") {
        QVERIFY(truncatedBook(source, env->root() + "/whole.db"));
    } else if (kind == "nobook") {
        QVERIFY(TestBook::copyTemplate(source));
    }
    const QByteArray before = fileBytes(book());
    const QStringList filesBefore = QDir(env->root()).entryList(QDir::Files);
    QVERIFY(!BackupHelper::restore(source));
    if (kind != "nobook") {
        QCOMPARE(fileBytes(book()), before);
        QVERIFY(backups().isEmpty());
    } else {
        QVERIFY(!QFileInfo::exists(book()));
    }
    QCOMPARE(QDir(env->root()).entryList(QDir::Files), filesBefore);
    QVERIFY(importLeftNothing());
}

void TestBackupHelper::restoreKeepsTheOldBook_data()
{
    QTest::addColumn<QString>("where");
    QTest::newRow("backups on the book's disk") << "same disk";
    QTest::newRow("backups on another disk") << "other disk";
    QTest::newRow("after a replacement cut off by a crash") << "crashed";
}

void TestBackupHelper::restoreKeepsTheOldBook()
{
    QFETCH(QString, where);
    const QString backupDir = Constants::getInstance()->getBackupDir();
    std::unique_ptr<FullDisk> otherDisk;
    if (where == "other disk") {
        otherDisk = std::make_unique<FullDisk>(QDir::cleanPath(backupDir));
        if (!otherDisk->isMounted())
            QSKIP("no disk of its own can be mounted for the backups here");
    }
    QVERIFY(TestBook::copyTemplate(book()));
    QVERIFY(mark(book(), "current"));
    // A book last written long ago: its safety backup is still the newest backup.
    QFile old(book());
    QVERIFY(old.open(QIODevice::ReadWrite));
    QVERIFY(old.setFileTime(QDateTime(QDate(2001, 2, 3), QTime(4, 5)), QFileDevice::FileModificationTime));
    old.close();
    if (where == "crashed") {
        // The whole book that a crash between the renames of an earlier replacement left beside it.
        QVERIFY(TestBook::copyTemplate(book() + ".replacing"));
        QVERIFY(mark(book() + ".replacing", "earlier"));
    }
    const QString source = env->root() + "/chosen.db";
    QVERIFY(TestBook::copyTemplate(source));
    QVERIFY(mark(source, "chosen"));

    QString reason;
    QVERIFY2(BackupHelper::restore(source, &reason), qPrintable(reason));
    QCOMPARE(valueIn(book(), "select name from tbl_member where id='mark'").toString(), QString("chosen"));
    QStringList kept;
    for (const QString& backup : backups()) {
        const QString path = backupDir + backup;
        const QString mark = valueIn(path, "select name from tbl_member where id='mark'").toString();
        kept << mark;
        QVERIFY2(ownerOnly(path), qPrintable(backup));
        QCOMPARE(valueIn(path, "pragma integrity_check").toString(), QString("ok"));
        if (mark == "current") {
            const QDateTime made = QFileInfo(path).lastModified();
            QVERIFY2(made.secsTo(QDateTime::currentDateTime()) < 60, qPrintable(made.toString(Qt::ISODate)));
        }
    }
    kept.sort();
    const QStringList wanted = where == "crashed" ? QStringList { "current", "earlier" } : QStringList { "current" };
    QCOMPARE(kept, wanted);
    QVERIFY(!QFileInfo::exists(book() + ".replacing"));
    QVERIFY(importLeftNothing());
    BookLock::releaseOpenBook();
}

void TestBackupHelper::backupNameOfAMoment()
{
    QVERIFY(Constants::getInstance()->setBookName("home.db"));
    QCOMPARE(BackupHelper::generateBackupFileName(QDateTime(QDate(2013, 1, 2), QTime(3, 4, 5, 678))),
        QString("home20130102030405678.db"));
    QCOMPARE(BackupHelper::generateBackupFileName(QDateTime(QDate(2024, 12, 31), QTime(23, 59, 59, 7))),
        QString("home20241231235959007.db"));
}

void TestBackupHelper::kobelConvertsTheFile()
{
    QVERIFY(TestBook::copyTemplate(book()));
    QVERIFY(mark(book(), "current"));
    const QByteArray before = fileBytes(book());
    const QString source = env->root() + "/kobel.db";
    QVERIFY(KobelFixture::make(source, KobelFixture::Complete));
    const QByteArray sourceBytes = fileBytes(source);
    const QString started = QDateTime::currentDateTimeUtc().toString("yyyy-MM-dd hh:mm:ss");

    int skipped = -1;
    QVERIFY(BackupHelper::kobel(source, &skipped));
    QCOMPARE(skipped, 0);
    QCOMPARE(fileBytes(source), sourceBytes);
    QVERIFY(ownerOnly(book()));
    QVERIFY(importLeftNothing());
    // The old book survives as the one safety backup; the template leaves no copy there.
    QCOMPARE(backups().size(), 1);
    QCOMPARE(fileBytes(Constants::getInstance()->getBackupDir() + backups().first()), before);
    QVERIFY(FileSetting::getInstance()->value(SettingKeys::EnableBillTitle).toBool());

    // Every row, with the kind words of this program.
    QCOMPARE(columnIn(book(), "select kind from tbl_account order by sort"),
        QStringList({ "cash", "credit", "card", "fund" }));
    QCOMPARE(columnIn(book(), "select kind from tbl_bill order by date"),
        QStringList({ "expense", "income", "transfer", "lend", "borrow", "refund", "repay", "expense" }));
    QCOMPARE(valueIn(book(), "select group_concat(date) from tbl_bill where month=201305").toString().count(','),
        KobelFixture::BillCount - 1);
    QCOMPARE(valueIn(book(), "select date from tbl_bill where amount=-3").toString(), QString("2013/5/11"));
    QCOMPARE(valueIn(book(), "select description from tbl_account where name='基金'").toString(), QString("O'Brien"));
    QCOMPARE(valueIn(book(), "select count(*) from tbl_borrower where name='老王' and kind='lend'").toInt(), 1);
    // Each category is a top category with one sub-category of the same id and name, and every bill
    // points at both.
    QCOMPARE(valueIn(book(), "select count(*) from tbl_category").toInt(), KobelFixture::CategoryCount);
    QCOMPARE(valueIn(book(),
                 "select count(*) from tbl_category c join tbl_sub_category s on s.id=c.id and "
                 "s.category_id=c.id and s.name=c.name and s.kind=c.kind")
                 .toInt(),
        KobelFixture::CategoryCount);
    QCOMPARE(valueIn(book(), "select count(*) from tbl_sub_category").toInt(), KobelFixture::CategoryCount);
    QCOMPARE(valueIn(book(), "select count(*) from tbl_bill where category_id is not sub_category_id").toInt(), 0);
    QCOMPARE(valueIn(book(), "select count(*) from tbl_bill where category_id is not null").toInt(), 3);
    // Stamped with the time of the import.
    QCOMPARE(valueIn(book(),
                 QString("select count(*) from tbl_bill where version < '%1' or created_time < '%1'").arg(started))
                 .toInt(),
        0);

    // A book of this program: its settings row, its schema, none of the other program's tables.
    QCOMPARE(valueIn(book(), "select count(*) from tbl_setting").toInt(), 1);
    QCOMPARE(valueIn(book(),
                 "select sync_time || '|' || version || '|' || coalesce(user_id, password, 'none') from "
                 "tbl_setting")
                 .toString(),
        QString("2008-08-08 08:08:08|38|none"));
    QCOMPARE(valueIn(book(), "select count(*) from sqlite_master where name like 'kbl%'").toInt(), 0);
    QCOMPARE(columnIn(book(), "select name from sqlite_master where type='trigger' order by name"),
        QStringList({ "account_deleted", "account_updated", "bill_deleted", "bill_updated", "borrow_updated",
            "borrower_deleted", "budget_deleted", "budget_item_deleted", "budget_item_updated", "budget_updated",
            "category_deleted", "category_updated", "member_deleted", "member_updated", "sub_category_deleted",
            "sub_category_updated" }));
    QCOMPARE(valueIn(book(), "select count(*) from android_metadata").toInt(), 1);
    QVERIFY(BackupHelper::isBook(book()));

    // The book's own triggers are the ones in force: a deleted bill leaves its tombstone, an
    // updated account gets a new version.
    QVERIFY(execIn(book(), "update tbl_account set version='2000-01-01 00:00:00'"));
    QVERIFY(execIn(book(), "update tbl_account set name='零钱' where name='现金'"));
    QVERIFY(valueIn(book(), "select version from tbl_account where name='零钱'").toString() >= started);
    QVERIFY(execIn(book(), "delete from tbl_bill where amount=-3"));
    QCOMPARE(valueIn(book(), "select count(*) from tbl_bill_deleted where amount=-3").toInt(), 1);
}

void TestBackupHelper::kobelLeavesTombstonesOfTheDefaults()
{
    QVERIFY(TestBook::copyTemplate(book()));
    const QString source = env->root() + "/kobel.db";
    QVERIFY(KobelFixture::make(source, KobelFixture::Complete));
    const QString started = QDateTime::currentDateTimeUtc().toString("yyyy-MM-dd hh:mm:ss");
    QVERIFY(BackupHelper::kobel(source));

    auto twoDigitIds = [](int count) {
        QStringList ids;
        for (int i = 1; i <= count; ++i)
            ids << QString("%1").arg(i, 2, 10, QChar('0'));
        return ids;
    };
    QCOMPARE(columnIn(book(), "select id from tbl_account_deleted order by id"), twoDigitIds(2));
    QCOMPARE(columnIn(book(), "select id from tbl_borrower_deleted order by id"), twoDigitIds(1));
    QCOMPARE(columnIn(book(), "select id from tbl_category_deleted order by id"), twoDigitIds(12));
    QCOMPARE(columnIn(book(), "select id from tbl_sub_category_deleted order by id"), twoDigitIds(25));
    QCOMPARE(columnIn(book(), "select id from tbl_member_deleted order by id"), twoDigitIds(2));
    QCOMPARE(valueIn(book(), "select count(*) from tbl_bill_deleted").toInt(), 0);
    QCOMPARE(columnIn(book(), "select name || ':' || kind || ':' || description from tbl_account_deleted order by id"),
        QStringList({ "我的钱包:cash:我的钱包", "我的银行卡:card:我的银行卡" }));
    QCOMPARE(columnIn(book(), "select name || ':' || description from tbl_member_deleted order by id"),
        QStringList({ "自己:我自己", "家人:我的家人" }));
    QCOMPARE(columnIn(book(),
                 "select name || ':' || kind from tbl_category_deleted where id in ('10','11','12') "
                 "order by id"),
        QStringList({ "其它支出:expense", "工资奖金:income", "其它收入:income" }));
    // A sub-category's tombstone keeps its parent and its kind.
    QCOMPARE(columnIn(book(),
                 "select id || ':' || category_id || ':' || name || ':' || kind from "
                 "tbl_sub_category_deleted where id in ('01','04','05','22','23','24','25') order by id"),
        QStringList({ "01:01:早中晚餐:expense", "04:01:零食:expense", "05:02:衣服裤子:expense",
            "22:10:其它支出:expense", "23:11:工资收入:income", "24:11:奖金收入:income", "25:12:其它收入:income" }));
    // Deleted at the time of the import, so the first synchronisation sends them; no default is live.
    for (const char* table : { "tbl_account", "tbl_borrower", "tbl_category", "tbl_sub_category", "tbl_member" }) {
        QCOMPARE(valueIn(book(), QString("select count(*) from %1_deleted where version < '%2'").arg(table, started))
                     .toInt(),
            0);
        QCOMPARE(valueIn(book(), QString("select count(*) from %1 where length(id)=2").arg(table)).toInt(), 0);
    }
}

void TestBackupHelper::kobelKeepsWhatTheBookCanHold_data()
{
    QTest::addColumn<int>("variant");
    QTest::addColumn<int>("skipped");
    QTest::addColumn<int>("bills");
    QTest::addColumn<int>("borrowers");
    QTest::addColumn<QString>("check"); // a count that must be 1 in the converted book

    QTest::newRow("a bill without a description gets an empty one")
        << int(KobelFixture::NullDescription) << 0 << KobelFixture::BillCount << 1
        << "select count(*) from tbl_bill where kind='income' and description=''";
    QTest::newRow("a repeated bill id keeps the first bill")
        << int(KobelFixture::DuplicateBillIds) << 1 << KobelFixture::BillCount << 1
        << "select count(*) from tbl_bill where description='账单0'";
    QTest::newRow("a bill without an amount is left out and counted")
        << int(KobelFixture::NullAmount) << 1 << KobelFixture::BillCount - 1 << 1
        << "select count(*) = 0 from tbl_bill where kind='transfer'";
    QTest::newRow("a file without borrowers brings the rest")
        << int(KobelFixture::WithoutBorrowers) << 0 << KobelFixture::BillCount << 0
        << "select count(*) = 4 from tbl_account";
}

void TestBackupHelper::kobelKeepsWhatTheBookCanHold()
{
    QFETCH(int, variant);
    QFETCH(int, skipped);
    QFETCH(int, bills);
    QFETCH(int, borrowers);
    QFETCH(QString, check);
    QVERIFY(TestBook::copyTemplate(book()));
    const QString source = env->root() + "/kobel.db";
    QVERIFY(KobelFixture::make(source, KobelFixture::Variant(variant)));

    int skippedRows = -1;
    QVERIFY(BackupHelper::kobel(source, &skippedRows));
    QCOMPARE(skippedRows, skipped);
    QCOMPARE(valueIn(book(), "select count(*) from tbl_bill").toInt(), bills);
    QCOMPARE(valueIn(book(), "select count(*) from tbl_borrower").toInt(), borrowers);
    QCOMPARE(valueIn(book(), check).toInt(), 1);
    QCOMPARE(valueIn(book(), "select count(*) from tbl_category").toInt(), KobelFixture::CategoryCount);
    QCOMPARE(valueIn(book(), "select count(*) from sqlite_master where name like 'kbl%'").toInt(), 0);
    QCOMPARE(valueIn(book(), "select count(*) from tbl_sub_category_deleted").toInt(), 25);
}

void TestBackupHelper::kobelKeepsImportedRowsWithDefaultIds()
{
    QVERIFY(TestBook::copyTemplate(book()));
    const QString source = env->root() + "/kobel.db";
    QVERIFY(KobelFixture::make(source, KobelFixture::DefaultIds));
    QVERIFY(BackupHelper::kobel(source));

    // The user's own "01" rows stay live and are not reported as deleted; the other defaults are.
    QCOMPARE(valueIn(book(), "select name from tbl_account where id='01'").toString(), QString("现金"));
    QCOMPARE(valueIn(book(), "select name from tbl_category where id='01'").toString(), QString("吃饭"));
    QCOMPARE(valueIn(book(), "select name from tbl_sub_category where id='01'").toString(), QString("吃饭"));
    QCOMPARE(columnIn(book(), "select id from tbl_account_deleted"), QStringList({ "02" }));
    QCOMPARE(valueIn(book(), "select count(*) from tbl_category_deleted").toInt(), 11);
    QCOMPARE(valueIn(book(), "select count(*) from tbl_category_deleted where id='01'").toInt(), 0);
    QCOMPARE(valueIn(book(), "select count(*) from tbl_sub_category_deleted").toInt(), 24);
    QCOMPARE(valueIn(book(), "select count(*) from tbl_sub_category_deleted where id='01'").toInt(), 0);
    // The default sub-categories under "01" still name it as their parent.
    QCOMPARE(valueIn(book(), "select count(*) from tbl_sub_category_deleted where category_id='01'").toInt(), 3);
    QCOMPARE(valueIn(book(), "select count(*) from tbl_member_deleted").toInt(), 2);
}

void TestBackupHelper::kobelRefusesWhatItCannotConvert_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("no import tables") << "none";
    QTest::newRow("not an SQLite file") << "text";
    QTest::newRow("a book of this program") << "book";
    QTest::newRow("a table without a column the import reads") << "column";
    QTest::newRow("a truncated file") << "truncated";
    QTest::newRow("missing file") << "missing";
}

void TestBackupHelper::kobelRefusesWhatItCannotConvert()
{
    QFETCH(QString, kind);
    QVERIFY(TestBook::copyTemplate(book()));
    QVERIFY(mark(book(), "current"));
    const QByteArray before = fileBytes(book());
    const QString source = env->root() + "/kobel.db";
    if (kind == "none")
        QVERIFY(KobelFixture::make(source, KobelFixture::NoImportTables));
    else if (kind == "text")
        QVERIFY(KobelFixture::make(source, KobelFixture::NotSqlite));
    else if (kind == "book")
        QVERIFY(TestBook::copyTemplate(source));
    else if (kind == "column")
        QVERIFY(KobelFixture::make(source, KobelFixture::MissingColumn));
    else if (kind == "truncated") {
        const QString whole = env->root() + "/whole.db";
        QVERIFY(KobelFixture::make(whole, KobelFixture::Complete));
        const QByteArray bytes = fileBytes(whole);
        QFile file(source);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write(bytes.left(bytes.size() * 2 / 3)) > 0);
    }

    int skipped = -1;
    QVERIFY(!BackupHelper::kobel(source, &skipped));
    QCOMPARE(skipped, 0);
    QCOMPARE(fileBytes(book()), before);
    QVERIFY(backups().isEmpty());
    QVERIFY(importLeftNothing());
    QVERIFY(!FileSetting::getInstance()->value(SettingKeys::EnableBillTitle).toBool());
}

QTEST_MAIN(TestBackupHelper)
#include "tst_backuphelper.moc"
