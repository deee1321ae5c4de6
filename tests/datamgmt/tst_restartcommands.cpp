#include <QDir>
#include <QDeadlineTimer>
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
    void restartNamesTheBook();
    void anotherCopyHoldsTheBook_data();
    void anotherCopyHoldsTheBook();

private:
    void commandColumns();
    // A program folder of its own at appDir with the program and the books (template copies): books,
    // backups and settings lie in its data folder; no update check at start.
    bool makeProgramFolder(const QString& appDir, const QStringList& books);
    // Starts the real program in process, in the program folder appDir, on the test display.
    void start(QProcess& process, const QString& root, const QString& appDir, const QStringList& arguments);
    // Answers the boxes with these titles ("*": any window), the first it finds, with Return, until
    // the program shows its main window (true) or ends (false).
    bool answerUntilMainWindow(QProcess& process, const QStringList& titles, QStringList* seen);
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

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString appDir = root.path() + "/app";
    const QString data = appDir + "/data/";
    QVERIFY(makeProgramFolder(appDir, { "Quorvane.db" }));
    const QString book = data + "Quorvane.db";
    QVERIFY(mark(book, "current"));
    const QByteArray before = fileBytes(book);
    const QString file = makeSource(source, root.path(), book);
    QVERIFY(!file.isEmpty());

    // Started as a restart starts it.
    QProcess process;
    start(process, root.path(), appDir, { word, file });

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

bool TestRestartCommands::makeProgramFolder(const QString& appDir, const QStringList& books)
{
    const QString data = appDir + "/data/";
    if (!QDir().mkpath(data + "backup") || !QFile::copy(QStringLiteral(QUORVANE_EXECUTABLE), appDir + "/quorvane"))
        return false;
    for (const QString& book : books) {
        if (!TestBook::copyTemplate(data + book))
            return false;
    }
    QSettings ini(data + "Quorvane.ini", QSettings::IniFormat);
    ini.setValue("Common/EnableAutoUpdate", false);
    ini.sync();
    return ini.status() == QSettings::NoError;
}

void TestRestartCommands::start(
    QProcess& process, const QString& root, const QString& appDir, const QStringList& arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", root);
    environment.insert("XDG_RUNTIME_DIR", root);
    environment.insert("DISPLAY", display);
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("LANG", "zh_CN.UTF-8");
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(appDir + "/quorvane", arguments);
    QVERIFY(process.waitForStarted());
}

bool TestRestartCommands::answerUntilMainWindow(QProcess& process, const QStringList& titles, QStringList* seen)
{
    QElapsedTimer sincePress;
    QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired() && process.state() == QProcess::Running) {
        const QMap<QString, QString> shown = windows(process.processId());
        *seen = shown.values();
        if (seen->contains("Quorvane记账"))
            return true;
        for (auto window = shown.constBegin(); window != shown.constEnd(); ++window) {
            const bool answered = titles.contains(window.value()) || titles.contains("*");
            if (!answered || (sincePress.isValid() && sincePress.elapsed() < 3000))
                continue;
            xdotool({ "windowfocus", window.key() });
            xdotool({ "key", "Return" });
            sincePress.start();
            break;
        }
        process.waitForFinished(200);
    }
    return false;
}

void TestRestartCommands::restartNamesTheBook()
{
    // A restore as the data page's button starts it names the book that was open then: the book
    // the settings file remembers (another copy's, opened later) is never the one replaced.
    TestEnv env;
    const QString dir = Constants::getInstance()->getDbDir();
    QVERIFY(TestBook::copyTemplate(dir + "A.db") && mark(dir + "A.db", "a"));
    QVERIFY(TestBook::copyTemplate(dir + "B.db") && mark(dir + "B.db", "b"));
    FileSetting::getInstance()->setValue(SettingKeys::LastBook, "B.db");
    const QByteArray other = fileBytes(dir + "B.db");
    const QString file = makeSource("backup", env.root(), QString());

    ModalAnswerer boxes;
    boxes.expect("恢复成功", "您已经成功恢复数据文件。", "OK");
    Startup::runCommand({ "restore", file, "A.db" });
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(valueIn(dir + "A.db", "select name from tbl_member where id='mark'").toString(), QString("chosen"));
    QCOMPARE(fileBytes(dir + "B.db"), other);
    QCOMPARE(Constants::getInstance()->getBookName(), QString("A.db"));
    // Not remembered before it has opened.
    QCOMPARE(FileSetting::getInstance()->value(SettingKeys::LastBook).toString(), QString("B.db"));
}

void TestRestartCommands::anotherCopyHoldsTheBook_data()
{
    QTest::addColumn<QStringList>("arguments"); // of the second start; {file}: the file to restore
    QTest::addColumn<QStringList>("boxes"); // titles of the boxes answered, in order
    QTest::addColumn<bool>("opens");
    QTest::newRow("restore into the book the restart names")
        << QStringList { "restore", "{file}", "A.db" } << QStringList { "恢复成功" } << true;
    QTest::newRow("restore into the book the other copy has open")
        << QStringList { "restore", "{file}", "B.db" } << QStringList { "恢复失败" } << false;
    QTest::newRow("import into the book the other copy has open")
        << QStringList { "kobel", "{kobel}", "B.db" } << QStringList { "导入失败" } << false;
    QTest::newRow("the book the other copy has open") << QStringList { "book", "B.db" } << QStringList() << false;
}

void TestRestartCommands::anotherCopyHoldsTheBook()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, boxes);
    QFETCH(bool, opens);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString appDir = root.path() + "/app";
    const QString data = appDir + "/data/";
    QVERIFY(makeProgramFolder(appDir, { "A.db", "B.db" }));
    QVERIFY(mark(data + "A.db", "a") && mark(data + "B.db", "b"));
    arguments.replaceInStrings("{file}", makeSource("backup", root.path(), QString()));
    arguments.replaceInStrings("{kobel}", makeSource("kobel", root.path() + "/app", QString()));

    // The first copy, with B open.
    QProcess first;
    start(first, root.path(), appDir, { "book", "B.db" });
    QStringList seen;
    QVERIFY2(answerUntilMainWindow(first, {}, &seen), qPrintable("windows: " + seen.join(", ")));
    const QByteArray held = fileBytes(data + "B.db");
    const QStringList backups = QDir(data + "backup").entryList(QDir::Files);

    // The second copy: a box for every outcome, then the program's own box that the book is in use,
    // which ends it (no title of its own: answered as any other window of it).
    QProcess second;
    start(second, root.path(), appDir, arguments);
    QStringList answered;
    const QStringList outcomes = { "恢复成功", "恢复失败", "导入成功", "导入失败" };
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            for (const QString& shown : windowTitles(second.processId()))
                if (outcomes.contains(shown) && answered.isEmpty())
                    answered << shown;
            return !boxes.isEmpty() ? !answered.isEmpty() : true;
        }(),
        30000);
    QCOMPARE(answered, boxes);
    if (opens) {
        QVERIFY2(answerUntilMainWindow(second, outcomes, &seen), qPrintable("windows: " + seen.join(", ")));
        QCOMPARE(valueIn(data + "A.db", "select name from tbl_member where id='mark'").toString(), QString("chosen"));
        ::kill(pid_t(second.processId()), SIGTERM);
    } else {
        QVERIFY(!answerUntilMainWindow(second, { "*" }, &seen));
    }
    second.waitForFinished(30000);
    QCOMPARE(second.state(), QProcess::NotRunning);
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), opens ? 0 : 1);
    // The first copy's book as it had it, and no backup of it from the second (which, when it
    // opened A, made A's safety copy and its start-up backup).
    QCOMPARE(fileBytes(data + "B.db"), held);
    const QStringList after = QDir(data + "backup").entryList(QDir::Files);
    QCOMPARE(after.size(), backups.size() + (opens ? 2 : 0));

    ::kill(pid_t(first.processId()), SIGTERM);
    QVERIFY(first.waitForFinished(30000));
    QCOMPARE(first.exitCode(), 0);
}

QTEST_MAIN(TestRestartCommands)
#include "tst_restartcommands.moc"
