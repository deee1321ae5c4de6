#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include "testenv.h"

// Starts the real program, as a user would, from a program folder of its own.
class TestProgram : public QObject
{
    Q_OBJECT

private slots:
    void firstStartCreatesTheBook();
};

void TestProgram::firstStartCreatesTheBook()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString appDir = root.path() + "/app";
    QVERIFY(QDir().mkpath(appDir));
    const QString program = appDir + "/quorvane";
    QVERIFY(QFile::copy(QStringLiteral(QUORVANE_EXECUTABLE), program));

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", root.path());
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, {});
    QVERIFY(process.waitForStarted());

    const QString data = appDir + "/data/";
    const QString book = data + "Quorvane.db";
    // The window is up once the book holds its default records and the status bar has read it.
    QTRY_VERIFY_WITH_TIMEOUT(valueIn(book, "select count(*) from tbl_member").toInt() == 2, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(QSettings(data + "Quorvane.ini", QSettings::IniFormat).contains("Common/LastBook"), 20000);
    QCOMPARE(process.state(), QProcess::Running);

    ::kill(pid_t(process.processId()), SIGTERM);
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);

    QCOMPARE(valueIn(book, "select count(*) from tbl_account").toInt(), 2);
    QCOMPARE(valueIn(book, "select count(*) from tbl_borrower").toInt(), 1);
    QCOMPARE(valueIn(book, "select count(*) from tbl_category").toInt(), 12);
    QCOMPARE(valueIn(book, "select count(*) from tbl_sub_category").toInt(), 25);
    QCOMPARE(valueIn(book, "select version from tbl_setting").toInt(), 38);
    QSettings ini(data + "Quorvane.ini", QSettings::IniFormat);
    QCOMPARE(ini.value("Common/LastBook").toString(), QString("Quorvane.db"));
    QVERIFY(!(QFileInfo(book).permissions() & QFileDevice::ReadOther));
    // Nothing was written outside the program folder.
    QCOMPARE(QDir(root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList { "app" });
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
