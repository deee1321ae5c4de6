// Malformed files where a book or the other program's data file is expected: the login probe, the
// restore and the import (as the command words run them, with their box) take each without a crash,
// tell the user when they refuse, and leave every file as it was; the start-up on such a book as the
// only one in the data folder ends in the login or the main window, or in the box that it cannot be
// opened.
#include <QDir>
#include <QFile>
#include <QTest>
#include <memory>

#include "data/backuphelper.h"
#include "data/booklist.h"
#include "data/bookprobe.h"
#include "data/constants.h"
#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "data/sqlhelper.h"
#include "kobelfixture.h"
#include "modalanswerer.h"
#include "reliabilitykit.h"
#include "shell/mainwindow.h"
#include "shell/startup.h"
#include "testenv.h"

namespace {

using ReliabilityKit::bytesOf;
using ReliabilityKit::randomBytes;

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool execIn(const QString& path, const QStringList& statements)
{
    return withBookConnection(path, "malformed", BookAccess::ReadWrite, [&](QSqlDatabase& db) {
        if (!db.transaction())
            return false;
        for (const QString& statement : statements) {
            if (!execWrite(db, statement, {}))
                return false;
        }
        return db.commit();
    });
}

// A sound book with default records and a few bills, at path.
bool soundBook(const QString& path)
{
    if (!TestBook::copyTemplate(path))
        return false;
    QStringList statements { "update tbl_setting set version=38",
        "insert into tbl_account (id, name, kind, amount) values ('a1', '钱包', 'cash', 0)" };
    for (int i = 0; i < 200; ++i)
        statements << QString("insert into tbl_bill (id, amount, description, date, month, kind, account_id) values "
                              "('b%1', -%1, '午饭 %1', '2013-05-%2', 201305, 'expense', 'a1')")
                          .arg(i)
                          .arg(1 + i % 28, 2, 10, QChar('0'));
    return execIn(path, statements);
}

// The malformed file of kind at path.
bool makeMalformed(const QString& kind, const QString& path, const QString& scratch)
{
    if (kind == "zero bytes")
        return writeBytes(path, QByteArray());
    if (kind == "random bytes")
        return writeBytes(path, randomBytes(64 * 1024, 23));
    if (kind == "random bytes after a database header")
        return writeBytes(path, QByteArray("SQLite format 3", 16) + randomBytes(64 * 1024, 7));
    if (kind == "text")
        return writeBytes(path, "日期,金额\n2013-05-01,12.5\n");
    if (kind == "truncated book" || kind == "damaged page") {
        const QString whole = scratch + "/whole.db";
        QFile::remove(whole);
        if (!soundBook(whole))
            return false;
        QByteArray bytes = bytesOf(whole);
        if (kind == "truncated book")
            return writeBytes(path, bytes.left(bytes.size() * 2 / 3));
        // A page of bills in the middle overwritten: the file opens, its contents do not hold.
        const qsizetype page = 1024;
        const qsizetype at = (bytes.size() / page / 2) * page;
        bytes.replace(at, page, QByteArray(page, '\xff'));
        return writeBytes(path, bytes);
    }
    if (kind == "foreign schema")
        return execIn(path,
            { "create table notes (id integer primary key, text text)", "insert into notes (text) values ('你好')" });
    if (kind == "tables of another shape")
        return execIn(path,
            { "create table tbl_setting (x)", "create table tbl_bill (x)", "create table tbl_account (x)",
                "create table tbl_category (x)" });
    if (!soundBook(path))
        return false;
    if (kind == "book missing a table")
        return execIn(path, { "drop table tbl_member" });
    if (kind == "book missing a column")
        return execIn(path, { "alter table tbl_account drop column description" });
    if (kind == "book without its settings row")
        return execIn(path, { "delete from tbl_setting" });
    return kind == "sound book";
}

const QStringList& malformedKinds()
{
    static const QStringList kinds { "zero bytes", "random bytes", "random bytes after a database header", "text",
        "truncated book", "damaged page", "foreign schema", "tables of another shape", "book missing a table",
        "book missing a column", "book without its settings row" };
    return kinds;
}

} // namespace

class TestMalformedBooks : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void probeChangesNothing_data();
    void probeChangesNothing();
    void restoreTakesOnlyASoundBook_data();
    void restoreTakesOnlyASoundBook();
    void importRefusesAndChangesNothing_data();
    void importRefusesAndChangesNothing();
    void startUpOnIt_data();
    void startUpOnIt();

private:
    QString book() const { return env->dataDir() + Constants::getInstance()->getBookName(); }
    QStringList backups() const { return QDir(Constants::getInstance()->getBackupDir()).entryList(QDir::Files); }

    std::unique_ptr<TestEnv> env;
};

void TestMalformedBooks::init()
{
    env = std::make_unique<TestEnv>();
    QDir().mkpath(Constants::getInstance()->getBackupDir());
    QVERIFY(soundBook(book()));
}

void TestMalformedBooks::cleanup()
{
    env.reset();
}

void TestMalformedBooks::probeChangesNothing_data()
{
    QTest::addColumn<QString>("kind");
    for (const QString& kind : malformedKinds())
        QTest::newRow(qPrintable(kind)) << kind;
}

void TestMalformedBooks::probeChangesNothing()
{
    QFETCH(QString, kind);
    const QString path = env->dataDir() + "other.db";
    QVERIFY(makeMalformed(kind, path, env->root()));
    const QByteArray before = bytesOf(path);
    const QStringList files = QDir(env->dataDir()).entryList(QDir::Files);
    const BookProbe::Result result = BookProbe::probe(path, "probe");
    QVERIFY(result.password.isEmpty());
    QCOMPARE(bytesOf(path), before);
    QCOMPARE(QDir(env->dataDir()).entryList(QDir::Files), files);
}

void TestMalformedBooks::restoreTakesOnlyASoundBook_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("restored");
    for (const QString& kind : malformedKinds())
        QTest::newRow(qPrintable(kind)) << kind << (kind == "book without its settings row");
}

void TestMalformedBooks::restoreTakesOnlyASoundBook()
{
    QFETCH(QString, kind);
    QFETCH(bool, restored);
    const QString path = env->root() + "/backup.db";
    QVERIFY(makeMalformed(kind, path, env->root()));
    const QByteArray source = bytesOf(path);
    const QByteArray current = bytesOf(book());

    // As the restart runs the command word: the outcome in a box.
    ModalAnswerer boxes;
    if (restored)
        boxes.expect("恢复成功", "您已经成功恢复数据文件。", "OK");
    else
        boxes.expect("恢复失败", "恢复数据文件出现错误。", "OK");
    Startup::runCommand({ "restore", path });
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));

    QCOMPARE(bytesOf(path), source);
    if (restored) {
        QCOMPARE(backups().size(), 1);
        QCOMPARE(bytesOf(Constants::getInstance()->getBackupDir() + backups().first()), current);
    } else {
        QCOMPARE(bytesOf(book()), current);
        QVERIFY(backups().isEmpty());
    }
    QCOMPARE(QDir(env->dataDir()).entryList(QDir::Files),
        QStringList { Constants::getInstance()->getBookName() }
            + (QFile::exists(env->iniPath()) ? QStringList { "Quorvane.ini" } : QStringList()));
}

void TestMalformedBooks::importRefusesAndChangesNothing_data()
{
    QTest::addColumn<QString>("kind");
    for (const QString& kind : malformedKinds())
        QTest::newRow(qPrintable(kind)) << kind;
    QTest::newRow("sound book") << "sound book";
}

void TestMalformedBooks::importRefusesAndChangesNothing()
{
    QFETCH(QString, kind);
    const QString path = env->root() + "/kobel.db";
    QVERIFY(makeMalformed(kind, path, env->root()));
    const QByteArray source = bytesOf(path);
    const QByteArray current = bytesOf(book());

    ModalAnswerer boxes;
    boxes.expect("导入失败", "导入数据文件出现错误。", "OK");
    Startup::runCommand({ "kobel", path });
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));

    QCOMPARE(bytesOf(path), source);
    QCOMPARE(bytesOf(book()), current);
    QVERIFY(backups().isEmpty());
}

void TestMalformedBooks::startUpOnIt_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("opened");
    // A book that lost a table or a column, and a read-only book, are the main window's own tests.
    for (const QString& kind : malformedKinds()) {
        if (kind != "book missing a table" && kind != "book missing a column")
            QTest::newRow(qPrintable(kind)) << kind << (kind == "book without its settings row");
    }
    QTest::newRow("sound book") << "sound book" << true;
}

void TestMalformedBooks::startUpOnIt()
{
    QFETCH(QString, kind);
    QFETCH(bool, opened);
    QVERIFY(QFile::remove(book()));
    QVERIFY(makeMalformed(kind, book(), env->root()));
    const QByteArray before = bytesOf(book());
    FileSetting::getInstance()->setValue(SettingKeys::EnableAutoUpdate, false);
    MainWindow::environment().trayAvailable = [] { return false; };

    // The only book of the folder: the start-up takes it without the login when its password can be
    // read (or it is plainly no book), and the window says whether it can be opened.
    const QString dbDir = Constants::getInstance()->getDbDir();
    const Startup::Choice choice = Startup::chooseBook(dbDir, BookList::files(dbDir), QString());
    if (kind == "truncated book" || kind == "damaged page") {
        // Its password cannot be read, so it may have one: the login dialog runs and says why,
        // and nothing is opened unlocked.
        QVERIFY(choice.login);
        QVERIFY(choice.probeFailed);
        QVERIFY(!choice.probeError.isEmpty());
        QCOMPARE(bytesOf(book()), before);
        return;
    }
    QVERIFY(!choice.login);
    QCOMPARE(choice.currentBook, Constants::getInstance()->getBookName());
    {
        ModalAnswerer boxes;
        if (!opened)
            boxes.expect("数据文件错误", "打开数据文件出现错误。", "确定");
        MainWindow window;
        QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
        QCOMPARE(window.isBookOpen(), opened);
    }
    MainWindow::environment() = MainWindow::Environment();
    DbSetting::setInstance(nullptr);
    TestBook::closeDefault();

    if (opened) {
        // A lost settings row is made again; the records are all there.
        QCOMPARE(valueIn(book(), "select count(*) from tbl_setting").toInt(), 1);
        QCOMPARE(valueIn(book(), "select count(*) from tbl_bill").toInt(), 200);
    } else {
        QCOMPARE(bytesOf(book()), before);
    }
}

QTEST_MAIN(TestMalformedBooks)
#include "tst_malformedbooks.moc"
