#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include "data/constants.h"
#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "data/mversion.h"
#include "data/settingkeys.h"
#include "engine/httphelper.h"
#include "engine/releasesignature.h"
#include "modalanswerer.h"
#include "releasekey/releasekey.h"
#include "releasekit.h"
#include "servicefixture.h"
#include "shell/mainwindow.h"
#include "sync/dupdate.h"
#include "sync/installerlauncher.h"
#include "sync/updatehelper.h"
#include "testenv.h"

namespace {

const QString versionPath = QStringLiteral("client/pc.php");

// A well-formed "sha256" and "signature": what a release record needs to be offered at all (the file
// itself is checked only once it has been downloaded).
QJsonObject someSignature()
{
    return ThrowawayReleaseKey::signWith(ReleaseSigner::generate().secretKey, "a release");
}

// A record's fields with someSignature() among them.
QJsonObject signedRecord(QJsonObject fields)
{
    const QJsonObject signature = someSignature();
    for (auto it = signature.begin(); it != signature.end(); ++it)
        fields.insert(it.key(), it.value());
    return fields;
}

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
    void unsignedRecordsAreNotOffered_data();
    void unsignedRecordsAreNotOffered();
    void withoutDialogOnlyTheRecordIsFilled();
    void failedRequestIsSilent_data();
    void failedRequestIsSilent();
    void mainWindowAsksTwoSecondsAfterStart();
    void mainWindowAsksNothingWhenSwitchedOff();
    void releaseSignedWithTheToolIsInstalled();

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

    const auto update = [](const QJsonObject& fields) { return QJsonObject { { "update", signedRecord(fields) } }; };
    const auto body = [](const QString& text) {
        return QJsonObject { { "faults", QJsonObject { { versionPath, replyBody(text) } } } };
    };
    const QJsonObject signature = someSignature();
    const QString signatureKeys
        = QString(",\"sha256\":\"%1\",\"signature\":\"%2\"}")
              .arg(signature.value("sha256").toString(), signature.value("signature").toString());
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
    QTest::newRow("without url2 and vername") << body(
        "{\"vercode\":40,\"description\":\"说明\",\"url1\":\"u1\",\"panurl\":\"pu\",\"panreg\":\"pr\"" + signatureKeys)
                                              << 40 << true;
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
        QCOMPARE(version->sha256.size(), 64);
        QCOMPARE(ReleaseSignature::fromBase64(version->signature).size(), 64);
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

void TestUpdateHelper::unsignedRecordsAreNotOffered_data()
{
    QTest::addColumn<QJsonObject>("record");
    QTest::addColumn<QString>("why");

    const QJsonObject good = signedRecord({ { "vercode", 39 } });
    const QString sha256 = good.value("sha256").toString();
    const QString signature = good.value("signature").toString();
    const auto with = [&good](const char* key, const QJsonValue& value) {
        QJsonObject record = good;
        if (value.isUndefined())
            record.remove(QLatin1String(key));
        else
            record.insert(QLatin1String(key), value);
        return record;
    };
    QTest::newRow("no sha256") << with("sha256", QJsonValue::Undefined) << "sha256";
    QTest::newRow("no signature") << with("signature", QJsonValue::Undefined) << "signature";
    QTest::newRow("neither") << QJsonObject { { "vercode", 39 } } << "sha256";
    QTest::newRow("sha256 too short") << with("sha256", sha256.left(62)) << "sha256";
    QTest::newRow("sha256 not hex") << with("sha256", sha256.left(63) + "g") << "sha256";
    QTest::newRow("sha256 in base64") << with(
        "sha256", QString::fromLatin1(QByteArray::fromHex(sha256.toLatin1()).toBase64()))
                                      << "sha256";
    QTest::newRow("sha256 as a number") << with("sha256", 12345) << "sha256";
    QTest::newRow("signature too short") << with("signature", QString::fromLatin1(QByteArray(63, 's').toBase64()))
                                         << "signature";
    QTest::newRow("signature not base64")
        << with("signature", signature.left(40) + "*" + signature.mid(41)) << "signature";
    QTest::newRow("signature in hex") << with(
        "signature", QString::fromLatin1(QByteArray::fromBase64(signature.toLatin1()).toHex()))
                                      << "signature";
    QTest::newRow("signature empty") << with("signature", "") << "signature";
}

void TestUpdateHelper::unsignedRecordsAreNotOffered()
{
    QFETCH(QJsonObject, record);
    QFETCH(QString, why);
    service.setConfig({ { "update", record } });

    QWidget window;
    auto* helper = new UpdateHelper(&window, true);
    QSignalSpy checked(helper, &UpdateHelper::versionChecked);
    ModalAnswerer boxes;
    // Silent for the user; the log says why.
    QTest::ignoreMessage(
        QtWarningMsg, QRegularExpression(QString("release 39 not offered: its record has no valid \"%1\"").arg(why)));
    helper->checkVersion();
    QVERIFY(checked.wait(60000));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(checked.first().first().value<MVersion*>()->vercode, 39);
    QVERIFY(window.findChildren<DUpdate*>().isEmpty());
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
    service.setConfig({ { "update", signedRecord({ { "vercode", 39 }, { "description", "<b>新功能</b>" } }) } });

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

void TestUpdateHelper::releaseSignedWithTheToolIsInstalled()
{
    // The publisher's way: a key pair from quorvane-release, the release file signed with it into a
    // record for the service's configuration. The program trusts that key here as a release build
    // trusts the one it was built with.
    QTemporaryDir publisher;
    const QString secretKey = publisher.filePath("secret.key");
    const QString publicKey = publisher.filePath("release.pub");
    const ToolRun keygen = runReleaseTool({ "keygen", secretKey, publicKey });
    QVERIFY2(keygen.exitCode == 0, qPrintable(keygen.errors));
    ReleaseKey::trustForTesting(ReleaseSignature::publicKeyFromBase64(QString::fromLatin1(fileBytes(publicKey))));
    const auto trustBuiltInKey = qScopeGuard([] { ReleaseKey::trustForTesting(QByteArray()); });

    service.setConfig({ { "installer", QJsonObject { { "script", "echo installed" } } } });
    const QString release = publisher.filePath("quorvane-setup.exe");
    QVERIFY(writeFile(release, fetchBytes(service.baseUrl() + "download/quorvane-setup.exe")));
    const ToolRun sign = runReleaseTool({ "sign", release, "--key", secretKey, "--record", "--vercode", "39",
        "--vername", "1.7", "--description", "<p>新版本</p>" });
    QVERIFY2(sign.exitCode == 0, qPrintable(sign.errors));
    const QJsonObject record = QJsonDocument::fromJson(sign.output).object();
    service.setConfig({ { "update", record }, { "installer", QJsonObject { { "script", "echo installed" } } } });

    QTemporaryDir downloads;
    qputenv("TMPDIR", QFile::encodeName(downloads.path()));
    const auto restoreTemp = qScopeGuard([] { qunsetenv("TMPDIR"); });
    QStringList started;
    QByteArray startedContents;
    InstallerLauncher::setStarter([&](const QString& path, const QStringList&) {
        started << path;
        startedContents = fileBytes(path);
        return true;
    });
    InstallerLauncher::setQuitter([] {});
    const auto realLauncher = qScopeGuard([] { InstallerLauncher::reset(); });

    QWidget window;
    auto* helper = new UpdateHelper(&window, true);
    ModalAnswerer boxes;
    boxes.expect(
        ModalAnswerer::ofClass("DUpdate"),
        [](QWidget* dialog) { dialog->findChild<QPushButton*>("pbUpdate")->click(); }, "the update dialog");
    boxes.expect("下载成功", "下载成功，软件将自动重启并完成升级。", "确定");
    helper->checkVersion();
    QVERIFY(boxes.waitAnswered(120000));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(started.size(), 1);
    QCOMPARE(startedContents, fileBytes(release));
}

QTEST_MAIN(TestUpdateHelper)
#include "tst_updatehelper.moc"
