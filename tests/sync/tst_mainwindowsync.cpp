// The main window's synchronisations against a real quorvane-service: at start, at close, and the
// close-time dialog meeting a run the status bar's link started.
#include <QCloseEvent>
#include <QLabel>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "data/sqlhelper.h"
#include "engine/httphelper.h"
#include "engine/synchelper.h"
#include "modalanswerer.h"
#include "servicefixture.h"
#include "shell/mainwindow.h"
#include "showwatcher.h"
#include "testenv.h"
#include "widgettest.h"

class TestMainWindowSync : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void synchronisationAtStart_data();
    void synchronisationAtStart();
    void closeMeetsARunningSynchronisation_data();
    void closeMeetsARunningSynchronisation();

private:
    // The book the window will open, with the given sync account stored in it.
    void makeBook(const QString& user, const QString& password);

    ServiceFixture service;
    TestEnv* env = nullptr;
    QString user;
    int accounts = 0;
};

void TestMainWindowSync::initTestCase()
{
    QVERIFY2(service.start(), qPrintable(service.errorText()));
}

void TestMainWindowSync::init()
{
    service.useFromProgram();
    service.clearConfig();
    env = new TestEnv;
    MainWindow::environment().trayAvailable = [] { return false; };
    FileSetting* settings = FileSetting::getInstance();
    settings->setValue(SettingKeys::EnableAutoUpdate, false);
    settings->setCloseWhenSyncFinished(true);
    user = QString("window%1").arg(++accounts);
    QVERIFY2(service.addUser(user, "pw"), qPrintable(service.errorText()));
    service.clearRequests();
    HttpHelper::setTransferTimeout(60000);
}

void TestMainWindowSync::cleanup()
{
    QTRY_VERIFY_WITH_TIMEOUT(!SyncHelper::getInstance()->isRunning(), 120000);
    DbSetting::setInstance(nullptr);
    TestBook::closeDefault();
    MainWindow::environment() = MainWindow::Environment();
    delete env;
}

void TestMainWindowSync::makeBook(const QString& name, const QString& password)
{
    const QString path = env->dataDir() + "Quorvane.db";
    QVERIFY(WidgetTest::makeBook(path));
    QVERIFY(withBookConnection(path, "account", BookAccess::ReadWrite, [&](QSqlDatabase& db) {
        return execWrite(
            db, "update tbl_setting set sync_username=?, sync_password=?", { name, scramblePassword(password) });
    }));
}

void TestMainWindowSync::synchronisationAtStart_data()
{
    QTest::addColumn<bool>("atStart");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("synchronises");
    QTest::newRow("switch on") << true << "pw" << true;
    QTest::newRow("switch off") << false << "pw" << false;
    QTest::newRow("switch on, no password") << true << "" << false;
}

void TestMainWindowSync::synchronisationAtStart()
{
    QFETCH(bool, atStart);
    QFETCH(QString, password);
    QFETCH(bool, synchronises);
    makeBook(user, password);
    FileSetting::getInstance()->setSyncWhenStartup(atStart);
    ShowWatcher dialogs("DSync", [](QWidget*) {});
    ModalAnswerer boxes;
    boxes.leave(ModalAnswerer::ofClass("DSync"));

    MainWindow window;
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QVERIFY(window.isBookOpen());
    QCOMPARE(dialogs.count(), synchronises ? 1 : 0);
    QCOMPARE(service.requests("sync/syncpc2.php").size(), synchronises ? 1 : 0);
    // The status bar, built after the run, tells of it.
    const QString state = window.findChild<QLabel*>("lblSyncTime")->text();
    if (synchronises)
        QVERIFY2(state.startsWith("  上次同步 " + QDate::currentDate().toString("yyyy-MM-dd")), qPrintable(state));
    else
        QCOMPARE(state, QString("  尚未同步过 "));
}

void TestMainWindowSync::closeMeetsARunningSynchronisation_data()
{
    QTest::addColumn<QJsonObject>("fault");
    QTest::addColumn<bool>("fromStatusBar");
    QTest::addColumn<QString>("error");
    // The service answers late, so the status bar's run is still open when the window closes.
    QTest::newRow("status bar's run succeeds") << QJsonObject { { "delay", 1500 } } << true << QString();
    QTest::newRow("status bar's run fails")
        << QJsonObject { { "error", 7 }, { "message", "m" }, { "delay", 1500 } } << true << "m";
    QTest::newRow("nothing running") << QJsonObject() << false << QString();
}

void TestMainWindowSync::closeMeetsARunningSynchronisation()
{
    QFETCH(QJsonObject, fault);
    QFETCH(bool, fromStatusBar);
    QFETCH(QString, error);
    makeBook(user, "pw");
    FileSetting::getInstance()->setSyncWhenClose(true);
    if (!fault.isEmpty())
        service.setFault("sync/syncpc2.php", fault);
    MainWindow window;
    window.show();
    SyncHelper* engine = SyncHelper::getInstance();
    QSignalSpy started(engine, &SyncHelper::syncStarted);
    if (fromStatusBar) {
        QVERIFY(QMetaObject::invokeMethod(
            window.findChild<QLabel*>("lblSync"), "linkActivated", Q_ARG(QString, QStringLiteral("#"))));
        QVERIFY(engine->isRunning());
    }

    ShowWatcher dialogs("DSync", [](QWidget*) {});
    ModalAnswerer boxes;
    boxes.leave(ModalAnswerer::ofClass("DSync"));
    if (!error.isNull()) {
        // Each listener reports the run's end once: the status bar, then the close-time dialog.
        boxes.expect("错误", error, "确定");
        boxes.expect("同步出错", error, "确定");
    }
    QCloseEvent event;
    QApplication::sendEvent(&window, &event);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    // The close waited for the run that was under way, and started none of its own.
    QVERIFY(event.isAccepted());
    QVERIFY(!engine->isRunning());
    QCOMPARE(dialogs.count(), 1);
    QCOMPARE(started.count(), 1);
    QCOMPARE(service.requests("sync/userid.php").size(), 1);
    QCOMPARE(service.requests("sync/syncpc2.php").size(), 1);
}

QTEST_MAIN(TestMainWindowSync)
#include "tst_mainwindowsync.moc"
