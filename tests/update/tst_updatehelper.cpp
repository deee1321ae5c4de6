#include <QElapsedTimer>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include "data/constants.h"
#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "data/mversion.h"
#include "data/settingkeys.h"
#include "engine/httphelper.h"
#include "modalanswerer.h"
#include "servicefixture.h"
#include "shell/mainwindow.h"
#include "sync/dupdate.h"
#include "sync/updatehelper.h"
#include "testenv.h"

namespace {

const QString versionPath = QStringLiteral("client/pc.php");

// The reply body of client/pc.php: a JSON object given as a map, or any text as it stands.
QJsonObject replyBody(const QString& text)
{
    return QJsonObject { { "body", text } };
}

// One round trip to the service, so that anything sent before has had time to arrive.
void waitForService(const ServiceFixture& service)
{
    QObject owner;
    auto* probe = new HttpHelper(&owner);
    QSignalSpy finished(probe, &HttpHelper::finished);
    probe->get(service.baseUrl());
    QVERIFY(finished.wait(60000));
}

} // namespace

class TestUpdateHelper : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void answers_data();
    void answers();
    void withoutDialogOnlyTheRecordIsFilled();
    void failedRequestIsSilent_data();
    void failedRequestIsSilent();
    void mainWindowAsksTwoSecondsAfterStart();
    void mainWindowAsksNothingWhenSwitchedOff();

private:
    ServiceFixture service;
    TestEnv* env = nullptr;
};

void TestUpdateHelper::initTestCase()
{
    QVERIFY2(service.start(), qPrintable(service.errorText()));
    service.useFromProgram();
}

void TestUpdateHelper::init()
{
    env = new TestEnv;
    service.clearConfig();
    service.clearRequests();
}

void TestUpdateHelper::cleanup()
{
    DbSetting::setInstance(nullptr);
    TestBook::closeDefault();
    MainWindow::environment() = MainWindow::Environment();
    delete env;
}

void TestUpdateHelper::answers_data()
{
    QTest::addColumn<QJsonObject>("config");
    QTest::addColumn<int>("vercode");
    QTest::addColumn<bool>("offered");

    const auto update = [](const QJsonObject& fields) { return QJsonObject { { "update", fields } }; };
    const auto body = [](const QString& text) {
        return QJsonObject { { "faults", QJsonObject { { versionPath, replyBody(text) } } } };
    };
    QTest::newRow("this release") << update({ { "vercode", 38 } }) << 38 << false;
    QTest::newRow("older release") << update({ { "vercode", 12 } }) << 12 << false;
    QTest::newRow("newer release") << update({ { "vercode", 39 } }) << 39 << true;
    QTest::newRow("newer release as text") << update({ { "vercode", "39" } }) << 39 << true;
    QTest::newRow("text that is no number") << update({ { "vercode", "39a" } }) << 0 << false;
    QTest::newRow("fraction") << update({ { "vercode", 39.5 } }) << 0 << false;
    QTest::newRow("too large") << update({ { "vercode", 1e20 } }) << 0 << false;
    QTest::newRow("true") << update({ { "vercode", true } }) << 0 << false;
    QTest::newRow("missing vercode") << body("{\"description\":\"说明\",\"url1\":\"http://127.0.0.1:9/a.exe\"}") << 0
                                     << false;
    QTest::newRow("without url2 and vername")
        << body("{\"vercode\":40,\"description\":\"说明\",\"url1\":\"u1\",\"panurl\":\"pu\",\"panreg\":\"pr\"}") << 40
        << true;
    QTest::newRow("not JSON") << body("<html><body>维护中</body></html>") << 0 << false;
    QTest::newRow("array") << body("[39]") << 0 << false;
    QTest::newRow("error object") << QJsonObject {
        { "faults", QJsonObject { { versionPath, QJsonObject { { "error", 7 }, { "message", "busy" } } } } }
    } << 0 << false;
}

void TestUpdateHelper::answers()
{
    QFETCH(QJsonObject, config);
    QFETCH(int, vercode);
    QFETCH(bool, offered);
    service.setConfig(config);

    QWidget window;
    auto* helper = new UpdateHelper(&window, true);
    QSignalSpy checked(helper, &UpdateHelper::versionChecked);
    ModalAnswerer boxes;
    QString description;
    if (offered) {
        boxes.expect(
            ModalAnswerer::ofClass("DUpdate"),
            [&](QWidget* modal) {
                description = modal->findChild<QWidget*>("tbDescription")->property("plainText").toString();
                ModalAnswerer::closeStrip()(modal);
            },
            "the update dialog");
    }
    helper->checkVersion();
    // The dialog runs inside the answer's handler, before the check's signal has returned to us.
    QVERIFY(checked.wait(60000));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));

    QCOMPARE(checked.size(), 1);
    auto* version = checked.first().first().value<MVersion*>();
    QVERIFY(version);
    QCOMPARE(version->vercode, vercode);
    QCOMPARE(window.findChildren<DUpdate*>().size(), offered ? 1 : 0);
    if (offered)
        QCOMPARE(description, version->description);
    if (QTest::currentDataTag() == QByteArray("newer release")) {
        // The service's record as it is sent, every field read.
        const QString base = service.baseUrl();
        QCOMPARE(version->vername, QString("1.6"));
        QCOMPARE(version->url1, base + "download/quorvane-setup.exe");
        QCOMPARE(version->url2, QString());
        QCOMPARE(version->panurl, base + "pan/quorvane.html");
        QCOMPARE(version->panreg, QString("href=\"(http://[^\"]+\\.exe)\""));
    }
    if (QTest::currentDataTag() == QByteArray("without url2 and vername")) {
        QCOMPARE(version->description, QString("说明"));
        QCOMPARE(version->url1, QString("u1"));
        QCOMPARE(version->panurl, QString("pu"));
        QCOMPARE(version->panreg, QString("pr"));
        QCOMPARE(version->url2, QString());
        QCOMPARE(version->vername, QString());
    }
    if (QTest::currentDataTag() == QByteArray("not JSON")) {
        QCOMPARE(version->description, QString());
        QCOMPARE(version->url1, QString());
    }
    const QList<QJsonObject> requests = service.requests(versionPath);
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().value("method").toString(), QString("GET"));
}

void TestUpdateHelper::withoutDialogOnlyTheRecordIsFilled()
{
    service.setConfig({ { "update", QJsonObject { { "vercode", 39 }, { "description", "新版" } } } });
    QWidget window;
    auto* helper = new UpdateHelper(&window, false);
    QSignalSpy checked(helper, &UpdateHelper::versionChecked);
    ModalAnswerer boxes;
    helper->checkVersion();
    QVERIFY(checked.wait(60000));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    auto* version = checked.first().first().value<MVersion*>();
    QCOMPARE(version->vercode, 39);
    QCOMPARE(version->description, QString("新版"));
    QVERIFY(window.findChildren<DUpdate*>().isEmpty());

    // A second check refills the same record.
    service.setConfig({ { "update", QJsonObject { { "vercode", 41 } } } });
    helper->checkVersion();
    QVERIFY(checked.wait(60000));
    QCOMPARE(checked.last().first().value<MVersion*>(), version);
    QCOMPARE(version->vercode, 41);
    QCOMPARE(version->description, QString());
}

void TestUpdateHelper::failedRequestIsSilent_data()
{
    QTest::addColumn<QJsonObject>("fault");
    QTest::newRow("server error") << QJsonObject { { "status", 500 } };
    QTest::newRow("connection closed") << QJsonObject { { "close", true } };
}

void TestUpdateHelper::failedRequestIsSilent()
{
    QFETCH(QJsonObject, fault);
    service.setFault(versionPath, fault);
    QWidget window;
    auto* helper = new UpdateHelper(&window, true);
    QSignalSpy checked(helper, &UpdateHelper::versionChecked);
    ModalAnswerer boxes;
    helper->checkVersion();
    auto* http = helper->findChild<HttpHelper*>();
    QVERIFY(http);
    QSignalSpy failed(http, &HttpHelper::error);
    QVERIFY(failed.wait(60000));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(checked.size(), 0);
    QVERIFY(window.findChildren<DUpdate*>().isEmpty());
}

void TestUpdateHelper::mainWindowAsksTwoSecondsAfterStart()
{
    MainWindow::environment().today = [] { return QDate(2026, 12, 10); };
    MainWindow::environment().trayAvailable = [] { return false; };
    FileSetting::getInstance()->setValue(SettingKeys::EnableAutoUpdate, true);
    service.setConfig({ { "update", QJsonObject { { "vercode", 39 }, { "description", "<b>新功能</b>" } } } });

    ModalAnswerer boxes;
    boxes.expect(ModalAnswerer::ofClass("DUpdate"), ModalAnswerer::closeStrip(), "the update dialog");
    QElapsedTimer clock;
    clock.start();
    MainWindow window;
    QVERIFY(window.isBookOpen());
    QVERIFY(service.requests(versionPath).isEmpty());
    QVERIFY(boxes.waitAnswered(60000));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    // Two seconds, less the 5 % a coarse timer may fire early.
    QVERIFY2(clock.elapsed() >= 1900, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(service.requests(versionPath).size(), 1);
    // Over the window, and kept after it closed.
    QCOMPARE(window.findChildren<DUpdate*>().size(), 1);
}

void TestUpdateHelper::mainWindowAsksNothingWhenSwitchedOff()
{
    MainWindow::environment().today = [] { return QDate(2026, 12, 10); };
    MainWindow::environment().trayAvailable = [] { return false; };
    FileSetting::getInstance()->setValue(SettingKeys::EnableAutoUpdate, false);
    service.setConfig({ { "update", QJsonObject { { "vercode", 39 } } } });

    ModalAnswerer boxes;
    MainWindow window;
    QVERIFY(QMetaObject::invokeMethod(&window, "checkUpdate"));
    waitForService(service);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QVERIFY(service.requests(versionPath).isEmpty());
    QVERIFY(window.findChildren<HttpHelper*>().isEmpty());
}

QTEST_MAIN(TestUpdateHelper)
#include "tst_updatehelper.moc"
