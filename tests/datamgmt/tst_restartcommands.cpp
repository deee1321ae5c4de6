#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include "data/constants.h"
#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "data/sqlhelper.h"
#include "kobelfixture.h"
#include "modalanswerer.h"
#include "shell/startup.h"
#include "testenv.h"

namespace {

bool mark(const QString& path, const QString& name)
{
    return withBookConnection(path, "mark", BookAccess::ReadWrite, [&](QSqlDatabase& db) {
        return execWrite(db, "insert into tbl_member (id, name) values ('mark', ?)", { name });
    });
}

// The file a row of the tables below names, made in folder: "backup" (a book marked "chosen"),
// "text", "truncated" (the first half of a book), "kobel", "kobel with a lost row", "no import
// tables", "missing"; "book" is the current book itself.
QString makeSource(const QString& kind, const QString& folder, const QString& book)
{
    const QString path = folder + "/chosen.db";
    bool made = true;
    if (kind == "backup")
        made = TestBook::copyTemplate(path) && mark(path, "chosen");
    else if (kind == "text")
        made = writeFile(path, "not a book");
    else if (kind == "truncated")
        made = writeFile(path, fileBytes(book).left(fileBytes(book).size() / 2));
    else if (kind == "kobel")
        made = KobelFixture::make(path, KobelFixture::Complete);
    else if (kind == "kobel with a lost row")
        made = KobelFixture::make(path, KobelFixture::DuplicateBillIds);
    else if (kind == "no import tables")
        made = KobelFixture::make(path, KobelFixture::NoImportTables);
    else if (kind == "book")
        return book;
    return made ? path : QString();
}

} // namespace

// The command words a restart hands to the next run: "restore <file>" and "kobel <file>", run
// before any book is opened, and the box that tells the outcome.
class TestRestartCommands : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void outcomeBox_data();
    void outcomeBox();
    void program_data();
    void program();

private:
    void commandColumns();
    // The program's visible windows on the test display, by id, with their titles.
    QMap<QString, QString> windows(qint64 pid);
    QStringList windowTitles(qint64 pid) { return windows(pid).values(); }
    QString xdotool(const QStringList& arguments);

    QProcess xvfb;
    QString display;
};

void TestRestartCommands::initTestCase()
{
    // The real program runs on a display of its own, where its boxes are answered from the keyboard
    // as a person would.
    const QString server = QStandardPaths::findExecutable("Xvfb");
    QVERIFY2(!server.isEmpty() && !QStandardPaths::findExecutable("xdotool").isEmpty(),
        "Xvfb and xdotool are needed (scripts/install-deps.sh installs them)");
    xvfb.setStandardErrorFile(QProcess::nullDevice());
    xvfb.start(server, { "-displayfd", "1", "-screen", "0", "1280x900x24", "-nolisten", "tcp", "-noreset" });
    QVERIFY(xvfb.waitForStarted());
    while (!xvfb.canReadLine() && xvfb.waitForReadyRead(30000)) { }
    display = ":" + QString::fromLatin1(xvfb.readLine()).trimmed();
    QVERIFY2(display.size() > 1, "Xvfb named no display");
}

void TestRestartCommands::cleanupTestCase()
{
    xvfb.terminate();
    xvfb.waitForFinished(10000);
}

QString TestRestartCommands::xdotool(const QStringList& arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", display);
    process.setProcessEnvironment(environment);
    process.start("xdotool", arguments);
    if (!process.waitForFinished(30000))
        return QString();
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QMap<QString, QString> TestRestartCommands::windows(qint64 pid)
{
    QMap<QString, QString> titles;
    const QString ids = xdotool({ "search", "--onlyvisible", "--pid", QString::number(pid) });
    for (const QString& window : ids.split('\n', Qt::SkipEmptyParts))
        titles.insert(window, xdotool({ "getwindowname", window }));
    return titles;
}

void TestRestartCommands::commandColumns()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("replaced");
    QTest::addColumn<QString>("title");
}

void TestRestartCommands::program_data()
{
    commandColumns();
    QTest::newRow("restore a backup") << "restore"
                                      << "backup" << true << "恢复成功";
    QTest::newRow("restore the open book itself") << "restore"
                                                  << "book" << false << "恢复失败";
    QTest::newRow("restore a missing file") << "restore"
                                            << "missing" << false << "恢复失败";
    QTest::newRow("restore a text file") << "restore"
                                         << "text" << false << "恢复失败";
    QTest::newRow("restore a truncated book") << "restore"
                                              << "truncated" << false << "恢复失败";
    QTest::newRow("import a kobel file") << "kobel"
                                         << "kobel" << true << "导入成功";
    QTest::newRow("import a file without its tables") << "kobel"
                                                      << "no import tables" << false << "导入失败";
    QTest::newRow("import a book of this program") << "kobel"
                                                   << "book" << false << "导入失败";
}

void TestRestartCommands::outcomeBox_data()
{
    commandColumns();
    QTest::addColumn<QString>("text");
    const char* restored = "您已经成功恢复数据文件。";
    const char* notRestored = "恢复数据文件出现错误。";
    const char* notImported = "导入数据文件出现错误。";
    QTest::newRow("restore a backup") << "restore"
                                      << "backup" << true << "恢复成功" << restored;
    QTest::newRow("restore a text file") << "restore"
                                         << "text" << false << "恢复失败" << notRestored;
    QTest::newRow("import a kobel file") << "kobel"
                                         << "kobel" << true << "导入成功"
                                         << "您已经成功导入数据文件。";
    QTest::newRow("import a kobel file with a lost row") << "kobel"
                                                         << "kobel with a lost row" << true << "导入成功"
                                                         << "您已经成功导入数据文件。其中有1条记录无法导入，已跳过。";
    QTest::newRow("import a file without its tables") << "kobel"
                                                      << "no import tables" << false << "导入失败" << notImported;
    QTest::newRow("another word does nothing") << "book"
                                               << "backup" << false << ""
                                               << "";
}

void TestRestartCommands::outcomeBox()
{
    QFETCH(QString, word);
    QFETCH(QString, source);
    QFETCH(bool, replaced);
    QFETCH(QString, title);
    QFETCH(QString, text);
    TestEnv env;
    const QString book = Constants::getInstance()->getDbDir() + Constants::getInstance()->getBookName();
    QVERIFY(TestBook::copyTemplate(book));
    const QByteArray before = fileBytes(book);
    const QString file = makeSource(source, env.root(), book);
    QVERIFY(!file.isEmpty());

    ModalAnswerer boxes;
    if (!title.isEmpty())
        boxes.expect(title, text, "OK");
    Startup::runCommand({ word, file, QString() });
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(fileBytes(book) != before, replaced);
}

void TestRestartCommands::program()
{
    QFETCH(QString, word);
    QFETCH(QString, source);
    QFETCH(bool, replaced);
    QFETCH(QString, title);

    // A program folder of its own: books, backups and settings lie in its data folder.
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString appDir = root.path() + "/app";
    const QString data = appDir + "/data/";
    QVERIFY(QDir().mkpath(data + "backup"));
    const QString executable = appDir + "/quorvane";
    QVERIFY(QFile::copy(QStringLiteral(QUORVANE_EXECUTABLE), executable));
    const QString book = data + "Quorvane.db";
    QVERIFY(TestBook::copyTemplate(book));
    QVERIFY(mark(book, "current"));
    {
        QSettings ini(data + "Quorvane.ini", QSettings::IniFormat);
        ini.setValue("Common/EnableAutoUpdate", false);
    }
    const QByteArray before = fileBytes(book);
    const QString file = makeSource(source, root.path(), book);
    QVERIFY(!file.isEmpty());

    // Started as a restart starts it.
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", root.path());
    environment.insert("XDG_RUNTIME_DIR", root.path());
    environment.insert("DISPLAY", display);
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("LANG", "zh_CN.UTF-8");
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(executable, { word, file });
    QVERIFY(process.waitForStarted());

    // The box comes before any book is opened: the book is as the command left it. A window may
    // show the program's name for a moment before its own title; the waits keep the first answer,
    // since QTRY evaluates its condition once more after it held.
    const QStringList outcomes = { "恢复成功", "恢复失败", "导入成功", "导入失败" };
    QStringList boxes;
    QStringList seen;
    const auto boxShown = [&] {
        if (boxes.isEmpty()) {
            seen = windowTitles(process.processId());
            for (const QString& shown : seen)
                if (outcomes.contains(shown))
                    boxes << shown;
        }
        return !boxes.isEmpty();
    };
    QTRY_VERIFY2_WITH_TIMEOUT(boxShown(), qPrintable("windows: " + seen.join(", ")), 30000);
    QCOMPARE(boxes, QStringList { title });
    QCOMPARE(fileBytes(book) != before, replaced);
    if (word == "restore" && replaced) {
        QCOMPARE(valueIn(book, "select name from tbl_member where id='mark'").toString(), QString("chosen"));
        QCOMPARE(valueIn(book, "select sync_time from tbl_setting").toString(), QString("2008-08-08 08:08:08"));
    }
    if (word == "kobel" && replaced) {
        QCOMPARE(valueIn(book, "select count(*) from tbl_bill").toInt(), KobelFixture::BillCount);
        QCOMPARE(valueIn(book, "select version from tbl_setting").toInt(), 38);
    }
    // Every restore or import that replaced the book left the one safety backup of the old book.
    const QStringList backups = QDir(data + "backup").entryList(QDir::Files);
    QCOMPARE(backups.size(), replaced ? 1 : 0);
    if (replaced)
        QCOMPARE(fileBytes(data + "backup/" + backups.first()), before);

    // Answered from the keyboard, the start goes on to the main window on the book. The box gets the
    // focus and Return is pressed and released on the keyboard as a whole (a key sent to the box
    // itself would never be released once the box is gone, and would answer the next box at once);
    // it is pressed again only when the box is still there a while later.
    bool up = false;
    QElapsedTimer sincePress;
    const auto mainWindowUp = [&] {
        if (up)
            return true;
        const QMap<QString, QString> shown = windows(process.processId());
        for (const QString& box : shown.keys(title)) {
            if (sincePress.isValid() && sincePress.elapsed() < 3000)
                break;
            xdotool({ "windowfocus", box });
            xdotool({ "key", "Return" });
            sincePress.start();
        }
        seen = shown.values();
        return up = seen.contains("Quorvane记账");
    };
    QTRY_VERIFY2_WITH_TIMEOUT(mainWindowUp(), qPrintable("windows: " + seen.join(", ")), 30000);
    ::kill(pid_t(process.processId()), SIGTERM);
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    if (!replaced)
        QCOMPARE(valueIn(book, "select name from tbl_member where id='mark'").toString(), QString("current"));
}

QTEST_MAIN(TestRestartCommands)
#include "tst_restartcommands.moc"
