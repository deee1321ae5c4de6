// The service behind nginx with TLS: the example configuration (tools/nginx) run by a real nginx with
// a throwaway certificate on a free port, and the program's synchronisation through it.
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSqlQuery>
#include <QSslConfiguration>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>
#include <vector>

#include "data/sqlhelper.h"
#include "engine/httphelper.h"
#include "servicefixture.h"

namespace {

// What the proxy and the service refuse in this test: small, so that one request passes it.
const int bodyLimitBytes = 1024 * 1024;

QString headerOf(const QJsonObject& request, const QString& name)
{
    for (const QJsonValue& header : request.value(QLatin1String("headers")).toArray()) {
        if (header.toArray().at(0).toString().compare(name, Qt::CaseInsensitive) == 0)
            return header.toArray().at(1).toString();
    }
    return QString();
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QString runTool(const QString& program, const QStringList& arguments, int* exitCode)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
    }
    *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromLocal8Bit(process.readAll());
}

struct HttpAnswer {
    int status = 0;
    QByteArray body;
    QString error;
};

// One request through the proxy, trusting the test's certificate as the program does (the process's
// default TLS configuration).
HttpAnswer request(const QString& url, const QByteArray* postBody = nullptr, int timeoutMs = 60000)
{
    QNetworkAccessManager manager;
    QNetworkRequest request { QUrl(url) };
    request.setTransferTimeout(timeoutMs);
    QNetworkReply* reply = nullptr;
    if (postBody) {
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
        reply = manager.post(request, *postBody);
    } else {
        reply = manager.get(request);
    }
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    HttpAnswer answer;
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.body = reply->readAll();
    if (reply->error() != QNetworkReply::NoError)
        answer.error = reply->errorString();
    delete reply;
    return answer;
}

} // namespace

class TestNginxProxy : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void healthThroughTheProxy();
    void synchronisesThroughTheProxy();
    void oversizedBodyStopsAtTheProxy();
    void requestsAtOnceFromOneAddressAreLimited();

private:
    QString errorLog() const;

    QTemporaryDir prefix;
    ServiceFixture service;
    QProcess nginx;
    QString proxyUrl;
};

void TestNginxProxy::initTestCase()
{
    QVERIFY(prefix.isValid());
    QString program = QStandardPaths::findExecutable(QStringLiteral("nginx"));
    if (program.isEmpty())
        program = QStandardPaths::findExecutable(
            QStringLiteral("nginx"), { QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin") });
    if (program.isEmpty())
        QSKIP("nginx is not installed (scripts/install-deps.sh installs it): the proxy example is not checked here");
    int code = 0;
    const QString version = runTool(program, { QStringLiteral("-v") }, &code);
    if (code != 0)
        QSKIP(qPrintable(QStringLiteral("nginx cannot run here: ") + version));

    // A throwaway self-signed certificate for the address the program is pointed at.
    const QString certificate = prefix.filePath(QStringLiteral("proxy.pem"));
    const QString key = prefix.filePath(QStringLiteral("proxy.key"));
    const QString made = runTool(QStringLiteral("openssl"),
        { QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
            QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
            QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
            QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1"), QStringLiteral("-keyout"), key,
            QStringLiteral("-out"), certificate },
        &code);
    QVERIFY2(code == 0, qPrintable(made));
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    QVERIFY(tls.addCaCertificates(certificate));
    QSslConfiguration::setDefaultConfiguration(tls);

    QVERIFY2(service.start({ QStringLiteral("--max-request-bytes"), QString::number(bodyLimitBytes) }),
        qPrintable(service.errorText()));

    // The example as it stands, with the port, the certificate, the service's address and the body limit
    // of this test put in: each of them must be in it exactly once.
    QFile exampleFile(QStringLiteral(QUORVANE_NGINX_EXAMPLE));
    QVERIFY(exampleFile.open(QIODevice::ReadOnly));
    QString example = QString::fromUtf8(exampleFile.readAll());
    const quint16 port = freePort();
    QString serviceAddress = service.baseUrl();
    serviceAddress.chop(1);
    const QList<QPair<QString, QString>> replacements = {
        { QStringLiteral("listen 443 ssl;"), QStringLiteral("listen 127.0.0.1:%1 ssl;").arg(port) },
        { QStringLiteral("/etc/ssl/certs/quorvane-service.pem"), certificate },
        { QStringLiteral("/etc/ssl/private/quorvane-service.key"), key },
        { QStringLiteral("http://127.0.0.1:8099"), serviceAddress },
        { QStringLiteral("client_max_body_size 256m;"),
            QStringLiteral("client_max_body_size %1k;").arg(bodyLimitBytes / 1024) },
    };
    for (const auto& replacement : replacements) {
        QCOMPARE(example.count(replacement.first), 1);
        example.replace(replacement.first, replacement.second);
    }
    // Everything nginx writes stays in the test's folder; one process, as the user running the test.
    const QString path = prefix.path();
    QDir().mkpath(path + QStringLiteral("/temp"));
    const QString configuration = QStringLiteral("daemon off;\nmaster_process off;\npid %1/nginx.pid;\n"
                                                 "error_log %1/error.log info;\nevents { worker_connections 64; }\n"
                                                 "http {\n    access_log %1/access.log;\n"
                                                 "    client_body_temp_path %1/temp/body;\n"
                                                 "    proxy_temp_path %1/temp/proxy;\n"
                                                 "    fastcgi_temp_path %1/temp/fastcgi;\n"
                                                 "    uwsgi_temp_path %1/temp/uwsgi;\n"
                                                 "    scgi_temp_path %1/temp/scgi;\n%2\n}\n")
                                      .arg(path, example);
    QFile configFile(prefix.filePath(QStringLiteral("nginx.conf")));
    QVERIFY(configFile.open(QIODevice::WriteOnly));
    configFile.write(configuration.toUtf8());
    configFile.close();

    nginx.setProcessChannelMode(QProcess::MergedChannels);
    nginx.start(program,
        { QStringLiteral("-p"), path + QLatin1Char('/'), QStringLiteral("-c"), configFile.fileName(),
            QStringLiteral("-e"), prefix.filePath(QStringLiteral("error.log")) });
    QVERIFY2(nginx.waitForStarted(), qPrintable(nginx.errorString()));
    const bool listening = QTest::qWaitFor(
        [&] {
            if (nginx.state() == QProcess::NotRunning)
                return true;
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            return probe.waitForConnected(200);
        },
        30000);
    QVERIFY2(listening && nginx.state() == QProcess::Running,
        qPrintable(QString::fromLocal8Bit(nginx.readAll()) + errorLog()));
    proxyUrl = QStringLiteral("https://127.0.0.1:%1/").arg(port);
}

void TestNginxProxy::cleanupTestCase()
{
    if (nginx.state() != QProcess::NotRunning) {
        nginx.terminate();
        if (!nginx.waitForFinished(10000)) {
            nginx.kill();
            nginx.waitForFinished();
        }
    }
    service.stop();
}

QString TestNginxProxy::errorLog() const
{
    QFile file(prefix.filePath(QStringLiteral("error.log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void TestNginxProxy::healthThroughTheProxy()
{
    // What a load balancer or a monitor asks, with no account.
    const HttpAnswer health = request(proxyUrl + QStringLiteral("health"));
    QCOMPARE(health.status, 200);
    QCOMPARE(QJsonDocument::fromJson(health.body).object(),
        QJsonObject({ { QStringLiteral("status"), QStringLiteral("ok") } }));
}

void TestNginxProxy::synchronisesThroughTheProxy()
{
    AccountBook book(service);
    QVERIFY2(book.isReady(), qPrintable(book.errorText()));
    qputenv("QUORVANE_BASE_URL", proxyUrl.toUtf8());
    QSqlQuery insert;
    QVERIFY(insert.exec(QStringLiteral(
        "insert into tbl_bill (id, title, amount, description, date, month, kind, account_id, category_id, "
        "sub_category_id, member_id) values ('proxied-bill', '代理', -12.5, '经过 TLS', '2024-01-02', 202401, "
        "'expense', '01', '01', '01', '01')")));
    SyncOutcome outcome = runSync();
    QVERIFY2(outcome.finished, qPrintable(outcome.message + errorLog()));

    // Another computer of the household gets the bill through the proxy as well.
    QVERIFY(book.openSecondBook(QStringLiteral("second.db")));
    outcome = runSync();
    QVERIFY2(outcome.finished, qPrintable(outcome.message + errorLog()));
    QSqlQuery bill;
    QVERIFY(bill.exec(QStringLiteral("select title, amount, description from tbl_bill where id = 'proxied-bill'")));
    QVERIFY(bill.next());
    QCOMPARE(bill.value(0).toString(), QStringLiteral("代理"));
    QCOMPARE(bill.value(1).toDouble(), -12.5);
    QCOMPARE(bill.value(2).toString(), QStringLiteral("经过 TLS"));

    // The service learns who asked and how: the client's address and the scheme it used.
    const QList<QJsonObject> uploads = service.requests(QStringLiteral("sync/syncpc2.php"));
    QCOMPARE(uploads.size(), 2);
    for (const QJsonObject& upload : uploads) {
        QCOMPARE(headerOf(upload, QStringLiteral("X-Forwarded-For")), QStringLiteral("127.0.0.1"));
        QCOMPARE(headerOf(upload, QStringLiteral("X-Forwarded-Proto")), QStringLiteral("https"));
    }
}

void TestNginxProxy::oversizedBodyStopsAtTheProxy()
{
    service.clearRequests();
    const QByteArray body = "username=a&password=b&data=" + QByteArray(2 * bodyLimitBytes, 'x');
    const HttpAnswer answer = request(proxyUrl + QStringLiteral("sync/syncpc2.php"), &body);
    QCOMPARE(answer.status, 413);
    // Nothing of it reached the service.
    QVERIFY(service.requests().isEmpty());

    // A request within the limit still goes through.
    const QByteArray small = HttpHelper::encodeForm({ { QStringLiteral("username"), QStringLiteral("nobody") },
        { QStringLiteral("password"), QStringLiteral("wrong") } });
    const HttpAnswer refused = request(proxyUrl + QStringLiteral("sync/userid.php"), &small);
    QCOMPARE(refused.status, 200);
    QVERIFY2(refused.body.contains("\"error\""), refused.body.constData());
}

void TestNginxProxy::requestsAtOnceFromOneAddressAreLimited()
{
    // Sixteen requests under way from this address, each on a connection of its own, which the service
    // holds without answering.
    const QString path = QStringLiteral("client/pc.php");
    service.setFault(path, { { QStringLiteral("hang"), true } });
    service.clearRequests();
    std::vector<std::unique_ptr<QNetworkAccessManager>> managers;
    std::vector<QNetworkReply*> held;
    for (int i = 0; i < 16; ++i) {
        managers.push_back(std::make_unique<QNetworkAccessManager>());
        held.push_back(managers.back()->get(QNetworkRequest(QUrl(proxyUrl + path))));
    }
    QVERIFY2(QTest::qWaitFor([&] { return service.requests(path).size() == 16; }, 30000),
        qPrintable(QString::number(service.requests(path).size())));

    // One more is answered 503 by the proxy and never reaches the service (where it would hang).
    const HttpAnswer refused = request(proxyUrl + path, nullptr, 10000);
    QCOMPARE(refused.status, 503);
    QCOMPARE(service.requests(path).size(), 16);

    // Once the client gives those up, its requests go through again.
    for (QNetworkReply* reply : held)
        reply->abort();
    service.clearConfig();
    int status = 0;
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                     status = request(proxyUrl + path).status;
                     return status == 200;
                 },
                 30000),
        qPrintable(QString::number(status)));
}

QTEST_GUILESS_MAIN(TestNginxProxy)
#include "tst_nginxproxy.moc"
