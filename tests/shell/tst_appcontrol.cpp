#include <QAction>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QTest>
#include <QTimer>

#include "data/constants.h"
#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "modalanswerer.h"
#include "shell/mainwindow.h"
#include "testenv.h"
#include "widgets/appcontrol.h"
#include "widgets/dmessagebox.h"

namespace {

QStringList backups()
{
    return QDir(Constants::getInstance()->getBackupDir()).entryList(QDir::Files);
}

bool defaultConnectionOpen()
{
    return QSqlDatabase::contains(QLatin1String(QSqlDatabase::defaultConnection))
        && QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false).isOpen();
}

// Runs the application's loop with restart(arguments) asked from inside it. The loop's own
// exit code, or -1 when the restart did not end it.
int runLoopAndRestart(const QStringList& arguments, bool* restarted)
{
    QTimer::singleShot(0, [&] { *restarted = AppControl::restart(arguments); });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
    guard.start(20000);
    return AppControl::exec();
}

} // namespace

// The restart of the program: how it changes its book, restores and imports.
class TestAppControl : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void nextRunStartsAfterTheLoopAndTheBook();
    void argumentsReachTheNewProcessUnchanged();
    void programThatCannotStartIsRefused_data();
    void programThatCannotStartIsRefused();
    void failedStartIsReported();
    void restartOutsideTheLoopEndsNoLaterLoop();
    void runWithoutRestartStartsNothing();
    void trayQuitEndsTheLoopDirectly();

private:
    TestEnv* env = nullptr;
};

void TestAppControl::init()
{
    env = new TestEnv;
    MainWindow::environment().trayAvailable = [] { return false; };
    FileSetting::getInstance()->setValue(SettingKeys::EnableAutoUpdate, false);
}

void TestAppControl::cleanup()
{
    AppControl::reset();
    DbSetting::setInstance(nullptr);
    TestBook::closeDefault();
    delete env;
    env = nullptr;
}

void TestAppControl::nextRunStartsAfterTheLoopAndTheBook()
{
    auto* window = new MainWindow(nullptr);
    QVERIFY(window->isBookOpen());
    window->show();
    const QStringList backupsAtStart = backups();
    FileSetting::getInstance()->setValue(SettingKeys::SkinColor, "#7E0000");

    QString program;
    QStringList arguments;
    bool bookOpenAtStart = true;
    AppControl::setLauncher([&](const QString& path, const QStringList& args) {
        program = path;
        arguments = args;
        bookOpenAtStart = defaultConnectionOpen();
        return true;
    });

    bool restarted = false;
    QCOMPARE(runLoopAndRestart({ "restore", "/备份 文件/家 庭.db" }, &restarted), 0);
    QVERIFY(restarted);
    // The loop has ended, and nothing has been started yet: this run still has its book.
    QVERIFY(arguments.isEmpty());
    QVERIFY(defaultConnectionOpen());
    // Ended directly: the window was not closed, so no close-time backup was taken.
    QVERIFY(window->isVisible());
    QCOMPARE(backups(), backupsAtStart);
    // What the run wrote is in the file before the next run reads it.
    QFile ini(env->iniPath());
    QVERIFY(ini.open(QIODevice::ReadOnly));
    QVERIFY(ini.readAll().contains("SkinColor=#7E0000"));

    delete window;
    QCOMPARE(AppControl::finishRun(0), 0);
    QCOMPARE(program, QCoreApplication::applicationFilePath());
    QCOMPARE(arguments, QStringList({ "restore", "/备份 文件/家 庭.db" }));
    QVERIFY(!bookOpenAtStart);
    QVERIFY(!AppControl::isRestartPending());
}

void TestAppControl::argumentsReachTheNewProcessUnchanged()
{
    // A program of its own that writes the arguments it received, one a line.
    const QString program = env->root() + "/next-run";
    const QString written = env->root() + "/arguments";
    QFile script(program);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write(QString("#!/bin/sh\nprintf '%s\\n' \"$@\" > '%1.part' && mv '%1.part' '%1'\n").arg(written).toUtf8());
    script.close();
    QVERIFY(script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    AppControl::setProgram(program);

    bool restarted = false;
    QCOMPARE(runLoopAndRestart({ "kobel", "/tmp/a b/'引号\" $HOME.db" }, &restarted), 0);
    QVERIFY(restarted);
    QVERIFY(!QFile::exists(written));
    QCOMPARE(AppControl::finishRun(0), 0);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(written), 20000);
    QFile file(written);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()), QString("kobel\n/tmp/a b/'引号\" $HOME.db\n"));
}

void TestAppControl::programThatCannotStartIsRefused_data()
{
    QTest::addColumn<bool>("exists");
    QTest::newRow("missing") << false;
    QTest::newRow("not executable") << true;
}

void TestAppControl::programThatCannotStartIsRefused()
{
    QFETCH(bool, exists);
    const QString program = env->root() + "/program";
    if (exists) {
        QFile file(program);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    AppControl::setProgram(program);
    bool launched = false;
    AppControl::setLauncher([&](const QString&, const QStringList&) { return launched = true; });

    QTimer::singleShot(0, [] {
        QVERIFY(!AppControl::restart({ "book", "Work.db" }));
        // The run goes on: its loop ends only when it is asked to.
        QTimer::singleShot(0, [] { QCoreApplication::exit(7); });
    });
    QCOMPARE(AppControl::exec(), 7);
    QVERIFY(!AppControl::isRestartPending());
    QCOMPARE(AppControl::finishRun(7), 7);
    QVERIFY(!launched);
}

void TestAppControl::failedStartIsReported()
{
    AppControl::setLauncher([](const QString&, const QStringList&) { return false; });
    bool restarted = false;
    QCOMPARE(runLoopAndRestart({ "book", "Work.db" }, &restarted), 0);
    QVERIFY(restarted);

    ModalAnswerer boxes;
    boxes.expect("错误", "无法重新启动程序，请再次打开程序。", "确定");
    QCOMPARE(AppControl::finishRun(0), 1);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestAppControl::restartOutsideTheLoopEndsNoLaterLoop()
{
    AppControl::setLauncher([](const QString&, const QStringList&) { return true; });
    QVERIFY(AppControl::restart({ "book", "Work.db" }));
    QVERIFY(AppControl::isRestartPending());

    // A modal box afterwards still waits for its answer.
    ModalAnswerer boxes;
    boxes.expect("标题", "内容", "确定");
    QCOMPARE(DMessageBox::information(nullptr, "标题", "内容"), 1);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestAppControl::runWithoutRestartStartsNothing()
{
    TestBook book(env->dataDir() + "Quorvane.db");
    QVERIFY(book.isOpen());
    bool launched = false;
    AppControl::setLauncher([&](const QString&, const QStringList&) { return launched = true; });
    QTimer::singleShot(0, [] { QCoreApplication::exit(3); });
    QCOMPARE(AppControl::finishRun(AppControl::exec()), 3);
    QVERIFY(!launched);
    QVERIFY(defaultConnectionOpen());
}

void TestAppControl::trayQuitEndsTheLoopDirectly()
{
    // With the tray option on, closing the window would only hide it.
    MainWindow::environment().trayAvailable = [] { return true; };
    FileSetting::getInstance()->setValue(SettingKeys::EnableSystemTrayIcon, true);
    auto* window = new MainWindow(nullptr);
    window->show();
    const QStringList backupsAtStart = backups();
    QAction* quit = nullptr;
    for (QAction* action : window->findChildren<QAction*>()) {
        if (action->text() == "退出(&Q)")
            quit = action;
    }
    QVERIFY(quit);

    QTimer::singleShot(0, quit, &QAction::trigger);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
    guard.start(20000);
    QCOMPARE(AppControl::exec(), 0);
    QVERIFY(window->isVisible());
    QCOMPARE(backups(), backupsAtStart);
    QVERIFY(!AppControl::isRestartPending());
    delete window;
}

QTEST_MAIN(TestAppControl)
#include "tst_appcontrol.moc"
