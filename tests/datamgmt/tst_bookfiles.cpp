// Book files as files: making, renaming, deleting, restoring, importing and backing up books beside
// the journals SQLite keeps, a second running program that holds a book, an older book restored, and
// folders that cannot take a write.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include "data/backuphelper.h"
#include "data/bookfile.h"
#include "data/booklist.h"
#include "data/booklock.h"
#include "data/constants.h"
#include "data/dbsetting.h"
#include "data/sqlhelper.h"
#include "kobelfixture.h"
#include "testenv.h"

namespace {

const QFileDevice::Permissions everyone = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
    | QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
    | QFileDevice::WriteOther | QFileDevice::ExeOther;
const QFileDevice::Permissions readOnlyFolder = QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup
    | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;

QString dbDir()
{
    return Constants::getInstance()->getDbDir();
}

QString backupDir()
{
    return Constants::getInstance()->getBackupDir();
}

bool exec(const QString& path, const QString& sql, const QVariantList& values = {})
{
    return withBookConnection(path, QStringLiteral("exec"), BookAccess::ReadWrite,
        [&](QSqlDatabase& db) { return execWrite(db, sql, values); });
}

// A book with the default records, a member named mark and bills bills.
bool makeBook(const QString& path, const QString& mark, int bills = 20)
{
    return BookFile::create(path)
        && exec(path, QStringLiteral("insert into tbl_member (id, name) values ('mark', ?)"), { mark })
        && exec(path,
            QStringLiteral("with recursive n(i) as (select 1 union all select i + 1 from n where i < ?) insert into "
                           "tbl_bill (id, amount, description, date, month, account_id, kind) select 'b' || i, -i, '', "
                           "'2024-03-01', 202403, '01', 'expense' from n"),
            { bills });
}

// What tells books apart here: the mark, the number of bills and whether a cut-off write's table is
// in it. Read as a program opening the book reads it (a cut-off write is rolled back first); empty
// when the file is no sound book.
QString contentOf(const QString& path)
{
    QString content;
    if (!QFileInfo(path).isFile())
        return content;
    withBookConnection(path, QStringLiteral("content"), BookAccess::ReadWrite, [&](QSqlDatabase& db) {
        if (sqlValue(db, QStringLiteral("pragma integrity_check"), {}, QString()).toString() != QLatin1String("ok"))
            return false;
        content
            = QStringLiteral("%1|%2|%3")
                  .arg(sqlValue(db, QStringLiteral("select name from tbl_member where id='mark'"), {}, QString())
                           .toString())
                  .arg(sqlValue(db, QStringLiteral("select count(*) from tbl_bill"), {}, -1).toInt())
                  .arg(sqlValue(db, QStringLiteral("select count(*) from sqlite_master where name='torn_rows'"), {}, -1)
                           .toInt());
        return true;
    });
    return content;
}

// Leaves path as a process that died in the middle of a large write leaves it: the rollback journal
// hot beside it, part of the write in the file.
bool tear(const QString& path)
{
    QProcess driver;
    driver.start(QStringLiteral(QUORVANE_BOOK_DRIVER), { QStringLiteral("--torn"), path });
    return driver.waitForFinished(60000) && driver.exitStatus() == QProcess::CrashExit
        && QFile::exists(path + QStringLiteral("-journal"));
}

QString journalMode(const QString& path)
{
    return valueIn(path, QStringLiteral("pragma journal_mode")).toString();
}

// Files of folder, hidden ones too, but for the settings file.
QStringList filesIn(const QString& folder)
{
    QStringList files = QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    files.removeAll(QStringLiteral("Quorvane.ini"));
    return files;
}

} // namespace

class TestBookFiles : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void createMakesAWholeBook_data();
    void createMakesAWholeBook();
    void createNeverReplacesAFile();
    void createIgnoresTheJournalOfAnEarlierBook();
    void createThatFailsLeavesNothing();
    void renameAndDeleteFinishAnInterruptedWrite_data();
    void renameAndDeleteFinishAnInterruptedWrite();
    void writeThatCannotBeFinishedIsRefused_data();
    void writeThatCannotBeFinishedIsRefused();
    void bookHeldByAnotherProgram_data();
    void bookHeldByAnotherProgram();
    void lockOfAProgramThatDiedIsTakenOver();
    void walBookIsCopiedWithItsLog_data();
    void walBookIsCopiedWithItsLog();
    void olderBookIsRestoredAndUpgraded();
    void bookListTakesDbExactly();
    void folderThatCannotBeWritten_data();
    void folderThatCannotBeWritten();
    void fullDisk_data();
    void fullDisk();

private:
    TestEnv* env = nullptr;
};

void TestBookFiles::init()
{
    env = new TestEnv;
}

void TestBookFiles::cleanup()
{
    DbSetting::setInstance(nullptr);
    TestBook::closeDefault();
    delete env;
    env = nullptr;
}

void TestBookFiles::createMakesAWholeBook_data()
{
    QTest::addColumn<bool>("defaults");
    QTest::newRow("default records") << true;
    QTest::newRow("template only") << false;
}

void TestBookFiles::createMakesAWholeBook()
{
    QFETCH(bool, defaults);
    const QString path = dbDir() + "家庭.db";
    QString error;
    QVERIFY2(BookFile::create(
                 path, &error, defaults ? BookFile::Contents::DefaultRecords : BookFile::Contents::TemplateOnly),
        qPrintable(error));
    QCOMPARE(valueIn(path, "select count(*) from tbl_account").toInt(), defaults ? 2 : 0);
    QCOMPARE(valueIn(path, "select count(*) from tbl_sub_category").toInt(), defaults ? 25 : 0);
    QCOMPARE(valueIn(path, "pragma integrity_check").toString(), QString("ok"));
    QCOMPARE(journalMode(path), QString("delete"));
    QCOMPARE(QFileInfo(path).permissions() & everyone, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    // Nothing of the making is left: no staging copy, no journal, no lock.
    QCOMPARE(filesIn(dbDir()), QStringList { "家庭.db" });
}

void TestBookFiles::createNeverReplacesAFile()
{
    const QString path = dbDir() + "Home.db";
    QVERIFY(makeBook(path, "home"));
    const QByteArray before = fileBytes(path);
    QString error;
    QVERIFY(!BookFile::create(path, &error));
    QCOMPARE(error, QString("账本“Home”已经存在，请换一个名称。"));
    QCOMPARE(fileBytes(path), before);
}

void TestBookFiles::createIgnoresTheJournalOfAnEarlierBook()
{
    // A book that once had the name died in the middle of a write; then its file went (moved by
    // hand, or by a program that left the journal), and its journal stayed.
    const QString path = dbDir() + "Trip.db";
    QVERIFY(makeBook(path, "earlier", 300));
    QVERIFY(tear(path));
    QVERIFY(QFile::remove(path));
    QVERIFY(QFile::exists(path + "-journal"));

    QString error;
    QVERIFY2(BookFile::create(path, &error), qPrintable(error));
    // The new book, whole, with nothing of the earlier one played into it.
    QCOMPARE(contentOf(path), QString("|0|0"));
    QCOMPARE(valueIn(path, "select count(*) from tbl_account").toInt(), 2);
    QVERIFY(BookFile::leftovers(path).isEmpty());
}

void TestBookFiles::createThatFailsLeavesNothing()
{
    // The default records cannot be written: a folder stands where the journal of the book being made
    // goes (which stops even root).
    const QString path = dbDir() + "Half.db";
    QVERIFY(QDir().mkdir(path + ".creating-journal"));
    QString error;
    QVERIFY(!BookFile::create(path, &error));
    QCOMPARE(error, QString("无法写入新账本的默认数据，账本没有建立。"));
    QCOMPARE(filesIn(dbDir()), QStringList());
    QVERIFY(!QFile::exists(path));

    // Once the obstacle is gone the book is made whole.
    QVERIFY(QDir().rmdir(path + ".creating-journal"));
    QVERIFY2(BookFile::create(path, &error), qPrintable(error));
    QCOMPARE(valueIn(path, "select count(*) from tbl_member").toInt(), 2);
}

void TestBookFiles::renameAndDeleteFinishAnInterruptedWrite_data()
{
    QTest::addColumn<QString>("operation");
    QTest::newRow("rename") << "rename";
    QTest::newRow("delete") << "delete";
}

void TestBookFiles::renameAndDeleteFinishAnInterruptedWrite()
{
    QFETCH(QString, operation);
    const QString book = dbDir() + "Work.db";
    QVERIFY(makeBook(book, "work", 500));
    const QString committed = contentOf(dbDir() + "Work.db");
    QCOMPARE(committed, QString("work|500|0"));
    QVERIFY(tear(book));

    QString reason;
    const bool rename = operation == "rename";
    QVERIFY2(
        rename ? BackupHelper::renameBook("Work.db", "Job.db", &reason) : BackupHelper::deleteBook("Work.db", &reason),
        qPrintable(reason));
    const QString moved = rename ? dbDir() + "Job.db" : backupDir() + "Work.db.deleted";
    // The book went whole, as last committed, and no journal stayed behind at either name to be played
    // into another file later.
    QVERIFY(!QFile::exists(book));
    QVERIFY(BookFile::leftovers(book).isEmpty());
    QVERIFY(BookFile::leftovers(moved).isEmpty());
    QCOMPARE(valueIn(moved, "pragma integrity_check").toString(), QString("ok"));
    QCOMPARE(contentOf(moved), committed);
    // A new book of the old name starts empty.
    QVERIFY(BookFile::create(book));
    QCOMPARE(contentOf(book), QString("|0|0"));
}

void TestBookFiles::writeThatCannotBeFinishedIsRefused_data()
{
    QTest::addColumn<QString>("operation");
    QTest::newRow("rename") << "rename";
    QTest::newRow("delete") << "delete";
    QTest::newRow("backup") << "backup";
}

void TestBookFiles::writeThatCannotBeFinishedIsRefused()
{
    QFETCH(QString, operation);
    QVERIFY(Constants::getInstance()->setBookName("Home.db"));
    const QString book = dbDir() + "Work.db";
    QVERIFY(makeBook(book, "work"));
    // A journal SQLite can neither play back nor remove.
    QVERIFY(QDir().mkdir(book + "-journal"));
    const QStringList before = filesIn(dbDir());

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot be undone"));
    QString reason;
    bool done = false;
    if (operation == "rename") {
        done = BackupHelper::renameBook("Work.db", "Job.db", &reason);
    } else if (operation == "delete") {
        done = BackupHelper::deleteBook("Work.db", &reason);
    } else {
        // (A backup that fails is told as before, without a reason.)
        QVERIFY(Constants::getInstance()->setBookName("Work.db"));
        done = BackupHelper::backup(QString());
    }
    QVERIFY(!done);
    if (operation != "backup")
        QCOMPARE(reason, QString("账本“Work”有一次没有完成的写入，无法恢复。"));
    QCOMPARE(filesIn(dbDir()), before);
    QCOMPARE(filesIn(backupDir()), QStringList());
}

void TestBookFiles::bookHeldByAnotherProgram_data()
{
    QTest::addColumn<QString>("operation");
    for (const char* operation : { "restore", "import", "rename", "delete", "reset", "create over its name" })
        QTest::newRow(operation) << operation;
}

void TestBookFiles::bookHeldByAnotherProgram()
{
    QFETCH(QString, operation);
    const QString book = dbDir() + "Shared.db";
    QVERIFY(makeBook(book, "shared"));
    const QString source = env->root() + "/source.db";
    if (operation == "import")
        QVERIFY(KobelFixture::make(source, KobelFixture::Complete));
    else
        QVERIFY(makeBook(source, "source"));
    QVERIFY(Constants::getInstance()->setBookName(
        operation == "rename" || operation == "delete" ? "Home.db" : "Shared.db"));
    const QByteArray before = fileBytes(book);

    // The second copy of the program, with the book open.
    BookHolder other(QStringLiteral(QUORVANE_BOOK_DRIVER), book);
    QVERIFY(other.isHolding());
    QVERIFY(BookLock::isHeldElsewhere(book));

    QString reason;
    bool done = false;
    if (operation == "restore") {
        done = BackupHelper::restore(source, &reason);
    } else if (operation == "import") {
        done = BackupHelper::kobel(source, nullptr, nullptr, &reason);
    } else if (operation == "rename") {
        done = BackupHelper::renameBook("Shared.db", "Mine.db", &reason);
    } else if (operation == "delete") {
        done = BackupHelper::deleteBook("Shared.db", &reason);
    } else if (operation == "reset") {
        QVERIFY(TestBook::openDefault(book));
        done = BackupHelper::resetBook(&reason);
        TestBook::closeDefault();
    } else {
        // The other program is making the book right now.
        QVERIFY(QFile::remove(book));
        done = BookFile::create(book, &reason);
    }
    QVERIFY(!done);
    QCOMPARE(reason, QString("账本“Shared”正在被另一个运行中的Quorvane记账使用。请先在那里关闭它，再试一次。"));
    if (QFile::exists(book))
        QCOMPARE(fileBytes(book), before);
    // Nothing was copied, moved or left behind.
    QCOMPARE(filesIn(backupDir()), QStringList());
    QVERIFY(!QFile::exists(dbDir() + "Mine.db"));
    QVERIFY(!QFile::exists(book + ".restoring") && !QFile::exists(book + ".importing"));
}

void TestBookFiles::lockOfAProgramThatDiedIsTakenOver()
{
    const QString book = dbDir() + "Shared.db";
    QVERIFY(makeBook(book, "shared"));
    QVERIFY(Constants::getInstance()->setBookName("Home.db"));
    BookHolder other(QStringLiteral(QUORVANE_BOOK_DRIVER), book);
    QVERIFY(other.isHolding());
    other.kill();
    QVERIFY(QFile::exists(BookLock::lockFilePath(book)));
    QVERIFY(!BookLock::isHeldElsewhere(book));

    QString reason;
    QVERIFY2(BackupHelper::renameBook("Shared.db", "Mine.db", &reason), qPrintable(reason));
    QCOMPARE(contentOf(dbDir() + "Mine.db"), QString("shared|20|0"));
    // The lock files of both names are gone with the lock.
    QCOMPARE(filesIn(dbDir()), QStringList { "Mine.db" });
}

void TestBookFiles::walBookIsCopiedWithItsLog_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("restored from a book in WAL mode, then backed up") << "restore";
    QTest::newRow("the open book in WAL mode, backed up") << "backup";
    QTest::newRow("a book in WAL mode, renamed") << "rename";
}

void TestBookFiles::walBookIsCopiedWithItsLog()
{
    QFETCH(QString, how);
    const QString home = dbDir() + "Home.db";
    QVERIFY(makeBook(home, "home"));
    QVERIFY(Constants::getInstance()->setBookName("Home.db"));
    const QString wal = how == "restore" ? env->root() + "/wal.db" : how == "backup" ? home : dbDir() + "Wal.db";
    if (how != "backup")
        QVERIFY(makeBook(wal, "wal"));

    // A connection that keeps the log: the last hundred bills are only in "-wal", not in the file.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "wal");
        db.setDatabaseName(wal);
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec("pragma journal_mode=wal"));
        QVERIFY(query.exec("pragma wal_autocheckpoint=0"));
        QVERIFY(query.exec("insert into tbl_bill (id, amount, description, date, month, account_id, kind) select "
                           "'w' || id, amount, '', date, month, account_id, kind from tbl_bill"));
        QVERIFY(query.exec("insert into tbl_bill (id, amount, description, date, month, account_id, kind) select "
                           "'x' || id, amount, '', date, month, account_id, kind from tbl_bill"));
        QVERIFY(QFileInfo(wal + "-wal").size() > 0);

        QString reason;
        if (how == "restore") {
            QVERIFY2(BackupHelper::restore(wal, &reason), qPrintable(reason));
            QCOMPARE(contentOf(home), QString("wal|80|0"));
            // The restored book keeps the rollback journal: a later copy of its file is whole.
            QCOMPARE(journalMode(home), QString("delete"));
            QVERIFY(BookFile::leftovers(home).isEmpty());
            QVERIFY(BackupHelper::backup(QString()));
        } else if (how == "backup") {
            QVERIFY(BackupHelper::backup(QString()));
        } else {
            // A program that died with the book open in WAL mode left the book and its log as they
            // are now: the file without the last rows, the log with them.
            const QString crashed = dbDir() + "Crashed.db";
            QVERIFY(QFile::copy(wal, crashed));
            QVERIFY(QFile::copy(wal + "-wal", crashed + "-wal"));
            QVERIFY2(BackupHelper::renameBook("Crashed.db", "Moved.db", &reason), qPrintable(reason));
            QCOMPARE(contentOf(dbDir() + "Moved.db"), QString("wal|80|0"));
            QVERIFY(BookFile::leftovers(dbDir() + "Moved.db").isEmpty());
            QVERIFY(BookFile::leftovers(crashed).isEmpty());
        }
    }
    QSqlDatabase::removeDatabase("wal");
    if (how == "rename")
        return;
    const QStringList backups = BackupHelper::automaticBackups("Home.db");
    QCOMPARE(backups.size(), 1);
    const QString copy = backupDir() + backups.first();
    // Every row, also those that were only in the log, in a file that needs no log beside it.
    QCOMPARE(contentOf(copy), how == "restore" ? QString("wal|80|0") : QString("home|80|0"));
    QCOMPARE(journalMode(copy), QString("delete"));
    QVERIFY(BookFile::leftovers(copy).isEmpty());
}

void TestBookFiles::olderBookIsRestoredAndUpgraded()
{
    const QString home = dbDir() + "Home.db";
    QVERIFY(makeBook(home, "home"));
    QVERIFY(Constants::getInstance()->setBookName("Home.db"));
    const QString old = env->root() + "/old.db";
    QVERIFY(bookFromScript(old, QStringLiteral(QUORVANE_FIXTURES "/book-v7.sql")));
    const QByteArray source = fileBytes(old);

    QString reason;
    QVERIFY2(BackupHelper::restore(old, &reason), qPrintable(reason));
    // Brought up to date once restored: the categories came, the bills and accounts stayed.
    QCOMPARE(valueIn(home, "select version from tbl_setting").toInt(), 38);
    QCOMPARE(
        valueIn(home, "select count(*) from sqlite_master where name in ('tbl_category','tbl_sub_category')").toInt(),
        2);
    QCOMPARE(valueIn(home, "select title from tbl_bill where id='old-bill'").toString(), QString("午饭"));
    QCOMPARE(valueIn(home, "select name from tbl_account where id='acc'").toString(), QString("旧钱包"));
    QCOMPARE(valueIn(home, "select sync_time from tbl_setting").toString(), QString("2008-08-08 08:08:08"));
    QVERIFY(BackupHelper::isBook(home));
    // The file chosen stays as it was.
    QCOMPARE(fileBytes(old), source);
}

void TestBookFiles::bookListTakesDbExactly()
{
    for (const char* name : { "Home.db", "Trip.DB", "Notes.Db", "home.db.deleted", "Work.db-journal", "x.txt" })
        QVERIFY(writeFile(dbDir() + QLatin1String(name), "x"));
    QVERIFY(QDir().mkdir(dbDir() + "folder.db"));
    QVERIFY(makeBook(dbDir() + "Shared.db", "shared"));
    BookHolder other(QStringLiteral(QUORVANE_BOOK_DRIVER), dbDir() + "Shared.db");
    QVERIFY(other.isHolding());
    QStringList books = BookList::files(dbDir());
    books.sort();
    QCOMPARE(books, QStringList({ "Home.db", "Shared.db" }));
    QCOMPARE(BookList::caseTwin(dbDir(), "home.db"), QString("Home.db"));
    QCOMPARE(BookList::caseTwin(dbDir(), "Home.db"), QString());
    QCOMPARE(BookList::caseTwin(dbDir(), "HOME.db", "Home.db"), QString());
}

void TestBookFiles::folderThatCannotBeWritten_data()
{
    QTest::addColumn<QString>("operation");
    for (const char* operation : { "create", "rename", "delete", "restore", "backup" })
        QTest::newRow(operation) << operation;
}

void TestBookFiles::folderThatCannotBeWritten()
{
    QFETCH(QString, operation);
    QVERIFY(Constants::getInstance()->setBookName("Home.db"));
    QVERIFY(makeBook(dbDir() + "Home.db", "home"));
    QVERIFY(makeBook(dbDir() + "Work.db", "work"));
    const QString source = env->root() + "/source.db";
    QVERIFY(makeBook(source, "source"));
    // The folder that would be written is read-only to the user; the rest of the way is open.
    for (const QString& folder : { env->root(), env->appDir(), dbDir(), backupDir() })
        QVERIFY(QFile::setPermissions(folder, everyone));
    for (const QString& file : { source, dbDir() + "Home.db", dbDir() + "Work.db" })
        QVERIFY(QFile::setPermissions(
            file, everyone & ~QFileDevice::ExeOwner & ~QFileDevice::ExeGroup & ~QFileDevice::ExeOther));
    const QString locked = operation == "delete" || operation == "backup" ? backupDir() : dbDir();
    QVERIFY(QFile::setPermissions(locked, readOnlyFolder));
    const QStringList books = filesIn(dbDir());
    const QStringList backups = filesIn(backupDir());

    QString reason;
    bool done = false;
    {
        AsOrdinaryUser user;
        if (operation == "create")
            done = BookFile::create(dbDir() + "New.db", &reason);
        else if (operation == "rename")
            done = BackupHelper::renameBook("Work.db", "Job.db", &reason);
        else if (operation == "delete")
            done = BackupHelper::deleteBook("Work.db", &reason);
        else if (operation == "restore")
            done = BackupHelper::restore(source, &reason);
        else
            done = BackupHelper::backup(QString());
    }
    QVERIFY(QFile::setPermissions(locked, everyone));
    QVERIFY(!done);
    if (operation != "backup")
        QCOMPARE(reason, QString("文件夹“%1”不允许写入。").arg(QDir::toNativeSeparators(QDir::cleanPath(locked))));
    QCOMPARE(filesIn(dbDir()), books);
    QCOMPARE(filesIn(backupDir()), backups);
    QCOMPARE(contentOf(dbDir() + "Home.db"), QString("home|20|0"));
    QCOMPARE(contentOf(dbDir() + "Work.db"), QString("work|20|0"));
}

void TestBookFiles::fullDisk_data()
{
    QTest::addColumn<QString>("operation");
    for (const char* operation : { "create", "restore", "import", "backup" })
        QTest::newRow(operation) << operation;
}

void TestBookFiles::fullDisk()
{
    QFETCH(QString, operation);
    const QString source = env->root() + "/source.db";
    if (operation == "import")
        QVERIFY(KobelFixture::make(source, KobelFixture::Complete));
    else
        QVERIFY(makeBook(source, "source", 2000));
    // The program's folder on a small disk of its own.
    const QString appDir = env->root() + "/small";
    QVERIFY(QDir().mkpath(appDir));
    FullDisk disk(appDir);
    Constants::Roots roots;
    roots.appDir = appDir;
    Constants::setInstance(new Constants(roots));
    QVERIFY(Constants::getInstance()->setBookName("Home.db"));
    QVERIFY(makeBook(dbDir() + "Home.db", "home"));
    const QStringList books = filesIn(dbDir());
    QVERIFY(disk.fill());
    qInfo("a full disk: %s", disk.isMounted() ? "a tmpfs of its own" : "the file size limit");

    QString reason;
    bool done = false;
    if (operation == "create")
        done = BookFile::create(dbDir() + "New.db", &reason);
    else if (operation == "restore")
        done = BackupHelper::restore(source, &reason);
    else if (operation == "import")
        done = BackupHelper::kobel(source, nullptr, nullptr, &reason);
    else
        done = BackupHelper::backup(QString());
    disk.release();
    // (The restore and the import keep the book locked for this program to open; it ends here.)
    BookLock::releaseOpenBook();

    QVERIFY(!done);
    // The user learns why, where the program knows it: a disk of its own that is full.
    if (disk.isMounted() && operation != "backup")
        QCOMPARE(reason,
            QString("磁盘空间不足：文件夹“%1”所在的磁盘已经写满，请先腾出空间。")
                .arg(QDir::toNativeSeparators(QDir::cleanPath(dbDir()))));
    else if (operation != "backup")
        QVERIFY2(!reason.isEmpty(), "no reason given");
    // Nothing half-done: no new file, no half copy, the book as it was.
    QCOMPARE(filesIn(dbDir()), books);
    QCOMPARE(filesIn(backupDir()), QStringList());
    QCOMPARE(contentOf(dbDir() + "Home.db"), QString("home|20|0"));
}

QTEST_GUILESS_MAIN(TestBookFiles)
#include "tst_bookfiles.moc"
