// The synchronisation progress dialog against a real quorvane-service: how it ends a run (success,
// the service's error, a refused port), the auto-close box, closing it in the middle of a run, and
// following a run that was already under way.
#include <QCheckBox>
#include <QJsonDocument>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "data/filesetting.h"
#include "engine/httphelper.h"
#include "engine/synchelper.h"
#include "modalanswerer.h"
#include "servicefixture.h"
#include "showwatcher.h"
#include "sync/dsync.h"
#include "testenv.h"

namespace {

const QString runningText = QString::fromUtf8("正在同步数据...");
const QString successText = QString::fromUtf8("您已经成功完成数据同步。");
const QString neverSynchronised = QStringLiteral("2008-08-08 08:08:08");

QString text(const QWidget& dialog, const char* label)
{
    return dialog.findChild<QLabel*>(QLatin1String(label))->text();
}

bool shown(const QWidget& dialog, const char* name)
{
    return dialog.findChild<QWidget*>(QLatin1String(name))->isVisible();
}

// The template's mark of a book never synchronised is gone.
bool synchronised()
{
    return !scalar("select sync_time from tbl_setting").toString().startsWith(neverSynchronised);
}

// Waits until the engine's run has ended (every listener has had its signal by then).
bool waitForTheEnd()
{
    return QTest::qWaitFor([] { return !SyncHelper::getInstance()->isRunning(); }, 120000);
}

// The box the dialog shows for an error, as a child of that very dialog.
ModalAnswerer::Matcher errorBoxOf(const QWidget* dialog, const QString& message)
{
    return [dialog, message](QWidget* box) {
        return box->parentWidget() == dialog && ModalAnswerer::box(QString::fromUtf8("同步出错"), message)(box);
    };
}

} // namespace

class TestDSync : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void endOfARun_data();
    void endOfARun();
    void closingMidRunLeavesTheRunAlone_data();
    void closingMidRunLeavesTheRunAlone();
    void followsARunAlreadyUnderWay_data();
    void followsARunAlreadyUnderWay();
    void dialogsInTurnEachReportTheirOwnRun();
    void beforeTheWindowShowsItSitsMidScreen();
    void wrongClockIsToldAtTheEnd();

private:
    void setFault(const QString& fault);

    ServiceFixture service;
    AccountBook* book = nullptr;
};

void TestDSync::initTestCase()
{
    QVERIFY2(service.start(), qPrintable(service.errorText()));
}

void TestDSync::init()
{
    book = new AccountBook(service);
    QVERIFY2(book->isReady(), qPrintable(book->errorText()));
}

void TestDSync::cleanup()
{
    delete book;
    book = nullptr;
}

// "" leaves the service alone, "refused" points the program at a port where nothing listens, and
// anything else is the fault (JSON) of the upload.
void TestDSync::setFault(const QString& fault)
{
    if (fault == QLatin1String("refused"))
        qputenv("QUORVANE_BASE_URL", refusedBaseUrl().toUtf8());
    else if (!fault.isEmpty())
        service.setFault("sync/syncpc2.php", QJsonDocument::fromJson(fault.toUtf8()).object());
    if (fault.contains(QLatin1String("hang")))
        HttpHelper::setTransferTimeout(1000);
}

void TestDSync::endOfARun_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("autoClose");
    QTest::addColumn<bool>("clickBox");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<QString>("error");
    const QString refused = QString::fromUtf8("和服务器通讯时出错");
    const QString stopped = QString::fromUtf8("账号已被停用");
    const QString stoppedFault = QString::fromUtf8(R"({"error": 7, "message": "账号已被停用"})");
    QTest::newRow("success, auto-close set") << "" << true << false << true << QString();
    QTest::newRow("success, auto-close not set") << "" << false << false << false << QString();
    QTest::newRow("box checked during the run") << "" << false << true << true << QString();
    QTest::newRow("box cleared during the run") << "" << true << true << false << QString();
    QTest::newRow("error reply") << stoppedFault << false << false << true << stopped;
    QTest::newRow("error reply, auto-close set") << stoppedFault << true << false << true << stopped;
    QTest::newRow("refused port") << "refused" << false << false << true << refused;
    // A service that never answers: the time-out ends the run, the dialog does not spin forever.
    QTest::newRow("no answer") << R"({"hang": true})" << false << false << true << refused;
    QTest::newRow("HTML page") << R"({"body": "<html><body>维护中</body></html>"})" << false << false << true
                               << QString::fromUtf8("同步失败，同步时出现严重错误");
}

void TestDSync::endOfARun()
{
    QFETCH(QString, fault);
    QFETCH(bool, autoClose);
    QFETCH(bool, clickBox);
    QFETCH(bool, closes);
    QFETCH(QString, error);
    FileSetting::getInstance()->setCloseWhenSyncFinished(autoClose);
    setFault(fault);

    ModalAnswerer boxes;
    DSync dialog;
    if (!error.isNull())
        boxes.expect(errorBoxOf(&dialog, error), ModalAnswerer::press("确定"), error);
    QCOMPARE(dialog.windowTitle(), QString::fromUtf8("同步"));
    QCOMPARE(ModalAnswerer::titleOf(&dialog), QString::fromUtf8("数据同步"));
    QCOMPARE(text(dialog, "lblLog"), runningText);
    QCOMPARE(dialog.findChild<QCheckBox*>("cbAutoClose")->isChecked(), autoClose);
    dialog.show();
    QVERIFY(!shown(dialog, "pbOK"));
    QVERIFY(shown(dialog, "lblLog_2"));
    auto* bar = dialog.findChild<QProgressBar*>("pbProgress");
    QCOMPARE(bar->maximum(), 0);
    // The switch is stored at the click and read at the end: it decides this very run.
    if (clickBox)
        dialog.findChild<QCheckBox*>("cbAutoClose")->click();
    QCOMPARE(FileSetting::getInstance()->getCloseWhenSyncFinished(), autoClose != clickBox);

    QVERIFY(waitForTheEnd());
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(dialog.isVisible(), !closes);
    QCOMPARE(synchronised(), error.isNull());
    if (closes) {
        // An error, or success with auto-close: the success text never showed.
        QCOMPARE(text(dialog, "lblLog"), runningText);
        return;
    }
    QCOMPARE(text(dialog, "lblLog"), successText);
    QVERIFY(shown(dialog, "pbOK"));
    QVERIFY(!shown(dialog, "lblLog_2"));
    QVERIFY(!bar->isVisible());
    // The user-id answer's progress went into the bar, which still showed a busy run.
    QCOMPARE(bar->value(), 20);
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 0);
    QTest::mouseClick(dialog.findChild<QPushButton*>("pbOK"), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
}

void TestDSync::closingMidRunLeavesTheRunAlone_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("succeeds");
    // The service answers late, so the run is surely still open when the dialog goes.
    QTest::newRow("title strip, run succeeds later") << R"({"delay": 1500})"
                                                     << "strip" << true;
    QTest::newRow("Escape, run fails later") << R"({"error": 7, "message": "m", "delay": 1500})"
                                             << "escape" << false;
}

void TestDSync::closingMidRunLeavesTheRunAlone()
{
    QFETCH(QString, fault);
    QFETCH(QString, how);
    QFETCH(bool, succeeds);
    FileSetting::getInstance()->setCloseWhenSyncFinished(false);
    setFault(fault);
    ShowWatcher closer("DSync", [how](QWidget* dialog) {
        QTimer::singleShot(0, dialog, [dialog, how] { ModalAnswerer::named(how)(dialog); });
    });
    ModalAnswerer boxes; // none may come, not even when the run ends
    boxes.leave(ModalAnswerer::ofClass("DSync"));
    QSignalSpy finished(SyncHelper::getInstance(), &SyncHelper::syncFinished);

    DSync dialog;
    dialog.exec();
    QVERIFY(SyncHelper::getInstance()->isRunning());
    QVERIFY(waitForTheEnd());
    QCOMPARE(finished.count(), succeeds ? 1 : 0);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(text(dialog, "lblLog"), runningText);
    QVERIFY(!dialog.isVisible());
    // The run went on without the dialog.
    QCOMPARE(synchronised(), succeeds);
}

void TestDSync::followsARunAlreadyUnderWay_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("run succeeds") << "";
    QTest::newRow("run fails") << R"({"error": 7, "message": "m"})";
}

void TestDSync::followsARunAlreadyUnderWay()
{
    QFETCH(QString, fault);
    FileSetting::getInstance()->setCloseWhenSyncFinished(true);
    setFault(fault);
    SyncHelper* engine = SyncHelper::getInstance();
    // Started without a dialog, as the status bar's link does.
    QVERIFY(engine->sync());
    QSignalSpy started(engine, &SyncHelper::syncStarted);

    ModalAnswerer boxes;
    DSync dialog;
    if (!fault.isEmpty())
        boxes.expect(errorBoxOf(&dialog, "m"), ModalAnswerer::press("确定"), "the error once");
    QCOMPARE(started.count(), 0);
    QCOMPARE(text(dialog, "lblLog"), runningText);
    dialog.show();
    QVERIFY(waitForTheEnd());
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QVERIFY(!dialog.isVisible());
    QCOMPARE(service.requests("sync/userid.php").size(), 1);
    QCOMPARE(service.requests("sync/syncpc2.php").size(), 1);
}

void TestDSync::dialogsInTurnEachReportTheirOwnRun()
{
    FileSetting::getInstance()->setCloseWhenSyncFinished(false);
    service.setFault("sync/syncpc2.php", { { "error", 7 }, { "message", "first" } });
    ModalAnswerer boxes;
    DSync first;
    boxes.expect(errorBoxOf(&first, "first"), ModalAnswerer::press("确定"), "first");
    first.show();
    QVERIFY(waitForTheEnd());
    QVERIFY(!first.isVisible());

    // The first dialog lives on, closed: the second run is the second dialog's alone.
    service.clearConfig();
    DSync second;
    second.show();
    QVERIFY(waitForTheEnd());
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(text(second, "lblLog"), successText);
    QCOMPARE(text(first, "lblLog"), runningText);
    QCOMPARE(boxes.seen().size(), 1);
}

void TestDSync::beforeTheWindowShowsItSitsMidScreen()
{
    // As at start-up: the main window that owns the dialog is not on the screen yet.
    QWidget window;
    window.setGeometry(0, 0, 200, 100);
    DSync dialog(&window);
    const QPoint middle = dialog.screen()->availableGeometry().center();
    QVERIFY2((dialog.geometry().center() - middle).manhattanLength() <= 2,
        qPrintable(QString("%1,%2").arg(dialog.geometry().center().x()).arg(dialog.geometry().center().y())));
}

void TestDSync::wrongClockIsToldAtTheEnd()
{
    // Auto-close set, a clock a week behind the service's: the run completes and the dialog stays
    // to say so, with the size of the difference.
    FileSetting::getInstance()->setCloseWhenSyncFinished(true);
    SyncHelper::setClock([] { return QDateTime::currentDateTimeUtc().addDays(-7); });
    DSync dialog;
    dialog.show();
    QVERIFY(waitForTheEnd());
    SyncHelper::setClock({});
    QVERIFY(synchronised());
    QVERIFY(dialog.isVisible());
    QCOMPARE(text(dialog, "lblLog"), successText);
    QVERIFY(shown(dialog, "lblLog_2"));
    QVERIFY2(text(dialog, "lblLog_2").contains(QString::fromUtf8("慢了 7 天")), qPrintable(text(dialog, "lblLog_2")));
    QVERIFY(shown(dialog, "pbOK"));
    QTest::mouseClick(dialog.findChild<QPushButton*>("pbOK"), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
}

QTEST_MAIN(TestDSync)
#include "tst_dsync.moc"
