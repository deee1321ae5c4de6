#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include "engine/httphelper.h"
#include "servicefixture.h"

namespace {

struct Answer {
    bool finished = false;
    bool failed = false;
    QString text;
};

// Sends one request through a new helper and waits for its answer.
Answer send(const QString& url, const HttpHelper::FormFields* fields = nullptr)
{
    QObject owner;
    auto* http = new HttpHelper(&owner);
    QSignalSpy finished(http, &HttpHelper::finished);
    QSignalSpy failed(http, &HttpHelper::error);
    if (fields)
        http->post(url, *fields);
    else
        http->get(url);
    if (!QTest::qWaitFor([&] { return !finished.isEmpty() || !failed.isEmpty(); }, 60000))
        qWarning("no answer within a minute");
    Answer answer;
    answer.finished = finished.count() == 1;
    answer.failed = failed.count() == 1;
    if (answer.finished)
        answer.text = finished.first().first().toString();
    return answer;
}

} // namespace

class TestHttpHelper : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void postSendsHeadersAndFieldsExactly();
    void getHasNoContentType();
    void answers_data();
    void answers();
    void managerGoesWithTheReply();

private:
    ServiceFixture service;
};

void TestHttpHelper::initTestCase()
{
    QVERIFY2(service.start(), qPrintable(service.errorText()));
}

void TestHttpHelper::cleanup()
{
    service.clearConfig();
    service.clearRequests();
    HttpHelper::setTransferTimeout(60000);
}

void TestHttpHelper::postSendsHeadersAndFieldsExactly()
{
    const QString tricky = QString::fromUtf8("a&b=c+d%e f 中文");
    const HttpHelper::FormFields fields
        = { { "email", "x+y@example.com" }, { "subject", tricky }, { "content", "1+1=2; 100% sure" } };
    const Answer answer = send(service.baseUrl() + "client/feedback.php", &fields);
    QVERIFY(answer.finished);
    QVERIFY(answer.text.contains("success"));

    const QList<QJsonObject> requests = service.requests("client/feedback.php");
    QCOMPARE(requests.size(), 1);
    QCOMPARE(fieldsOf(requests.first()), fields);
    // The program's headers, in this order, among those the network layer adds (Host, length, encoding).
    const QStringList ours
        = { "User-Agent", "Accept", "Accept-Language", "Accept-Charset", "Connection", "Content-Type" };
    QStringList sent = headerNames(requests.first());
    sent.erase(std::remove_if(sent.begin(), sent.end(), [&](const QString& name) { return !ours.contains(name); }),
        sent.end());
    QCOMPARE(sent, ours);
    QCOMPARE(headerValue(requests.first(), "User-Agent"),
        QString("Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1; .NET CLR 1.1.4322; .NET CLR 2.0.50727; .NET CLR "
                "3.0.04506.30)"));
    QCOMPARE(headerValue(requests.first(), "Accept"),
        QString("text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8"));
    QCOMPARE(headerValue(requests.first(), "Accept-Language"), QString("zh-cn,zh;q=0.5"));
    QCOMPARE(headerValue(requests.first(), "Accept-Charset"), QString("utf-8;q=0.7,*;q=0.7"));
    QCOMPARE(headerValue(requests.first(), "Connection"), QString("keep-alive"));
    QCOMPARE(headerValue(requests.first(), "Content-Type"), QString("application/x-www-form-urlencoded"));
    // A plus sign never travels raw, where a form decoder would read a space.
    QCOMPARE(HttpHelper::encodeForm({ { "a b", "1+1" } }), QByteArray("a%20b=1%2B1"));
}

void TestHttpHelper::getHasNoContentType()
{
    QVERIFY(send(service.baseUrl() + "client/pc.php").finished);
    const QList<QJsonObject> requests = service.requests("client/pc.php");
    QCOMPARE(requests.size(), 1);
    QVERIFY(!headerNames(requests.first()).contains("Content-Type"));
    QCOMPARE(headerValue(requests.first(), "Accept-Language"), QString("zh-cn,zh;q=0.5"));
}

void TestHttpHelper::answers_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QJsonObject>("fault");
    QTest::addColumn<bool>("finished");
    QTest::addColumn<QString>("text");
    const QString page = "client/pc.php";
    QTest::newRow("body up to its zero byte")
        << page << QJsonObject { { "body", QString("abc") + QChar(0) + "def" } } << true << "abc";
    QTest::newRow("chinese body") << page << QJsonObject { { "body", QString::fromUtf8("同步成功") } } << true
                                  << QString::fromUtf8("同步成功");
    QTest::newRow("late answer") << page << QJsonObject { { "delay", 300 }, { "body", "late" } } << true << "late";
    QTest::newRow("redirection not followed") << "r302/client/pc.php" << QJsonObject() << true << "Moved";
    QTest::newRow("404") << "no/such/page" << QJsonObject() << false << "";
    QTest::newRow("500") << page << QJsonObject { { "status", 500 } } << false << "";
    QTest::newRow("connection closed") << page << QJsonObject { { "close", true } } << false << "";
    QTest::newRow("no answer: time-out") << page << QJsonObject { { "hang", true } } << false << "";
    QTest::newRow("refused connection") << "" << QJsonObject() << false << "";
}

void TestHttpHelper::answers()
{
    QFETCH(QString, path);
    QFETCH(QJsonObject, fault);
    QFETCH(bool, finished);
    QFETCH(QString, text);
    service.setFault(path, fault);
    HttpHelper::setTransferTimeout(1000);
    QString url = service.baseUrl() + path;
    if (path.isEmpty()) {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        url = QString("http://127.0.0.1:%1/").arg(closed.serverPort());
        closed.close();
    }
    const Answer answer = send(url);
    QCOMPARE(answer.finished, finished);
    QCOMPARE(answer.failed, !finished);
    QVERIFY2(answer.text.contains(text), qPrintable(answer.text));
    if (text == "abc")
        QCOMPARE(answer.text, text);
}

void TestHttpHelper::managerGoesWithTheReply()
{
    QObject owner;
    auto* http = new HttpHelper(&owner);
    QSignalSpy finished(http, &HttpHelper::finished);
    http->get(service.baseUrl() + "client/pc.php");
    QVERIFY(finished.wait(60000));
    QTRY_VERIFY(http->findChildren<QNetworkAccessManager*>().isEmpty());
}

QTEST_GUILESS_MAIN(TestHttpHelper)
#include "tst_httphelper.moc"
