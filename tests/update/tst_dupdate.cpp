#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include "data/mversion.h"
#include "engine/httphelper.h"
#include "modalanswerer.h"
#include "releasekit.h"
#include "servicefixture.h"
#include "sync/dupdate.h"
#include "sync/installerlauncher.h"

namespace {

const QString installerPath = QStringLiteral("download/quorvane-setup.exe");
const QString panPath = QStringLiteral("pan/quorvane.html");
const QString defaultPattern = QStringLiteral("href=\"(http://[^\"]+\\.exe)\"");
const QByteArray scriptStart = "#!/bin/sh\n# Quorvane记账 installer stand-in\n";
const qint64 defaultSize = 6 * 1024 * 1024;

struct Start {
    QString file;
    QStringList arguments;
    QByteArray contents;
    QFile::Permissions permissions;
};

QPushButton* button(QWidget& dialog, const char* name)
{
    return dialog.findChild<QPushButton*>(QLatin1String(name));
}

ModalAnswerer::Matcher failureBox(const QString& textStart)
{
    return [textStart](QWidget* modal) {
        return ModalAnswerer::titleOf(modal) == QStringLiteral("下载失败")
            && ModalAnswerer::textOf(modal).startsWith(textStart);
    };
}

QStringList pathsOf(const QList<QJsonObject>& requests)
{
    QStringList paths;
    for (const QJsonObject& request : requests)
        paths << request.value("path").toString();
    return paths;
}

// Folders the downloads went to, in the test's own temporary folder.
QStringList downloadFolders()
{
    return QDir(QDir::tempPath()).entryList({ "quorvane-update-*" }, QDir::Dirs | QDir::NoDotAndDotDot);
}

} // namespace

class TestDUpdate : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void notesPage();
    void linkOnThePage_data();
    void linkOnThePage();
    void downloadChain_data();
    void downloadChain();
    void failingStartStillQuits();
    void startsTheDownloadedScript();
    void cancelStopsTheChain_data();
    void cancelStopsTheChain();
    void refusedDownloads_data();
    void refusedDownloads();

private:
    // The release record of the installer the service serves now, signed with the test's key. The
    // installer is fetched for that, and the request log cleared afterwards.
    void record(MVersion& version, const QString& url1, const QString& panreg = QString());
    // One more request to path, answered after whatever the service was still holding there.
    void roundTrip(const QString& path);

    ServiceFixture service;
    ThrowawayReleaseKey releaseKey;
    QTemporaryDir* temp = nullptr;
    QList<Start> starts;
    bool startResult = true;
    int quits = 0;
};

void TestDUpdate::initTestCase()
{
    QVERIFY2(service.start(), qPrintable(service.errorText()));
}

void TestDUpdate::cleanupTestCase()
{
    InstallerLauncher::reset();
}

void TestDUpdate::init()
{
    // Downloads go to a temporary folder of this test's own.
    temp = new QTemporaryDir;
    QVERIFY(temp->isValid());
    qputenv("TMPDIR", QFile::encodeName(temp->path()));
    service.clearConfig();
    service.clearRequests();
    starts.clear();
    startResult = true;
    quits = 0;
    // Starts are recorded, not made; the program does not end.
    InstallerLauncher::setStarter([this](const QString& file, const QStringList& arguments) {
        QFile installer(file);
        Start start { file, arguments, {}, installer.permissions() };
        if (installer.open(QIODevice::ReadOnly))
            start.contents = installer.readAll();
        starts << start;
        return startResult;
    });
    InstallerLauncher::setQuitter([this] { ++quits; });
}

void TestDUpdate::cleanup()
{
    qunsetenv("TMPDIR");
    delete temp;
}

void TestDUpdate::record(MVersion& version, const QString& url1, const QString& panreg)
{
    version.description = QStringLiteral("新版本");
    version.vercode = 39;
    version.url1 = QString(url1).replace("{base}", service.baseUrl());
    version.panurl = service.baseUrl() + panPath;
    version.panreg = panreg.isEmpty() ? defaultPattern : panreg;
    const QByteArray installer = fetchBytes(service.baseUrl() + installerPath);
    QVERIFY(!installer.isEmpty());
    setSignature(version, releaseKey.sign(installer));
    service.clearRequests();
}

void TestDUpdate::roundTrip(const QString& path)
{
    QObject owner;
    auto* probe = new HttpHelper(&owner);
    QSignalSpy finished(probe, &HttpHelper::finished);
    QSignalSpy failed(probe, &HttpHelper::error);
    probe->get(service.baseUrl() + path);
    QVERIFY(QTest::qWaitFor([&] { return !finished.isEmpty() || !failed.isEmpty(); }, 60000));
}

void TestDUpdate::notesPage()
{
    MVersion version;
    record(version, "{base}" + installerPath);
    version.description = QStringLiteral("<p>修复了<b>若干</b>问题</p>");
    DUpdate dialog(nullptr, &version);
    dialog.show();
    QCOMPARE(ModalAnswerer::titleOf(&dialog), QString("软件更新"));
    auto* pages = dialog.findChild<QStackedWidget*>("stackedWidget");
    QCOMPARE(pages->currentWidget()->objectName(), QString("page"));
    QCOMPARE(dialog.findChild<QTextBrowser*>("tbDescription")->toPlainText(), QString("修复了若干问题"));

    version.description = QStringLiteral("a < b & c");
    DUpdate plain(nullptr, &version);
    QCOMPARE(plain.findChild<QTextBrowser*>("tbDescription")->toPlainText(), QString("a < b & c"));

    // 取消 on the notes page only closes: nothing is downloaded.
    ModalAnswerer boxes;
    button(dialog, "pbCancel_2")->click();
    QVERIFY(!dialog.isVisible());
    roundTrip(QString());
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(pathsOf(service.requests()), QStringList { QString() });
    QVERIFY(downloadFolders().isEmpty());
}

void TestDUpdate::linkOnThePage_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("link");

    QTest::newRow("entities decoded") << "<a href=\"http://h/get?a=1&amp;b=2\">下载</a>"
                                      << "href=\"(.+)\""
                                      << "http://h/get?a=1&b=2";
    QTest::newRow("case ignored") << "<A HREF=\"http://h/Setup.EXE\">" << defaultPattern << "http://h/Setup.EXE";
    QTest::newRow("shortest match") << "<a href=\"http://h/a.exe\">a</a> <a href=\"http://h/b.exe\">b</a>"
                                    << "href=\"(.+)\""
                                    << "http://h/a.exe";
    QTest::newRow("leftmost match") << "<a href=\"http://h/first.exe\"></a><a href=\"http://h/second.exe\"></a>"
                                    << defaultPattern << "http://h/first.exe";
    QTest::newRow("tags dropped") << "<p><b>http://h/a.exe</b></p>"
                                  << "<p>(.+)</p>"
                                  << "http://h/a.exe";
    QTest::newRow("no match") << "<p>维护中</p>" << defaultPattern << "";
    QTest::newRow("no group") << "<a href=\"http://h/a.exe\">"
                              << "href"
                              << "";
    QTest::newRow("broken pattern") << "<a href=\"http://h/a.exe\">"
                                    << "href=\"(.+)\" (("
                                    << "";
}

void TestDUpdate::linkOnThePage()
{
    QFETCH(QString, html);
    QFETCH(QString, pattern);
    QFETCH(QString, link);
    QCOMPARE(DUpdate::getDownloadLink(html, pattern), link);
}

void TestDUpdate::downloadChain_data()
{
    QTest::addColumn<QJsonObject>("config");
    QTest::addColumn<QString>("url1");
    QTest::addColumn<QString>("panreg");
    QTest::addColumn<QStringList>("requests");
    // Empty: the installer is started; otherwise the start of the "下载失败" box's text.
    QTest::addColumn<QString>("failure");

    const QString base = "{base}";
    const QString installer = installerPath;
    const auto size = [](qint64 bytes) { return QJsonObject { { "installer", QJsonObject { { "size", bytes } } } }; };
    const auto link = [](const QString& address) { return QJsonObject { { "panLink", address } }; };
    const auto fault = [](const QString& path, const QJsonObject& fault) {
        return QJsonObject { { "faults", QJsonObject { { path, fault } } } };
    };
    const QString anyText = "href=\"(.+)\"";

    QTest::newRow("installer at the threshold")
        << size(5242880) << base + installer << QString() << QStringList { installer } << QString();
    QTest::newRow("one byte short at both sources")
        << size(5242879) << base + installer << QString() << QStringList { installer, panPath, installer }
        << "下载文件时出现错误: 没有下载地址";
    QTest::newRow("first address missing") << QJsonObject() << base + "missing.exe" << QString()
                                           << QStringList { "missing.exe", panPath, installer } << QString();
    QTest::newRow("first address fails") << fault("broken.exe", { { "status", 503 } }) << base + "broken.exe"
                                         << QString() << QStringList { "broken.exe", panPath, installer } << QString();
    QTest::newRow("first address is a page")
        << QJsonObject() << base + panPath << QString() << QStringList { panPath, panPath, installer } << QString();
    QTest::newRow("redirections") << QJsonObject() << base + "r301/r302/" + installer << QString()
                                  << QStringList { "r301/r302/" + installer, "r302/" + installer, installer }
                                  << QString();
    QStringList ten;
    for (int i = 10; i >= 0; --i)
        ten << QString("r302/").repeated(i) + installer;
    QTest::newRow("ten redirections") << QJsonObject() << base + ten.first() << QString() << ten << QString();
    QStringList eleven;
    for (int i = 11; i >= 1; --i)
        eleven << QString("r302/").repeated(i) + installer;
    QTest::newRow("eleven redirections") << QJsonObject() << base + eleven.first() << QString()
                                         << eleven + QStringList { panPath, installer } << QString();
    QTest::newRow("redirection then missing")
        << QJsonObject() << base + "r302/missing.exe" << QString()
        << QStringList { "r302/missing.exe", "missing.exe", panPath, installer } << QString();
    QTest::newRow("local file at the first address")
        << QJsonObject() << "file://{local}" << QString() << QStringList { panPath, installer } << QString();
    QTest::newRow("redirection behind the link")
        << link(base + "r302/" + installer) << base + "missing.exe" << QString()
        << QStringList { "missing.exe", panPath, "r302/" + installer, installer } << QString();
    QTest::newRow("link of ten characters ignored")
        << link("file:///tm") << base + "missing.exe" << anyText << QStringList { "missing.exe", panPath }
        << "下载文件时出现错误: 没有下载地址";
    QTest::newRow("link of eleven characters used")
        << link("file:///tmp") << base + "missing.exe" << anyText << QStringList { "missing.exe", panPath }
        << "下载文件时出现错误: 无效的下载地址 file:///tmp";
    QTest::newRow("no link on the page") << QJsonObject() << base + "missing.exe"
                                         << "nothing-(here)" << QStringList { "missing.exe", panPath }
                                         << "下载文件时出现错误: 没有下载地址";
    QTest::newRow("page cannot be fetched")
        << fault(panPath, { { "status", 500 } }) << base + "missing.exe" << QString()
        << QStringList { "missing.exe", panPath } << "下载文件时出现错误: 无法打开下载页面";
    QTest::newRow("link answers 404") << link(base + "gone.exe") << base + "missing.exe" << QString()
                                      << QStringList { "missing.exe", panPath, "gone.exe" } << "下载文件时出现错误: ";
}

void TestDUpdate::downloadChain()
{
    QFETCH(QJsonObject, config);
    QFETCH(QString, url1);
    QFETCH(QString, panreg);
    QFETCH(QStringList, requests);
    QFETCH(QString, failure);
    service.setConfig(config);
    const qint64 size = config.value("installer").toObject().value("size").toInteger(defaultSize);

    if (url1.contains("{local}")) {
        // A big file already on this computer: never taken for the installer.
        const QString path = temp->filePath("local.exe");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(6 * 1024 * 1024, 'L'));
        file.close();
        url1.replace("{local}", path);
    }

    MVersion version;
    record(version, url1, panreg);
    ModalAnswerer boxes;
    if (failure.isEmpty())
        boxes.expect("下载成功", "下载成功，软件将自动重启并完成升级。", "确定");
    else
        boxes.expect(failureBox(failure), ModalAnswerer::press("确定"), "下载失败 | " + failure);

    {
        DUpdate dialog(nullptr, &version);
        dialog.show();
        button(dialog, "pbUpdate")->click();
        QCOMPARE(dialog.findChild<QStackedWidget*>("stackedWidget")->currentWidget()->objectName(), QString("page_2"));
        QVERIFY(boxes.waitAnswered(120000));
        QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
        QCOMPARE(pathsOf(service.requests()), requests);

        // Every download request carries the browser's headers with "Accept-Encoding" among them.
        for (const QJsonObject& request : service.requests()) {
            if (request.value("path").toString() == panPath)
                continue;
            const QStringList names = headerNames(request);
            int last = -1;
            for (const char* name :
                { "User-Agent", "Accept", "Accept-Language", "Accept-Encoding", "Accept-Charset", "Connection" }) {
                const int at = names.indexOf(QString::fromLatin1(name), last + 1);
                QVERIFY2(at > last, qPrintable(names.join(", ")));
                last = at;
            }
            QCOMPARE(headerValue(request, "Accept-Encoding"), QString("deflate"));
        }

        if (failure.isEmpty()) {
            QCOMPARE(starts.size(), 1);
            QCOMPARE(quits, 1);
            QVERIFY(!dialog.isVisible());
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            const Start& start = starts.first();
            QCOMPARE(start.arguments,
                QStringList({ "/S", "/D=" + QDir::toNativeSeparators(QCoreApplication::applicationDirPath()) }));
            // The final answer's body, whole, and nothing of a redirection's page.
            QCOMPARE(start.contents.size(), size);
            QVERIFY(start.contents.startsWith(scriptStart));
            QVERIFY(!start.contents.contains("<html"));
            QVERIFY(start.permissions & QFile::ExeOwner);
            // A new file in a folder of its own that only its owner may enter.
            const QFileInfo file(start.file);
            QVERIFY2(QRegularExpression("^quorvane\\d{14}(-\\d+)?\\.exe$").match(file.fileName()).hasMatch(),
                qPrintable(start.file));
            QCOMPARE(file.dir().dirName(), downloadFolders().value(0));
            QCOMPARE(file.dir().entryList(QDir::Files), QStringList { file.fileName() });
            QCOMPARE(QFile::permissions(file.absolutePath())
                    & (QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther | QFile::WriteGroup
                        | QFile::WriteOther),
                QFile::Permissions());
            auto* progress = dialog.findChild<QProgressBar*>("pbProgress");
            QCOMPARE(progress->maximum(), int(size));
            QCOMPARE(progress->value(), int(size));
        } else {
            QVERIFY(starts.isEmpty());
            QCOMPARE(quits, 0);
            // Left open on the download page until the user closes it.
            QVERIFY(dialog.isVisible());
            QCOMPARE(dialog.findChild<QLabel*>("lblDownloadStatus")->text(), QString("下载失败"));
        }
    }
    // The installer stays for its own run; failed attempts leave nothing behind.
    QCOMPARE(downloadFolders().size(), failure.isEmpty() ? 1 : 0);
}

void TestDUpdate::failingStartStillQuits()
{
    startResult = false;
    MVersion version;
    record(version, "{base}" + installerPath);
    ModalAnswerer boxes;
    boxes.expect("下载成功", "下载成功，软件将自动重启并完成升级。", "确定");
    boxes.expect(
        "安装失败", "安装新版本时出现错误，软件没有升级成功。您可以登陆Quorvane网站下载最新版本进行更新。", "确定");
    {
        DUpdate dialog(nullptr, &version);
        dialog.show();
        button(dialog, "pbUpdate")->click();
        QVERIFY(boxes.waitAnswered(120000));
        QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
        QCOMPARE(starts.size(), 1);
        QCOMPARE(quits, 1);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }
    QVERIFY(downloadFolders().isEmpty());
}

void TestDUpdate::startsTheDownloadedScript()
{
    // The real start: the service's installer is a shell script that notes how it was started.
    InstallerLauncher::setStarter(nullptr);
    const QString note = temp->filePath("started.txt");
    const QString script = QString("printf '%s\\n' \"$0\" \"$PPID\" \"$@\" > '%1.part' && mv '%1.part' '%1'").arg(note);
    service.setConfig({ { "installer", QJsonObject { { "size", 5242880 }, { "script", script } } } });
    MVersion version;
    record(version, "{base}" + installerPath);
    ModalAnswerer boxes;
    boxes.expect("下载成功", "下载成功，软件将自动重启并完成升级。", "确定");
    DUpdate dialog(nullptr, &version);
    dialog.show();
    button(dialog, "pbUpdate")->click();
    QVERIFY(boxes.waitAnswered(120000));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(quits, 1);

    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(note), 60000);
    QFile file(note);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    QCOMPARE(QFileInfo(lines.at(0)).dir().dirName(), downloadFolders().value(0));
    // Detached: not a child of this process.
    QVERIFY(lines.at(1).toLongLong() != QCoreApplication::applicationPid());
    QCOMPARE(
        lines.mid(2), QStringList({ "/S", "/D=" + QDir::toNativeSeparators(QCoreApplication::applicationDirPath()) }));
}

void TestDUpdate::cancelStopsTheChain_data()
{
    QTest::addColumn<QString>("when");
    QTest::addColumn<QString>("how");
    for (const char* when : { "first download", "page after an error", "download after an error" }) {
        for (const char* how : { "取消", "strip", "escape" })
            QTest::addRow("%s, %s", when, how) << when << how;
    }
}

void TestDUpdate::cancelStopsTheChain()
{
    QFETCH(QString, when);
    QFETCH(QString, how);
    // The request of the step to cancel is held back for a while.
    const bool first = when == "first download";
    const QString held = when == "page after an error" ? panPath : installerPath;
    service.setFault(held, { { "delay", 700 } });
    MVersion version;
    record(version, first ? "{base}" + installerPath : "{base}missing.exe");

    ModalAnswerer boxes;
    DUpdate dialog(nullptr, &version);
    dialog.show();
    button(dialog, "pbUpdate")->click();
    QTRY_COMPARE_WITH_TIMEOUT(service.requests(held).size(), 1, 60000);
    if (how == "取消")
        button(dialog, "pbCancel")->click();
    else if (how == "strip")
        button(dialog, "pbClose")->click();
    else
        QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());

    // Whatever was held back has been answered by now, and nothing followed it.
    roundTrip(held);
    roundTrip(QString());
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QVERIFY(starts.isEmpty());
    QCOMPARE(quits, 0);
    QStringList expected { first ? installerPath : "missing.exe" };
    if (!first)
        expected << panPath;
    if (held == installerPath && !first)
        expected << installerPath;
    expected << held << QString();
    QCOMPARE(pathsOf(service.requests()), expected);
}

void TestDUpdate::refusedDownloads_data()
{
    QTest::addColumn<QJsonObject>("served");
    QTest::addColumn<QString>("url1");
    QTest::addColumn<QString>("signature");
    QTest::addColumn<QString>("failure");

    // The release is signed as the service serves it with the script "echo a" (6 MiB); "served" is
    // what it serves when the download comes.
    const auto installer = [](qint64 size, const QString& script) {
        return QJsonObject { { "installer", QJsonObject { { "size", size }, { "script", script } } } };
    };
    const QJsonObject same = installer(defaultSize, "echo a");
    const QString own = "{base}" + installerPath;
    const QString changed = "下载的文件与新版本的校验值不符，已删除";
    const QString unsigned_ = "新版本的签名无效，下载的文件已删除";
    QTest::newRow("file changed by one byte") << installer(defaultSize, "echo b") << own << "own" << changed;
    QTest::newRow("file one byte longer") << installer(defaultSize + 1, "echo a") << own << "own" << changed;
    QTest::newRow("file one byte shorter") << installer(defaultSize - 1, "echo a") << own << "own" << changed;
    QTest::newRow("record of another file") << same << own << "another file's record" << changed;
    QTest::newRow("signature of another file") << same << own << "another file" << unsigned_;
    QTest::newRow("signature by another key") << same << own << "another key" << unsigned_;
    QTest::newRow("no signature") << same << own << "none" << unsigned_;
    QTest::newRow("malformed signature") << same << own << "malformed" << unsigned_;
    QTest::newRow("redirection to another server") << same << "{base}moved.exe"
                                                   << "own" << changed;
    QJsonObject page = installer(defaultSize, "echo b");
    page.insert("panLink", "{base}" + installerPath);
    QTest::newRow("changed file behind the page's link") << page << "{base}missing.exe"
                                                         << "own" << changed;
}

void TestDUpdate::refusedDownloads()
{
    QFETCH(QJsonObject, served);
    QFETCH(QString, url1);
    QFETCH(QString, signature);
    QFETCH(QString, failure);

    service.setConfig({ { "installer", QJsonObject { { "size", defaultSize }, { "script", "echo a" } } } });
    MVersion version;
    record(version, url1);
    const QByteArray another(defaultSize, 'A');
    if (signature == "another file's record")
        setSignature(version, releaseKey.sign(another));
    else if (signature == "another file")
        version.signature = releaseKey.sign(another).value("signature").toString();
    else if (signature == "another key")
        version.signature = ThrowawayReleaseKey::signWith(
            ReleaseSigner::generate().secretKey, fetchBytes(service.baseUrl() + installerPath))
                                .value("signature")
                                .toString();
    else if (signature == "none")
        version.signature.clear();
    else if (signature == "malformed")
        version.signature = version.signature.left(40) + "!!" + version.signature.mid(42);

    // Another server, on another port, serving a file of its own.
    ServiceFixture other;
    if (url1.contains("moved.exe")) {
        QVERIFY2(other.start(), qPrintable(other.errorText()));
        other.setConfig({ { "installer", QJsonObject { { "size", defaultSize }, { "script", "echo other" } } } });
        served.insert("faults",
            QJsonObject {
                { "moved.exe", QJsonObject { { "status", 302 }, { "location", other.baseUrl() + installerPath } } } });
    }
    service.setConfig(served);
    service.clearRequests();

    ModalAnswerer boxes;
    boxes.expect(failureBox("下载文件时出现错误: " + failure), ModalAnswerer::press("确定"), "下载失败 | " + failure);
    {
        DUpdate dialog(nullptr, &version);
        dialog.show();
        button(dialog, "pbUpdate")->click();
        QVERIFY(boxes.waitAnswered(120000));
        QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
        // Nothing started, and the file is gone before the box is shown.
        QVERIFY(starts.isEmpty());
        QCOMPARE(quits, 0);
        QCOMPARE(downloadFolders().size(), 1);
        QCOMPARE(QDir(QDir::temp().filePath(downloadFolders().first())).entryList(QDir::Files), QStringList());
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.findChild<QLabel*>("lblDownloadStatus")->text(), QString("下载失败"));
        // A refused file ends the download: no other address is tried for it.
        const QStringList paths = pathsOf(service.requests());
        if (url1.contains("missing.exe"))
            QCOMPARE(paths, QStringList({ "missing.exe", panPath, installerPath }));
        else
            QCOMPARE(paths, QStringList { QString(url1).remove("{base}") });
        if (url1.contains("moved.exe"))
            QCOMPARE(pathsOf(other.requests()), QStringList { installerPath });
    }
    QVERIFY(downloadFolders().isEmpty());
}

QTEST_MAIN(TestDUpdate)
#include "tst_dupdate.moc"
