// quorvane-service probed from outside as a hostile client would: raw requests with control
// characters in their paths, redirections built from what a request says, the time a wrong password
// takes for known and unknown names, the request log's permissions, the update record it is
// configured with, and passwords kept off the command line.
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <sys/resource.h>

#include "engine/httphelper.h"
#include "servicefixture.h"
#include "testenv.h"

namespace {

struct RawAnswer {
    QByteArray statusLine;
    QList<QByteArray> headerLines;
    QByteArray body;
};

QByteArray headerOf(const RawAnswer& answer, const QByteArray& name)
{
    for (const QByteArray& line : answer.headerLines) {
        if (line.toLower().startsWith(name.toLower() + ':'))
            return line.mid(name.size() + 1).trimmed();
    }
    return QByteArray();
}

// Sends a request as it stands (no client library in between to clean it up) and reads the answer's
// head and as much body as its Content-Length says.
RawAnswer rawRequest(const QString& baseUrl, const QByteArray& target)
{
    const QUrl base(baseUrl);
    QTcpSocket socket;
    socket.connectToHost(base.host(), quint16(base.port()));
    RawAnswer answer;
    if (!socket.waitForConnected(60000))
        return answer;
    socket.write("GET " + target + " HTTP/1.1\r\nHost: " + base.host().toLatin1() + "\r\n\r\n");
    QByteArray bytes;
    qsizetype headerEnd = -1;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 60000) {
        if (headerEnd < 0 && (headerEnd = bytes.indexOf("\r\n\r\n")) >= 0) {
            const QList<QByteArray> lines = bytes.left(headerEnd).split('\n');
            answer.statusLine = lines.value(0).trimmed();
            for (qsizetype i = 1; i < lines.size(); ++i)
                answer.headerLines << lines.at(i).trimmed();
        }
        if (headerEnd >= 0 && bytes.size() - headerEnd - 4 >= headerOf(answer, "Content-Length").toLongLong())
            break;
        if (socket.state() != QAbstractSocket::ConnectedState)
            break;
        if (socket.waitForReadyRead(1000))
            bytes += socket.readAll();
    }
    answer.body = headerEnd < 0 ? QByteArray() : bytes.mid(headerEnd + 4);
    return answer;
}

// A client on a socket of its own, sending what a test tells it, when it tells it.
class RawClient {
public:
    // From a loopback address of its own, when from is given (127.0.0.2, …).
    explicit RawClient(const QString& baseUrl, const QString& from = QString())
    {
        const QUrl base(baseUrl);
        if (!from.isEmpty())
            socket.bind(QHostAddress(from));
        socket.connectToHost(base.host(), quint16(base.port()));
        socket.waitForConnected(60000);
    }
    bool isConnected() const { return socket.state() == QAbstractSocket::ConnectedState; }
    void send(const QByteArray& bytes)
    {
        socket.write(bytes);
        socket.waitForBytesWritten(60000);
    }
    // Reads until the service closes the connection or timeoutMs pass; true when it closed it.
    bool waitUntilClosed(int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        while (socket.state() == QAbstractSocket::ConnectedState && clock.elapsed() < timeoutMs) {
            if (socket.waitForReadyRead(200))
                received += socket.readAll();
        }
        received += socket.readAll();
        return socket.state() != QAbstractSocket::ConnectedState;
    }
    // Reads until a whole answer is there (head and as much body as its Content-Length says).
    bool waitForAnswer(int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        // What an event loop read meanwhile is in the socket already.
        received += socket.readAll();
        while (!hasAnswer() && clock.elapsed() < timeoutMs) {
            if (socket.waitForReadyRead(200))
                received += socket.readAll();
            else if (socket.state() != QAbstractSocket::ConnectedState)
                break;
        }
        return hasAnswer();
    }
    QByteArray statusLine() const { return received.left(received.indexOf("\r\n")); }
    QByteArray header(const QByteArray& name) const
    {
        const qsizetype end = received.indexOf("\r\n\r\n");
        for (const QByteArray& line : received.left(end).split('\n')) {
            if (line.toLower().startsWith(name.toLower() + ':'))
                return line.mid(name.size() + 1).trimmed();
        }
        return QByteArray();
    }
    QByteArray body() const { return received.mid(received.indexOf("\r\n\r\n") + 4); }
    // Whether anything has arrived, without waiting.
    bool hasReceived()
    {
        if (socket.bytesAvailable() > 0 || socket.waitForReadyRead(0))
            received += socket.readAll();
        return !received.isEmpty();
    }
    // Forgets the answer read, for the next request on the connection.
    void clearAnswer() { received.clear(); }
    const QByteArray& everything() const { return received; }

private:
    bool hasAnswer() const
    {
        const qsizetype end = received.indexOf("\r\n\r\n");
        return end >= 0 && received.size() - end - 4 >= header("Content-Length").toLongLong();
    }

    QTcpSocket socket;
    QByteArray received;
};

// The head of a form POST to path whose body has length bytes.
QByteArray postHead(const QByteArray& path, qint64 length)
{
    return "POST /" + path
        + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
          "Content-Length: "
        + QByteArray::number(length) + "\r\n\r\n";
}

// A form body, its values encoded.
QByteArray formOf(const QList<QPair<QByteArray, QByteArray>>& fields)
{
    QByteArray body;
    for (const auto& [name, value] : fields)
        body += (body.isEmpty() ? "" : "&") + name + '=' + value.toPercentEncoding();
    return body;
}

QByteArray signIn(const QByteArray& name, const QByteArray& password)
{
    const QByteArray form = formOf({ { "username", name }, { "password", password } });
    return postHead("sync/userid.php", form.size()) + form;
}

// A synchronisation of a book never synchronised before, with a change set of bills.
QByteArray firstSync(const QByteArray& name, const QByteArray& password, int bills)
{
    QByteArray data = R"([{"table_name":"bill","update_columns":["id","title","amount","version"],"update_data":[)";
    for (int i = 0; i < bills; ++i) {
        data += (i == 0 ? "[\"" : ",[\"") + QByteArray::number(i) + "-" + name + "\",\"bill " + QByteArray::number(i)
            + "\",\"12.5\",\"2020-01-01 00:00:00\"]";
    }
    data += R"(],"delete_columns":["id","version"],"delete_data":[]}])";
    const QByteArray form = formOf({ { "version", "38" }, { "username", name }, { "password", password },
        { "sync_time", "2008-08-08 08:08:08" }, { "client_time", "2020-01-01 00:00:00" }, { "data", data } });
    return postHead("sync/syncpc2.php", form.size()) + form;
}

// The records the store keeps of the account name.
int recordsOf(const ServiceFixture& service, const QString& name)
{
    int count = -1;
    service.withStore("records", [&](QSqlDatabase& db) {
        QSqlQuery query(db);
        query.prepare("select count(*) from records r join users u on u.account = r.account where u.name = ?");
        query.addBindValue(name);
        if (!query.exec() || !query.next())
            return false;
        count = query.value(0).toInt();
        return true;
    });
    return count;
}

// How many times longer the service's own work takes here: the sanitizers slow every step of it.
#if defined(__SANITIZE_ADDRESS__)
const int slowdown = 3;
#else
const int slowdown = 1;
#endif

// The peak memory of a process so far, in bytes.
qint64 peakMemory(qint64 pid)
{
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}

} // namespace

class TestServiceProbes : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void controlCharactersInPathsAreRefused_data();
    void controlCharactersInPathsAreRefused();
    void redirectionsCarryTheirPathEncoded_data();
    void redirectionsCarryTheirPathEncoded();
    void wrongPasswordsTakeAsLongForUnknownNames();
    void requestLogIsTheOwnersAlone();
    void updateRecordWithoutSignatureIsServedWithAWarning();
    void passwordsFromStandardInput_data();
    void passwordsFromStandardInput();
    void wrongPasswordsAreNeverDecoded();
    void requestsPerAddressAreLimited();
    void stalledConnectionsAreClosed_data();
    void stalledConnectionsAreClosed();
    void controlCharactersInNamesAreWrongNames();
    void feedbackIsSmallAndLimited();
    void wrongPasswordFloodLeavesOthersIn();
    void idleConnectionsLeaveRoom();
    void healthTellsAFullDisk();
    void stopAnswersWhatWasReceived();
    void clientAddressesComeFromTheTrustedProxyAlone_data();
    void clientAddressesComeFromTheTrustedProxyAlone();

private:
    ServiceFixture service;
};

void TestServiceProbes::initTestCase()
{
    QVERIFY2(service.start(), qPrintable(service.errorText()));
    QVERIFY2(service.addUser("anna", "right password"), qPrintable(service.errorText()));
}

void TestServiceProbes::cleanup()
{
    service.clearConfig();
}

void TestServiceProbes::controlCharactersInPathsAreRefused_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::newRow("CR LF in a redirection") << QByteArray("/r302/x%0D%0ASet-Cookie:%20pwned=1");
    QTest::newRow("LF in a redirection") << QByteArray("/r301/x%0ALocation:%20http://elsewhere/");
    QTest::newRow("CR alone") << QByteArray("/r302/download/quorvane-setup.exe%0D");
    QTest::newRow("NUL") << QByteArray("/r302/x%00y");
    QTest::newRow("NUL in an endpoint") << QByteArray("/client/pc.php%00.html");
    QTest::newRow("tab") << QByteArray("/pan/quorvane.html%09");
    QTest::newRow("DEL") << QByteArray("/r302/%7F");
    QTest::newRow("C1 next line") << QByteArray("/r302/a%C2%85Set-Cookie:%20x=1");
}

void TestServiceProbes::controlCharactersInPathsAreRefused()
{
    QFETCH(QByteArray, target);
    service.clearRequests();
    const RawAnswer answer = rawRequest(service.baseUrl(), target);
    QCOMPARE(answer.statusLine, QByteArray("HTTP/1.1 400 Bad Request"));
    // No header of its own: neither a redirection nor anything made of the path.
    QCOMPARE(headerOf(answer, "Location"), QByteArray());
    QCOMPARE(headerOf(answer, "Set-Cookie"), QByteArray());
    for (const QByteArray& line : answer.headerLines) {
        const QByteArray name = line.left(line.indexOf(':')).toLower();
        QVERIFY2(name == "content-type" || name == "content-length" || name == "connection" || name == "date",
            line.constData());
    }
    QVERIFY(!answer.body.contains("pwned"));
    // Logged as refused.
    QCOMPARE(service.requests().size(), 1);
    QCOMPARE(service.requests().first().value("outcome").toString(), QString("400"));
}

void TestServiceProbes::redirectionsCarryTheirPathEncoded_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("location");
    QTest::newRow("plain") << QByteArray("/r302/download/quorvane-setup.exe")
                           << QByteArray("download/quorvane-setup.exe");
    QTest::newRow("quotes and tags") << QByteArray("/r302/a%22%3E%3Cscript%3Ealert(1)%3C/script%3E")
                                     << QByteArray("a%22%3E%3Cscript%3Ealert(1)%3C/script%3E");
    QTest::newRow("space and percent") << QByteArray("/r301/a%20b%25c") << QByteArray("a%20b%25c");
    QTest::newRow("another host") << QByteArray("/r302///elsewhere.example/x") << QByteArray("//elsewhere.example/x");
    QTest::newRow("Chinese") << QByteArray("/r302/%E4%B8%8B%E8%BD%BD") << QByteArray("%E4%B8%8B%E8%BD%BD");
}

void TestServiceProbes::redirectionsCarryTheirPathEncoded()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, location);
    const RawAnswer answer = rawRequest(service.baseUrl(), target);
    QVERIFY2(answer.statusLine.startsWith("HTTP/1.1 30"), answer.statusLine.constData());
    // Always on this service, the path encoded as a URL's path is.
    const QByteArray expected = service.baseUrl().toLatin1() + location;
    QCOMPARE(headerOf(answer, "Location"), expected);
    const QUrl url = QUrl::fromEncoded(headerOf(answer, "Location"), QUrl::StrictMode);
    QVERIFY(url.isValid());
    QCOMPARE(url.host(), QUrl(service.baseUrl()).host());
    QCOMPARE(url.port(), QUrl(service.baseUrl()).port());
    // The page's link is that address, escaped for HTML.
    QVERIFY2(answer.body.contains("<a href=\"" + QString::fromLatin1(expected).toHtmlEscaped().toLatin1() + "\">"),
        answer.body.constData());
    QVERIFY(!answer.body.contains("<script"));
}

void TestServiceProbes::wrongPasswordsTakeAsLongForUnknownNames()
{
    // One connection for all tries, known and unknown names taking turns, so that whatever else
    // the machine does falls on both alike. The fastest tenth of each is what the check itself costs:
    // a busy machine only ever adds to a try, and with other work running the medians drifted apart.
    // The limit of wrong passwords is off: past it both are refused at once, unchecked.
    ServiceFixture unlimited;
    QVERIFY2(unlimited.start({ "--sign-in-failures", "0" }), qPrintable(unlimited.errorText()));
    QVERIFY(unlimited.addUser("anna", "right password"));
    QNetworkAccessManager manager;
    const auto timeOf = [&](const QString& name) {
        QNetworkRequest request { QUrl(unlimited.baseUrl() + "sync/userid.php") };
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/x-www-form-urlencoded"));
        request.setTransferTimeout(60000);
        const QByteArray form = HttpHelper::encodeForm({ { "username", name }, { "password", "wrong password" } });
        QElapsedTimer clock;
        clock.start();
        QNetworkReply* reply = manager.post(request, form);
        QSignalSpy finished(reply, &QNetworkReply::finished);
        finished.wait(60000);
        const qint64 elapsed = clock.nsecsElapsed();
        const QJsonObject answer = QJsonDocument::fromJson(reply->readAll()).object();
        delete reply;
        return answer.value("error").toInt() == 1 ? elapsed : -1;
    };
    timeOf("anna");
    timeOf("nobody");
    QList<qint64> known;
    QList<qint64> unknown;
    for (int i = 0; i < 60; ++i) {
        known << timeOf("anna");
        unknown << timeOf(QString("nobody%1").arg(i));
    }
    QVERIFY(!known.contains(-1) && !unknown.contains(-1));
    const auto fastTenth = [](QList<qint64> times) {
        std::sort(times.begin(), times.end());
        return double(times.at(times.size() / 10));
    };
    const double knownTime = fastTenth(known);
    const double unknownTime = fastTenth(unknown);
    const double apart = qAbs(knownTime - unknownTime) / qMax(knownTime, unknownTime);
    QVERIFY2(
        apart < 0.2, qPrintable(QString("known %1 ms, unknown %2 ms").arg(knownTime / 1e6).arg(unknownTime / 1e6)));
}

void TestServiceProbes::requestLogIsTheOwnersAlone()
{
    // A new log made under a umask that lets everything through, and one that was there, open to all.
    QTemporaryDir dir;
    const QString fresh = dir.filePath("fresh.log");
    const QString existing = dir.filePath("existing.log");
    QVERIFY(writeFile(existing, "{\"outcome\":\"earlier\"}\n"));
    QVERIFY(QFile::setPermissions(
        existing, QFile::permissions(existing) | QFileDevice::ReadOther | QFileDevice::ReadGroup));
    for (const QString& log : { fresh, existing }) {
        ServiceFixture logged;
        {
            const ScopedUmask careless(0);
            QVERIFY2(logged.start({ "--request-log", log }), qPrintable(logged.errorText()));
        }
        QCOMPARE(QFile::permissions(log) & groupAndOthers(), QFileDevice::Permissions());
        QVERIFY(QFile::permissions(log).testFlags(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    }
    // Appended to, not replaced.
    QVERIFY(fileBytes(existing).startsWith("{\"outcome\":\"earlier\"}\n"));
}

void TestServiceProbes::updateRecordWithoutSignatureIsServedWithAWarning()
{
    service.takeErrorOutput();
    const QJsonObject withSignature { { "vercode", 39 }, { "sha256", QString(64, 'a') }, { "signature", "c2ln" } };
    const QJsonObject without { { "vercode", 39 }, { "description", "未签名" } };
    QNetworkAccessManager manager;
    const auto record = [&] {
        QNetworkReply* reply = manager.get(QNetworkRequest(QUrl(service.baseUrl() + "client/pc.php")));
        QSignalSpy finished(reply, &QNetworkReply::finished);
        finished.wait(60000);
        const QJsonObject object = QJsonDocument::fromJson(reply->readAll()).object();
        delete reply;
        return object;
    };

    // Served as configured, either way: refusing an unsigned record is the program's part.
    service.setConfig({ { "update", withSignature } });
    QJsonObject served = record();
    QCOMPARE(served.value("sha256").toString(), QString(64, 'a'));
    QCOMPARE(served.value("signature").toString(), QString("c2ln"));
    service.setConfig({ { "update", without } });
    served = record();
    QCOMPARE(served.value("vercode").toInt(), 39);
    QCOMPARE(served.value("description").toString(), QString("未签名"));
    QVERIFY(!served.contains("sha256") && !served.contains("signature"));

    // One warning, for the second: the errors arrive in order, so the first gave none.
    QString errors;
    QTRY_VERIFY_WITH_TIMEOUT((errors += service.takeErrorOutput()).contains("warning"), 60000);
    QCOMPARE(errors.count("warning"), 1);
    QVERIFY2(errors.contains("\"sha256\" and \"signature\""), qPrintable(errors));
}

void TestServiceProbes::passwordsFromStandardInput_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("service account") << "service" << QByteArray("pass word+中\n") << 0;
    QTest::newRow("service account, no line break") << "service" << QByteArray("pass word+中") << 0;
    QTest::newRow("service account, nothing given") << "service" << QByteArray() << 2;
    QTest::newRow("service account, empty line") << "service" << QByteArray("\n") << 2;
    QTest::newRow("sync account") << "sync" << QByteArray("pass word+中\r\n") << 0;
    QTest::newRow("sync account, nothing given") << "sync" << QByteArray() << 2;
}

void TestServiceProbes::passwordsFromStandardInput()
{
    QFETCH(QString, program);
    QFETCH(QByteArray, input);
    QFETCH(int, exitCode);
    static int accounts = 0;
    const QString name = QString("stdin%1").arg(++accounts);
    const QString password = QString::fromUtf8("pass word+中");
    if (program == "sync")
        QVERIFY(service.addUser(name, password));

    QTemporaryDir folder;
    QProcess process;
    if (program == "service") {
        process.start(QUORVANE_SERVICE_EXECUTABLE,
            ServiceProcess::storeArguments(service.storeLocation()) + QStringList { "--add-user", name });
    } else {
        process.start(QUORVANE_SYNC_EXECUTABLE,
            { "--folder", folder.path(), "--create", "--user", name, "--ask-password", "--base-url", service.baseUrl(),
                "Quorvane.db" });
    }
    QVERIFY(process.waitForStarted(60000));
    process.write(input);
    process.closeWriteChannel();
    QVERIFY(process.waitForFinished(120000));
    const QByteArray errors = process.readAllStandardError();
    QVERIFY2(process.exitCode() == exitCode, errors.constData());
    if (exitCode != 0) {
        QVERIFY2(errors.contains("no password"), errors.constData());
        return;
    }

    // The account takes the password as it was typed, without its line break.
    const QByteArray form = HttpHelper::encodeForm({ { "username", name }, { "password", password } });
    QNetworkAccessManager manager;
    QNetworkRequest request { QUrl(service.baseUrl() + "sync/userid.php") };
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/x-www-form-urlencoded"));
    QNetworkReply* reply = manager.post(request, form);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    QVERIFY(finished.wait(60000));
    QVERIFY(QJsonDocument::fromJson(reply->readAll()).object().contains("id"));
    delete reply;
    if (program == "sync")
        QVERIFY(process.readAllStandardOutput().contains("synchronised"));
}

void TestServiceProbes::wrongPasswordsAreNeverDecoded()
{
    // A large change set with a wrong password costs the service little more than receiving it: it
    // is never decoded (which took several times its size), nor kept twice on the way in.
    const qint64 size = qint64(qEnvironmentVariableIsSet("QUORVANE_TEST_LARGE_BODY_MB")
                                ? qEnvironmentVariableIntValue("QUORVANE_TEST_LARGE_BODY_MB")
                                : 64)
        * 1000 * 1000;
    ServiceFixture large;
    QVERIFY2(large.start({ "--max-request-bytes", QString::number(4 * size) }), qPrintable(large.errorText()));
    QVERIFY(large.addUser("owner", "right password"));
    const qint64 before = peakMemory(large.processId());
    QVERIFY(before > 0);

    // Escaped JSON, as a change set is sent.
    QByteArray data = "%5B%7B%22table_name%22%3A%22member%22";
    data += QByteArray(size - data.size(), 'x');
    const QByteArray fields = "version=38&username=owner&password=wrong+password&sync_time=2008-08-08+08%3A08%3A08"
                              "&client_time=2020-01-01+00%3A00%3A00&data=";
    RawClient client(large.baseUrl());
    client.send(postHead("sync/syncpc2.php", fields.size() + data.size()) + fields);
    client.send(data);
    data.clear();
    QVERIFY(client.waitForAnswer(120000));
    QCOMPARE(client.statusLine(), QByteArray("HTTP/1.1 200 OK"));
    QCOMPARE(QJsonDocument::fromJson(client.body()).object().value("error").toInt(), 1);
    // The log tells the change set's size, undecoded.
    QCOMPARE(fieldOf(large.requests("sync/syncpc2.php").value(0), "data"), QString("[%1 bytes]").arg(size));

#if defined(__SANITIZE_ADDRESS__)
    QSKIP("the sanitizer's allocator keeps freed memory: its peak says nothing of the program's");
#endif
    // Beside the body once: what is read in pieces on the way, and a worker's own connection to the
    // store made for the check (a PostgreSQL client library's buffers).
    const qint64 grown = peakMemory(large.processId()) - before;
    QVERIFY2(grown < size * 3 / 2 + 16 * 1000 * 1000,
        qPrintable(QString("%1 MB received, the peak grew by %2 MB").arg(size / 1000000).arg(grown / 1000000)));
}

void TestServiceProbes::requestsPerAddressAreLimited()
{
    ServiceFixture limited;
    QVERIFY2(limited.start({ "--max-per-address", "2" }), qPrintable(limited.errorText()));
    // Two feedback forms under way, their bodies not sent whole yet.
    const QByteArray form = "email=a%40b.com&subject=s&content=slowly";
    RawClient first(limited.baseUrl());
    RawClient second(limited.baseUrl());
    first.send(postHead("client/feedback.php", form.size()) + form.left(10));
    second.send(postHead("client/feedback.php", form.size()) + form.left(10));

    // A third request from the same address is turned away (once the service has read the two).
    std::unique_ptr<RawClient> third;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            third = std::make_unique<RawClient>(limited.baseUrl());
            third->send("GET /client/pc.php HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
            return third->waitForAnswer(60000) && third->statusLine() != "HTTP/1.1 200 OK";
        }(),
        30000);
    QCOMPARE(third->statusLine(), QByteArray("HTTP/1.1 503 Service Unavailable"));
    QVERIFY(third->header("Retry-After").toInt() > 0);
    QVERIFY(third->waitUntilClosed(30000));
    QVERIFY(limited.requests().contains(QJsonObject { { "outcome", "503" } }));

    // Once one of the two is answered, its connection no longer counts, though it stays open.
    first.send(form.mid(10));
    QVERIFY(first.waitForAnswer(60000));
    QCOMPARE(first.body(), QByteArray("success"));
    QVERIFY(first.isConnected());
    RawClient fourth(limited.baseUrl());
    fourth.send("GET /client/pc.php HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QVERIFY(fourth.waitForAnswer(60000));
    QCOMPARE(fourth.statusLine(), QByteArray("HTTP/1.1 200 OK"));
    // The one still under way is served in the end.
    second.send(form.mid(10));
    QVERIFY(second.waitForAnswer(60000));
    QCOMPARE(second.body(), QByteArray("success"));
}

void TestServiceProbes::stalledConnectionsAreClosed_data()
{
    // What a client sends, in pieces a pause apart (with 2 s allowed without progress and 2 s of
    // idleness), and whether it gets an answer before the service closes the connection.
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::addColumn<int>("pauseMs");
    QTest::addColumn<bool>("answered");
    const QByteArray form = "email=a%40b.com&subject=s&content=0123456789";
    const QByteArray head = postHead("client/feedback.php", form.size());
    QTest::newRow("connects, sends nothing") << QByteArrayList() << 0 << false;
    QTest::newRow("head never ends") << QByteArrayList { head.left(40) } << 0 << false;
    QTest::newRow("body never ends") << QByteArrayList { head + form.left(20) } << 0 << false;
    QByteArrayList steady { head };
    for (qsizetype at = 0; at < form.size(); at += 4)
        steady << form.mid(at, 4);
    // A request must be whole within the time allowed from its first byte (and a little more for a
    // large one): a byte now and then does not keep a connection.
    QTest::newRow("slow but steady, longer than the time allowed") << steady << 250 << false;
    const QByteArrayList quick { head, form.left(20), form.mid(20) };
    QTest::newRow("slow but steady, within the time allowed") << quick << 250 << true;
    QTest::newRow("idle after its answer")
        << QByteArrayList { "GET /client/pc.php HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" } << 0 << true;
}

void TestServiceProbes::stalledConnectionsAreClosed()
{
    QFETCH(QByteArrayList, pieces);
    QFETCH(int, pauseMs);
    QFETCH(bool, answered);
    ServiceFixture strict;
    QVERIFY2(strict.start({ "--request-timeout", "2", "--idle-timeout", "2" }), qPrintable(strict.errorText()));
    RawClient client(strict.baseUrl());
    QVERIFY(client.isConnected());
    for (const QByteArray& piece : std::as_const(pieces)) {
        client.send(piece);
        QTest::qWait(pauseMs);
    }
    QVERIFY2(client.waitUntilClosed(60000), "the connection stayed open");
    if (answered) {
        QCOMPARE(client.statusLine(), QByteArray("HTTP/1.1 200 OK"));
    } else {
        QCOMPARE(client.everything(), QByteArray());
    }
    // The service goes on serving.
    RawClient next(strict.baseUrl());
    next.send("GET /client/pc.php HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QVERIFY(next.waitForAnswer(60000));
    QCOMPARE(next.statusLine(), QByteArray("HTTP/1.1 200 OK"));
}

void TestServiceProbes::controlCharactersInNamesAreWrongNames()
{
    // Refused before the store sees the name (a database driver may write values into a statement's
    // text): the answer of a wrong password, and nothing in the service's error output.
    service.takeErrorOutput();
    for (const QByteArray& name : { QByteArray("an\0na", 5), QByteArray("anna\r\n"), QByteArray("\x7f") }) {
        RawClient client(service.baseUrl());
        client.send(signIn(name, "right password"));
        QVERIFY(client.waitForAnswer(60000));
        QCOMPARE(QJsonDocument::fromJson(client.body()).object().value("error").toInt(), 1);
        RawClient sync(service.baseUrl());
        sync.send(firstSync(name, "right password", 1));
        QVERIFY(sync.waitForAnswer(60000));
        QCOMPARE(QJsonDocument::fromJson(sync.body()).object().value("error").toInt(), 1);
    }
    QCOMPARE(service.takeErrorOutput(), QString());

    // Nor can such an account be made, nor is the name echoed to the terminal.
    QProcess add;
    add.start(QUORVANE_SERVICE_EXECUTABLE,
        QStringList { "--store", service.storeLocation(), "--add-user", QString("evil\x1b]0;x\x07"), "pw" });
    QVERIFY(add.waitForFinished(60000));
    QCOMPARE(add.exitCode(), 2);
    const QByteArray said = add.readAllStandardOutput() + add.readAllStandardError();
    QVERIFY2(!said.contains('\x1b') && !said.contains("evil"), said.constData());
}

void TestServiceProbes::feedbackIsSmallAndLimited()
{
    ServiceFixture limited;
    QVERIFY2(limited.start({ "--feedback-per-hour", "3" }), qPrintable(limited.errorText()));
    // (The sanitizer's allocator keeps freed memory: its peak says nothing of the program's.)
    [[maybe_unused]] const qint64 before = peakMemory(limited.processId());

    // 100 MiB of feedback: refused once its request line is read, and none of it kept.
    const qint64 size = 100 * 1024 * 1024;
    RawClient large(limited.baseUrl(), "127.0.0.2");
    large.send(postHead("client/feedback.php", size) + "email=a%40b.com&subject=s&content=");
    const QByteArray chunk(1024 * 1024, 'x');
    for (qint64 sent = 0; sent < size && large.isConnected(); sent += chunk.size())
        large.send(chunk);
    QVERIFY(large.waitForAnswer(60000));
    QCOMPARE(large.statusLine(), QByteArray("HTTP/1.1 413 Payload Too Large"));
#if !defined(__SANITIZE_ADDRESS__)
    const qint64 grown = peakMemory(limited.processId()) - before;
    QVERIFY2(grown <= 10 * 1024 * 1024, qPrintable(QString("the peak grew by %1 KiB").arg(grown / 1024)));
#endif

    // A few forms an hour from one address; another address is not affected.
    const QByteArray form = "email=a%40b.com&subject=s&content=hello";
    const auto send = [&](const QString& from) {
        RawClient client(limited.baseUrl(), from);
        client.send(postHead("client/feedback.php", form.size()) + form);
        client.waitForAnswer(60000);
        return client.statusLine() + ' ' + client.body().trimmed();
    };
    for (int i = 0; i < 3; ++i)
        QCOMPARE(send("127.0.0.3"), QByteArray("HTTP/1.1 200 OK success"));
    QVERIFY(send("127.0.0.3").startsWith("HTTP/1.1 429 "));
    QCOMPARE(send("127.0.0.4"), QByteArray("HTTP/1.1 200 OK success"));
    int stored = -1;
    QVERIFY(limited.withStore("feedback", [&](QSqlDatabase& db) {
        QSqlQuery query("select count(*), max(length(content)) from feedback", db);
        stored = query.next() ? query.value(0).toInt() : -1;
        return query.value(1).toInt() == 5;
    }));
    QCOMPARE(stored, 4);
}

void TestServiceProbes::wrongPasswordFloodLeavesOthersIn()
{
    ServiceFixture guarded;
    // Every right password is checked again, as for a device whose cache entry has gone.
    QVERIFY2(guarded.start({ "--password-cache", "0" }), qPrintable(guarded.errorText()));
    QVERIFY(guarded.addUser("anna", "right password"));
    const auto wrongFrom = [&](const QString& from, int tries) {
        RawClient client(guarded.baseUrl(), from);
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < tries; ++i) {
            client.clearAnswer();
            client.send(signIn("anna", "guess " + QByteArray::number(i)));
            if (!client.waitForAnswer(60000)
                || QJsonDocument::fromJson(client.body()).object().value("error").toInt() != 1)
                return qint64(-1);
        }
        return clock.elapsed();
    };
    // Past ten a minute, an address's guesses are answered at once, unchecked.
    QVERIFY(wrongFrom("127.0.0.2", 10) >= 0);
    const qint64 hundredMore = wrongFrom("127.0.0.2", 100);
    QVERIFY2(hundredMore >= 0 && hundredMore < 2000, qPrintable(QString("%1 ms").arg(hundredMore)));

    // The owner, elsewhere, signs in at once while the guesses go on; the best of a few tries, as a
    // busy machine only adds to one.
    std::vector<std::unique_ptr<RawClient>> flood;
    for (int i = 0; i < 16; ++i) {
        flood.push_back(std::make_unique<RawClient>(guarded.baseUrl(), "127.0.0.2"));
        for (int j = 0; j < 10; ++j)
            flood.back()->send(signIn("anna", "flood"));
    }
    qint64 best = -1;
    for (int i = 0; i < 3; ++i) {
        RawClient owner(guarded.baseUrl(), "127.0.0.3");
        QElapsedTimer clock;
        clock.start();
        owner.send(signIn("anna", "right password"));
        QVERIFY(owner.waitForAnswer(60000));
        QVERIFY2(QJsonDocument::fromJson(owner.body()).object().contains("id"), owner.body().constData());
        best = best < 0 ? clock.elapsed() : qMin(best, clock.elapsed());
    }
    QVERIFY2(best <= 100 * slowdown, qPrintable(QString("the right password took %1 ms").arg(best)));

    // The name has had its fill of guesses: an address that guessed wrong is not heard for it any
    // more, not even with the right password, until the minute is over.
    QVERIFY(wrongFrom("127.0.0.4", 1) >= 0);
    RawClient guesser(guarded.baseUrl(), "127.0.0.4");
    guesser.send(signIn("anna", "right password"));
    QVERIFY(guesser.waitForAnswer(60000));
    QCOMPARE(QJsonDocument::fromJson(guesser.body()).object().value("error").toInt(), 1);
}

void TestServiceProbes::idleConnectionsLeaveRoom()
{
    // The test holds 2,000 connections and the service some 1,000.
    rlimit files {};
    getrlimit(RLIMIT_NOFILE, &files);
    if (files.rlim_cur < 4096 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = qMin<rlim_t>(files.rlim_max, 8192);
        setrlimit(RLIMIT_NOFILE, &files);
    }
    if (files.rlim_cur < 2200)
        QSKIP("this process may not open 2,200 files");
    // Started as systemd starts a service: 1,024 open files, unless it asks for more.
    ServiceFixture crowded;
    rlimit asSystemd = files;
    asSystemd.rlim_cur = 1024;
    setrlimit(RLIMIT_NOFILE, &asSystemd);
    const bool started = crowded.start();
    setrlimit(RLIMIT_NOFILE, &files);
    QVERIFY2(started, qPrintable(crowded.errorText()));
    QVERIFY(crowded.addUser("anna", "right password"));
    const QUrl base(crowded.baseUrl());
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int address = 0; address < 20; ++address) {
        for (int i = 0; i < 100; ++i) {
            idle.push_back(std::make_unique<QTcpSocket>());
            idle.back()->bind(QHostAddress(QString("127.0.0.%1").arg(10 + address)));
            idle.back()->connectToHost(base.host(), quint16(base.port()));
        }
    }
    // All at once, as an attacker would: a second for the lot (one at a time, those the service
    // cannot take would wait out the service's idle time-out and free its files meanwhile).
    QTest::qWait(1000);

    // The service keeps its connections within its limit, whatever is opened.
    const qsizetype open
        = QDir(QString("/proc/%1/fd").arg(crowded.processId())).entryList(QDir::NoDotAndDotDot | QDir::System).size();
    QVERIFY2(open < 1200, qPrintable(QString("%1 files open").arg(open)));
    // Each answered at once (a service out of files answers once idle connections time out), the
    // best of a few within a second, as a busy machine only adds to one.
    qint64 took = -1;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer clock;
        clock.start();
        RawClient client(crowded.baseUrl(), "127.0.0.2");
        client.send(firstSync("anna", "right password", 10));
        QVERIFY2(client.waitForAnswer(10000), "no answer within 10 s");
        QVERIFY2(QJsonDocument::fromJson(client.body()).isArray(), client.body().constData());
        took = took < 0 ? clock.elapsed() : qMin(took, clock.elapsed());
    }
    QVERIFY2(took < 1000 * slowdown, qPrintable(QString("answered after %1 ms").arg(took)));
}

void TestServiceProbes::healthTellsAFullDisk()
{
    // SQLite: the store on a small file system of the service's own, filled up under it. PostgreSQL:
    // a database that refuses writes with its "disk full" error.
    QTemporaryDir folder;
    const QString disk = folder.filePath("disk");
    QVERIFY(QDir().mkpath(disk));
    std::unique_ptr<ServiceFixture> fixture;
    std::unique_ptr<ServiceProcess> process;
    QString baseUrl;
    if (ServiceFixture::usesPostgreSql()) {
        fixture = std::make_unique<ServiceFixture>();
        QVERIFY2(fixture->start(), qPrintable(fixture->errorText()));
        baseUrl = fixture->baseUrl();
        QVERIFY(fixture->addUser("anna", "right password"));
    } else {
        const QString wrapper = folder.filePath("on-small-disk.sh");
        QFile script(wrapper);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nexec unshare --mount --propagation private sh -c "
                     "'mount -t tmpfs -o size=4m tmpfs \"$0\" && exec \"$@\"' \""
            + disk.toUtf8() + "\" " + QByteArray(QUORVANE_SERVICE_EXECUTABLE) + " \"$@\"\n");
        script.close();
        script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
        process = std::make_unique<ServiceProcess>(wrapper);
        if (!process->start(disk + "/service.db"))
            QSKIP(qPrintable("no file system of its own for the service here: " + process->errorText()));
        baseUrl = process->baseUrl();
        // The account is added inside the service's own view of the file system.
        QProcess add;
        add.start("nsenter",
            { QString("--mount=/proc/%1/ns/mnt").arg(process->processId()), QUORVANE_SERVICE_EXECUTABLE, "--data",
                disk + "/service.db", "--add-user", "anna", "right password" });
        QVERIFY(add.waitForFinished(60000));
        QVERIFY2(add.exitCode() == 0, add.readAllStandardError().constData());
    }
    const auto health = [&] {
        RawClient client(baseUrl);
        client.send("GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        client.waitForAnswer(60000);
        return client.statusLine();
    };
    QCOMPARE(health(), QByteArray("HTTP/1.1 200 OK"));

    const QString filler = QString("/proc/%1/root%2/filler").arg(process ? process->processId() : 0).arg(disk);
    if (process) {
        QFile fill(filler);
        QVERIFY2(fill.open(QIODevice::WriteOnly), qPrintable(fill.errorString()));
        const QByteArray block(64 * 1024, 'x');
        while (fill.write(block) == block.size() && fill.flush()) { }
    } else {
        QVERIFY(fixture->withStore("full", [](QSqlDatabase& db) {
            QSqlQuery query(db);
            return query.exec("create function disk_full() returns trigger language plpgsql as $$ begin raise "
                              "exception 'could not extend file: No space left on device' using errcode = '53100'; "
                              "end $$")
                && query.exec(
                    "create trigger disk_full before insert on syncs for each row execute function disk_full()");
        }));
    }
    QCOMPARE(health(), QByteArray("HTTP/1.1 503 Service Unavailable"));

    // A synchronisation fails as the store's failure, and the error output says which operation
    // failed and why, not the statement's text.
    const auto errorOutput = [&] { return process ? process->takeErrorOutput() : fixture->takeErrorOutput(); };
    errorOutput();
    RawClient sync(baseUrl);
    sync.send(firstSync("anna", "right password", 2000));
    QVERIFY(sync.waitForAnswer(60000));
    QVERIFY2(QJsonDocument::fromJson(sync.body()).object().value("error").toInt() == 5, sync.body().constData());
    QString said;
    QTRY_VERIFY_WITH_TIMEOUT(!(said += errorOutput()).isEmpty(), 10000);
    // "quorvane-service: insert into syncs: could not extend file …", a line per failure.
    static const QRegularExpression line("^quorvane-service: \\w+( \\w+){0,2}: [^?]+$");
    for (const QString& failure : said.trimmed().split('\n'))
        QVERIFY2(line.match(failure).hasMatch() && !failure.contains("values"), qPrintable(failure));
    QVERIFY2(said.size() < 2000, qPrintable(said));

    // Room again: healthy again.
    if (process) {
        QVERIFY(QFile::remove(filler));
    } else {
        QVERIFY(fixture->withStore(
            "room", [](QSqlDatabase& db) { return QSqlQuery(db).exec("drop trigger disk_full on syncs"); }));
    }
    QCOMPARE(health(), QByteArray("HTTP/1.1 200 OK"));
}

void TestServiceProbes::stopAnswersWhatWasReceived()
{
    // Long enough for the merge of the large upload, which the stop waits for.
    const int timeoutSeconds = 10 * slowdown;
    ServiceFixture stopping;
    QVERIFY2(
        stopping.start({ "--request-timeout", QString::number(timeoutSeconds) }), qPrintable(stopping.errorText()));
    QVERIFY(stopping.addUser("large", "pw"));
    for (const char* name : { "small0", "small1", "small2", "small3", "late" })
        QVERIFY(stopping.addUser(name, "pw"));

    // A large first synchronisation, whole at the service, four small ones beside it and one whose
    // body is still on its way when the signal comes.
    RawClient large(stopping.baseUrl());
    large.send(firstSync("large", "pw", 100000));
    std::vector<std::unique_ptr<RawClient>> small;
    for (int i = 0; i < 4; ++i) {
        small.push_back(std::make_unique<RawClient>(stopping.baseUrl()));
        small.back()->send(firstSync("small" + QByteArray::number(i), "pw", 10));
    }
    const QByteArray late = firstSync("late", "pw", 1);
    RawClient halfway(stopping.baseUrl());
    halfway.send(late.left(late.size() / 2));
    QTest::qWait(200);

    QElapsedTimer clock;
    clock.start();
    QVERIFY(::kill(pid_t(stopping.processId()), SIGTERM) == 0);
    // No new connection is taken.
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            QTcpSocket refused;
            const QUrl base(stopping.baseUrl());
            refused.connectToHost(base.host(), quint16(base.port()));
            return !refused.waitForConnected(1000);
        }(),
        5000);
    halfway.send(late.mid(late.size() / 2));

    QVERIFY(large.waitForAnswer(60000));
    QVERIFY2(QJsonDocument::fromJson(large.body()).isArray(), large.everything().left(300).constData());
    for (const auto& client : small) {
        QVERIFY(client->waitForAnswer(60000));
        QVERIFY2(QJsonDocument::fromJson(client->body()).isArray(), client->everything().left(300).constData());
    }
    QVERIFY(halfway.waitForAnswer(60000));
    QVERIFY2(QJsonDocument::fromJson(halfway.body()).isArray(), halfway.everything().left(300).constData());
    const int exitCode = stopping.waitForExit(timeoutSeconds * 1000);
    QVERIFY2(exitCode == 0,
        qPrintable(QString("exit %1: %2").arg(exitCode).arg(stopping.takeErrorOutput().right(3000))));
    QVERIFY2(clock.elapsed() < timeoutSeconds * 1000,
        qPrintable(QString("ended %1 ms after the signal").arg(clock.elapsed())));

    // Everything answered is stored.
    QCOMPARE(recordsOf(stopping, "large"), 100000);
    QCOMPARE(recordsOf(stopping, "small0"), 10);
    QCOMPARE(recordsOf(stopping, "small3"), 10);
    QCOMPARE(recordsOf(stopping, "late"), 1);
}

void TestServiceProbes::clientAddressesComeFromTheTrustedProxyAlone_data()
{
    // Whether the service trusts 127.0.0.1 as its proxy, where the request comes from and the
    // X-Forwarded-For it carries; the address the request log gives, and whether the home page
    // shows where the program and its store are (to this computer itself alone).
    QTest::addColumn<bool>("trusted");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QByteArray>("forwarded");
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("paths");
    QTest::newRow("this computer") << false << "127.0.0.1" << QByteArray() << "127.0.0.1" << true;
    QTest::newRow("another address") << false << "127.0.0.2" << QByteArray() << "127.0.0.2" << false;
    QTest::newRow("through a proxy not named")
        << false << "127.0.0.1" << QByteArray("203.0.113.5") << "127.0.0.1" << false;
    QTest::newRow("through the trusted proxy")
        << true << "127.0.0.1" << QByteArray("203.0.113.5") << "203.0.113.5" << false;
    QTest::newRow("a client's own header before the proxy's")
        << true << "127.0.0.1" << QByteArray("127.0.0.1, 203.0.113.5") << "203.0.113.5" << false;
    QTest::newRow("the header from anyone else")
        << true << "127.0.0.2" << QByteArray("127.0.0.1") << "127.0.0.2" << false;
    QTest::newRow("the trusted proxy's own request") << true << "127.0.0.1" << QByteArray() << "127.0.0.1" << true;
}

void TestServiceProbes::clientAddressesComeFromTheTrustedProxyAlone()
{
    QFETCH(bool, trusted);
    QFETCH(QString, from);
    QFETCH(QByteArray, forwarded);
    QFETCH(QString, address);
    QFETCH(bool, paths);
    ServiceFixture proxied;
    QVERIFY2(proxied.start(trusted ? QStringList { "--trusted-proxy", "127.0.0.1" } : QStringList()),
        qPrintable(proxied.errorText()));
    RawClient client(proxied.baseUrl(), from);
    client.send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n"
        + (forwarded.isEmpty() ? QByteArray() : "X-Forwarded-For: " + forwarded + "\r\n") + "\r\n");
    QVERIFY(client.waitForAnswer(60000));
    QCOMPARE(client.statusLine(), QByteArray("HTTP/1.1 200 OK"));
    QCOMPARE(proxied.requests().value(0).value("address").toString(), address);
    const QString page = QString::fromUtf8(client.body());
    const QString storeShown
        = ServiceFixture::usesPostgreSql() ? QUrl(proxied.storeLocation()).host() : proxied.dataFile();
    QCOMPARE(page.contains(QUORVANE_SERVICE_EXECUTABLE), paths);
    QCOMPARE(page.contains(storeShown), paths);
    QVERIFY(page.contains("--add-user 用户名"));
}

QTEST_GUILESS_MAIN(TestServiceProbes)
#include "tst_serviceprobes.moc"
