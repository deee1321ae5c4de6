#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include "data/sqlhelper.h"
#include "testenv.h"

namespace {
// The real program in a folder of its own (not installed: books and settings in app/data/), with a
// home of its own. Its console output is kept for the test.
class Program {
public:
    Program()
        : appDir(root.path() + "/app")
        , data(appDir + "/data/")
    {
        QDir().mkpath(data);
        QFile::copy(QStringLiteral(QUORVANE_EXECUTABLE), appDir + "/quorvane");
    }

    // Starts it with the default logging rules and, when given, these more.
    bool start(const QStringList& arguments, const QString& loggingRules = QString())
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", root.path());
        environment.insert("XDG_RUNTIME_DIR", runtimeDir());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.remove("QT_LOGGING_RULES");
        if (!loggingRules.isEmpty())
            environment.insert("QT_LOGGING_RULES", loggingRules);
        process.setProcessEnvironment(environment);
        process.start(appDir + "/quorvane", arguments);
        return process.waitForStarted();
    }

    // Waits until the program wrote a line containing text to its console.
    bool waitForOutput(const QString& text)
    {
        QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired()) {
            if (process.state() != QProcess::Running && process.bytesAvailable() == 0
                && process.readAllStandardError().isEmpty())
                return errors.contains(text);
            process.waitForReadyRead(200);
            errors += QString::fromUtf8(process.readAllStandardError());
            if (errors.contains(text))
                return true;
        }
        return false;
    }

    bool terminate()
    {
        ::kill(pid_t(process.processId()), SIGTERM);
        const bool finished = process.waitForFinished(20000);
        errors += QString::fromUtf8(process.readAllStandardError());
        return finished;
    }

    // What a desktop session provides; Qt complains without it.
    QString runtimeDir() const
    {
        QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        return runtime.path();
    }

    QTemporaryDir runtime;
    QTemporaryDir root;
    const QString appDir;
    const QString data;
    QProcess process;
    QString errors;
};

// A copy of the template; "name|statement" runs the statement on it, "name#" leaves it damaged
// (only its first page left).
bool makeBook(const QString& data, const QString& book)
{
    const QString path = data + book.section(QRegularExpression("[|#]"), 0, 0);
    if (!TestBook::copyTemplate(path))
        return false;
    if (book.endsWith('#'))
        return QFile(path).resize(4096);
    const QString statement = book.section('|', 1);
    return statement.isEmpty() || withBookConnection(path, "fixture", BookAccess::ReadWrite, [&](QSqlDatabase& db) {
        return QSqlQuery(db).exec(statement);
    });
}
}

// Starts the real program, as a user would, from a program folder of its own.
class TestProgram : public QObject {
    Q_OBJECT

private slots:
    void firstStartCreatesTheBookQuietly();
    void terminateEndsEveryPhase_data();
    void terminateEndsEveryPhase();
    void helpAndVersionPrintAndEnd_data();
    void helpAndVersionPrintAndEnd();
};

void TestProgram::firstStartCreatesTheBookQuietly()
{
    Program program;
    QVERIFY(program.start({}));
    const QString book = program.data + "Quorvane.db";
    // The window is up once the book holds its default records and the status bar has read it.
    QTRY_VERIFY_WITH_TIMEOUT(valueIn(book, "select count(*) from tbl_member").toInt() == 2, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(
        QSettings(program.data + "Quorvane.ini", QSettings::IniFormat).contains("Common/LastBook"), 20000);
    QCOMPARE(program.process.state(), QProcess::Running);

    QVERIFY(program.terminate());
    QCOMPARE(program.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.process.exitCode(), 0);
    // A user's terminal stays quiet: no statement, no signal, no warning.
    QCOMPARE(program.errors, QString());

    QCOMPARE(valueIn(book, "select count(*) from tbl_account").toInt(), 2);
    QCOMPARE(valueIn(book, "select count(*) from tbl_borrower").toInt(), 1);
    QCOMPARE(valueIn(book, "select count(*) from tbl_category").toInt(), 12);
    QCOMPARE(valueIn(book, "select count(*) from tbl_sub_category").toInt(), 25);
    QCOMPARE(valueIn(book, "select version from tbl_setting").toInt(), 38);
    QSettings ini(program.data + "Quorvane.ini", QSettings::IniFormat);
    QCOMPARE(ini.value("Common/LastBook").toString(), QString("Quorvane.db"));
    QVERIFY(!(QFileInfo(book).permissions() & QFileDevice::ReadOther));
    // Nothing was written outside the program folder.
    QCOMPARE(QDir(program.root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList { "app" });
}

void TestProgram::terminateEndsEveryPhase_data()
{
    QTest::addColumn<QStringList>("books"); // see makeBook()
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("waitingIn");

    QTest::newRow("restore outcome box") << QStringList {} << QStringList { "restore", "/nonexistent/book.db" }
                                         << "QMessageBox";
    QTest::newRow("probe warning") << QStringList { "a.db", "b.db#" } << QStringList { "book", "b.db" }
                                   << "QMessageBox";
    QTest::newRow("login dialog") << QStringList { "a.db", "b.db" } << QStringList {} << "DLogin";
    QTest::newRow("message while the book opens")
        << QStringList { "a.db|drop table tbl_bill" } << QStringList {} << "DMessageBox";
    QTest::newRow("main window") << QStringList { "a.db" } << QStringList {} << "running";
}

void TestProgram::terminateEndsEveryPhase()
{
    QFETCH(QStringList, books);
    QFETCH(QStringList, arguments);
    QFETCH(QString, waitingIn);

    Program program;
    for (const QString& book : books)
        QVERIFY(makeBook(program.data, book));
    QVERIFY(program.start(arguments, "quorvane.startup.debug=true"));
    QVERIFY2(program.waitForOutput(waitingIn), qPrintable(program.errors));
    QVERIFY(program.terminate());
    QCOMPARE(program.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.process.exitCode(), 0);
}

void TestProgram::helpAndVersionPrintAndEnd_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QStringList>("printed");
    const QStringList help = { "Quorvane记账 1.6\n", "用法：quorvane [命令 文件]", "  book 文件", "  restore 文件",
        "  kobel 文件", "--version", "先询问打开哪一个" };
    QTest::newRow("--help") << "--help" << help;
    QTest::newRow("-h") << "-h" << help;
    QTest::newRow("--version") << "--version" << QStringList { "Quorvane记账 1.6\n" };
    QTest::newRow("-v") << "-v" << QStringList { "Quorvane记账 1.6\n" };
}

// They answer on the terminal, without a screen, and end: no window, no data folder, no book.
void TestProgram::helpAndVersionPrintAndEnd()
{
    QFETCH(QString, option);
    QFETCH(QStringList, printed);
    Program program;
    QVERIFY(QDir(program.data).removeRecursively());
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", program.root.path());
    for (const char* screen : { "QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY" })
        environment.remove(screen);
    process.setProcessEnvironment(environment);
    process.start(program.appDir + "/quorvane", { option });
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    for (const QString& text : printed)
        QVERIFY2(out.contains(text), qPrintable(out));
    if (printed.size() == 1)
        QCOMPARE(out, printed.first());
    QCOMPARE(QString::fromUtf8(process.readAllStandardError()), QString());
    QCOMPARE(QDir(program.appDir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList { "quorvane" });
    QCOMPARE(QDir(program.root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList { "app" });
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
