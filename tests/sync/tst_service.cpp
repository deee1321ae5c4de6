// quorvane-service on its own: accounts, bad synchronisation requests, the size limit, the update
// record with its download chain, and feedback.
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include "data/constants.h"
#include "data/sqlhelper.h"
#include "engine/httphelper.h"
#include "servicefixture.h"
#include "testenv.h"

namespace {

struct Response {
    int status = 0;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QByteArray location;
    qint64 length = -1;
    QByteArray body;
};

// One request, redirections not followed.
Response fetch(const QString& url, const QByteArray* form = nullptr)
{
    QNetworkAccessManager manager;
    QNetworkRequest request { QUrl(url) };
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(60000);
    QNetworkReply* reply;
    if (form) {
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/x-www-form-urlencoded"));
        reply = manager.post(request, *form);
    } else {
        reply = manager.get(request);
    }
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!finished.wait(60000))
        qWarning("no answer from %s", qPrintable(url));
    Response response;
    response.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    response.error = reply->error();
    response.location = reply->rawHeader("Location");
    response.length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    response.body = reply->readAll();
    delete reply;
    return response;
}

Response post(const QString& url, const HttpHelper::FormFields& fields)
{
    const QByteArray form = HttpHelper::encodeForm(fields);
    return fetch(url, &form);
}

QJsonObject objectOf(const QByteArray& body)
{
    return QJsonDocument::fromJson(body).object();
}

} // namespace

class TestService : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void accountsAreKeptSafely();
    void foldersMadeForTheFileAreTheOwnersAlone();
    void badSyncRequestsStoreNothing_data();
    void badSyncRequestsStoreNothing();
    void largeChangeSetsMergeAsSmallOnes();
    void tooLargeRequestsAreRefused();
    void updateRecordAndDownloadChain();
    void feedbackIsStored();
    void homePageAddsAccountsToItsOwnFile();

private:
    HttpHelper::FormFields syncFields(const QString& password, const QString& data) const;

    ServiceFixture service;
};

void TestService::initTestCase()
{
    QVERIFY2(service.start(), qPrintable(service.errorText()));
    QVERIFY2(service.addUser("anna", QString::fromUtf8("pass word+中")), qPrintable(service.errorText()));
}

void TestService::cleanup()
{
    service.clearConfig();
}

// The command the home page shows adds an account that this very service then knows, whatever its
// data file is called.
void TestService::homePageAddsAccountsToItsOwnFile()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString dataFile = folder.filePath("it's a <store> & more.db");
    ServiceProcess running(QStringLiteral(QUORVANE_SERVICE_EXECUTABLE));
    QVERIFY2(running.start(dataFile), qPrintable(running.errorText()));

    const Response home = fetch(running.baseUrl());
    QCOMPARE(home.status, 200);
    const QRegularExpressionMatch code = QRegularExpression("<code>(.*)</code>").match(QString::fromUtf8(home.body));
    QVERIFY2(code.hasMatch(), home.body.constData());
    QString command = code.captured(1);
    for (const auto& [entity, text] :
        { std::pair { "&lt;", "<" }, { "&gt;", ">" }, { "&quot;", "\"" }, { "&#39;", "'" }, { "&amp;", "&" } })
        command.replace(entity, text);
    QVERIFY2(command.endsWith(" --add-user 用户名 密码"), qPrintable(command));
    command.replace(" --add-user 用户名 密码", " --add-user 新用户 'new secret'");

    QProcess shell;
    shell.start("/bin/sh", { "-c", command });
    QVERIFY(shell.waitForFinished(30000));
    QVERIFY2(shell.exitCode() == 0, shell.readAllStandardError().constData());
    const QJsonObject id = objectOf(post(running.baseUrl() + "sync/userid.php",
        { { "username", QString::fromUtf8("新用户") }, { "password", "new secret" } })
                                        .body);
    QCOMPARE(id.value("id").toString().size(), 36);
    // Nothing was written anywhere but the service's own file.
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList { "it's a <store> & more.db" });
}

HttpHelper::FormFields TestService::syncFields(const QString& password, const QString& data) const
{
    return { { "version", "38" }, { "username", "anna" }, { "password", password },
        { "sync_time", "2008-08-08 08:08:08" }, { "client_time", "2020-01-01 00:00:00" }, { "data", data } };
}

void TestService::accountsAreKeptSafely()
{
    const QString password = QString::fromUtf8("pass word+中");
    QVERIFY(!service.addUser("anna", "another"));
    QVERIFY(!service.addUser("", "x"));

    const QJsonObject id = objectOf(
        post(service.baseUrl() + "sync/userid.php", { { "username", "anna" }, { "password", password } }).body);
    QCOMPARE(id.value("id").toString().size(), 36);
    QVERIFY(id.value("id").toString().endsWith("00"));
    for (const auto& wrong :
        { HttpHelper::FormFields { { "username", "anna" }, { "password", "pass word 中" } },
            HttpHelper::FormFields { { "username", "nobody" }, { "password", password } }, HttpHelper::FormFields() }) {
        const QJsonObject refused = objectOf(post(service.baseUrl() + "sync/userid.php", wrong).body);
        QCOMPARE(refused.value("error").toInt(), 1);
        QCOMPARE(refused.value("message").toString(), QString::fromUtf8("用户名或密码错误"));
    }

    // Owner-only, and the password is not in it, only its salted hash.
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
        | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    QCOMPARE(QFile::permissions(service.dataFile()) & others, QFileDevice::Permissions());
    QVERIFY(QFile::permissions(service.dataFile()).testFlags(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    QFile file(service.dataFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(!file.readAll().contains(password.toUtf8()));
}

void TestService::foldersMadeForTheFileAreTheOwnersAlone()
{
    // A data file in folders that are not there yet, made under a umask that lets everything through.
    QTemporaryDir dir;
    const QFileDevice::Permissions shared
        = QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;
    QVERIFY(QFile::setPermissions(
        dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | shared));
    const QString data = dir.path() + "/service/data/service.db";
    QProcess process;
    {
        const ScopedUmask careless(0);
        process.start(QUORVANE_SERVICE_EXECUTABLE, { "--data", data, "--add-user", "bea", "pw" });
        QVERIFY(process.waitForFinished(60000));
    }
    QCOMPARE(process.exitCode(), 0);

    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
        | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    const QFileDevice::Permissions folder = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    for (const QString& made : { dir.path() + "/service", dir.path() + "/service/data" }) {
        QCOMPARE(QFile::permissions(made) & others, QFileDevice::Permissions());
        QVERIFY(QFile::permissions(made).testFlags(folder));
    }
    QCOMPARE(QFile::permissions(data) & others, QFileDevice::Permissions());
    // A folder that was there keeps what its owner gave it.
    QCOMPARE(QFile::permissions(dir.path()) & others, shared);
}

void TestService::badSyncRequestsStoreNothing_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("data");
    QTest::addColumn<int>("code");
    const QString good = QString::fromUtf8("pass word+中");
    const QString row = R"([{"table_name":"bill","update_columns":["id","amount","version"],"update_data":[%1]}])";
    QTest::newRow("wrong password") << "x" << row.arg(R"(["b","1","2030-01-01 00:00:00"])") << 1;
    QTest::newRow("data not JSON") << good << "[{" << 2;
    QTest::newRow("data not an array") << good << R"({"table_name":"bill"})" << 2;
    QTest::newRow("unknown table") << good << R"([{"table_name":"budget","update_columns":[],"update_data":[]}])" << 4;
    QTest::newRow("unknown column")
        << good << R"([{"table_name":"bill","update_columns":["id","user_id","version"],"update_data":[]}])" << 4;
    QTest::newRow("row longer than its columns") << good << row.arg(R"(["b","1","2030-01-01 00:00:00","x"])") << 2;
    QTest::newRow("number in a cell") << good << row.arg(R"(["b",1,"2030-01-01 00:00:00"])") << 2;
    QTest::newRow("rows without a version")
        << good << R"([{"table_name":"bill","update_columns":["id","amount"],"update_data":[["b","1"]]}])" << 2;
    QTest::newRow("a good table, then a bad one")
        << good
        << R"([{"table_name":"bill","update_columns":["id","amount","version"],"update_data":[["b","1","2030-01-01 00:00:00"]]},)"
           R"({"table_name":"member; drop table records","update_columns":[],"update_data":[]}])"
        << 4;
}

void TestService::badSyncRequestsStoreNothing()
{
    QFETCH(QString, password);
    QFETCH(QString, data);
    QFETCH(int, code);
    const QJsonObject answer = objectOf(post(service.baseUrl() + "sync/syncpc2.php", syncFields(password, data)).body);
    QCOMPARE(answer.value("error").toInt(), code);
    QVERIFY(!answer.value("message").toString().isEmpty());

    // Asking for everything the account holds finds nothing.
    const QByteArray everything
        = post(service.baseUrl() + "sync/syncpc2.php", syncFields(QString::fromUtf8("pass word+中"), "[]")).body;
    const QJsonArray tables = QJsonDocument::fromJson(everything).array();
    QCOMPARE(tables.size(), 6);
    for (const QJsonValue& table : tables)
        QVERIFY2(table.toObject().value("update_data").toArray().isEmpty(), everything.constData());
}

void TestService::largeChangeSetsMergeAsSmallOnes()
{
    // Over a thousand rows the service reads the account's records at once: the same rules apply.
    QVERIFY(service.addUser("many", "pw"));
    const auto upload = [&](int rows, const std::function<QString(int)>& version, const QJsonArray& deletions) {
        QJsonArray data;
        for (int i = 0; i < rows; ++i)
            data.append(QJsonArray { QString("m%1").arg(i), QString::fromUtf8("成员 \"%1\"\n").arg(i), version(i) });
        const QJsonArray tables { QJsonObject { { "table_name", "member" },
            { "update_columns", QJsonArray { "id", "name", "version" } }, { "update_data", data },
            { "delete_data", deletions } } };
        const HttpHelper::FormFields fields = { { "username", "many" }, { "password", "pw" },
            { "sync_time", "2030-01-01 00:00:00" }, { "client_time", "2030-01-01 00:00:00" },
            { "data", QString::fromUtf8(QJsonDocument(tables).toJson(QJsonDocument::Compact)) } };
        return QJsonDocument::fromJson(post(service.baseUrl() + "sync/syncpc2.php", fields).body).array();
    };
    const QString v1 = "2030-01-01 00:00:01";
    QVERIFY(!upload(1200, [&](int) { return v1; }, {}).isEmpty());
    // Older rows stay as they are here and come back; newer rows and a later deletion are taken.
    const QJsonArray answer = upload(
        1200, [&](int i) { return i < 600 ? QString("2030-01-01 00:00:00") : QString("2030-01-01 00:00:02"); },
        QJsonArray { QJsonValue(QJsonArray { "m650", "2030-01-01 00:00:03" }) });
    QJsonArray rows;
    for (const QJsonValue& table : answer) {
        if (table.toObject().value("table_name") == "member"
            && !table.toObject().value("update_data").toArray().isEmpty()) {
            QCOMPARE(table.toObject().value("update_columns").toArray(), QJsonArray({ "id", "name", "version" }));
            rows = table.toObject().value("update_data").toArray();
        }
    }
    QCOMPARE(rows.size(), 600);
    QString first;
    for (const QJsonValue& row : rows) {
        QVERIFY(row.toArray().at(0).toString().mid(1).toInt() < 600);
        QCOMPARE(row.toArray().at(2).toString(), v1);
        if (row.toArray().at(0).toString() == "m0")
            first = row.toArray().at(1).toString();
    }
    QCOMPARE(first, QString::fromUtf8("成员 \"0\"\n"));
}

void TestService::tooLargeRequestsAreRefused()
{
    ServiceFixture small;
    QVERIFY2(small.start({ "--max-request-bytes", "4000" }), qPrintable(small.errorText()));
    QVERIFY(small.addUser("bob", "pw"));
    const HttpHelper::FormFields big = { { "username", "bob" }, { "password", "pw" }, { "data", QString(64000, 'x') } };
    const Response refused = post(small.baseUrl() + "sync/syncpc2.php", big);
    QCOMPARE(refused.status, 413);
    QVERIFY(refused.error != QNetworkReply::NoError);
    QVERIFY(small.requests().first().value("outcome") == "413");
    // The service goes on answering.
    const Response id = post(small.baseUrl() + "sync/userid.php", { { "username", "bob" }, { "password", "pw" } });
    QCOMPARE(id.status, 200);
    QVERIFY(objectOf(id.body).contains("id"));
}

void TestService::updateRecordAndDownloadChain()
{
    TestEnv env;
    const QString base = service.baseUrl();
    // By default the record is the program's own release, so no update is offered.
    QJsonObject record = objectOf(fetch(base + "client/pc.php").body);
    QCOMPARE(record.value("vercode").toInt(), Constants::getInstance()->getVersionCode());
    QCOMPARE(record.value("vername").toString(), Constants::getInstance()->getVersion());
    const Response installer = fetch(record.value("url1").toString());
    QCOMPARE(installer.status, 200);
    QVERIFY(installer.body.size() > 5242879);
    QCOMPARE(installer.length, installer.body.size());
    QVERIFY(installer.body.startsWith("#!/bin/sh\n"));
    // The cloud-disk page holds a link that the record's own pattern finds.
    const QString page = QString::fromUtf8(fetch(record.value("panurl").toString()).body);
    const QRegularExpression pattern(record.value("panreg").toString(),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::InvertedGreedinessOption);
    QCOMPARE(pattern.match(page).captured(1), record.value("url1").toString());

    service.setConfig({ { "update",
                            QJsonObject { { "vercode", 39 }, { "vername", "1.7" },
                                { "description", QString::fromUtf8("<p>新版本</p>") },
                                { "url1", "{base}r302/r301/download/quorvane-setup.exe" } } },
        { "installer", QJsonObject { { "size", 5242880 } } },
        { "panLink", "{base}r301/download/quorvane-setup.exe" } });
    record = objectOf(fetch(base + "client/pc.php").body);
    QCOMPARE(record.value("vercode").toInt(), 39);
    QCOMPARE(record.value("description").toString(), QString::fromUtf8("<p>新版本</p>"));
    QCOMPARE(record.value("url1").toString(), base + "r302/r301/download/quorvane-setup.exe");
    QVERIFY(fetch(record.value("panurl").toString()).body.contains(("href=\"" + base + "r301/").toUtf8()));

    // Each step of the chain points at the next by an absolute address.
    const Response first = fetch(record.value("url1").toString());
    QCOMPARE(first.status, 302);
    QCOMPARE(first.location, (base + "r301/download/quorvane-setup.exe").toUtf8());
    const Response second = fetch(QString::fromUtf8(first.location));
    QCOMPARE(second.status, 301);
    QCOMPARE(second.location, (base + "download/quorvane-setup.exe").toUtf8());
    const Response last = fetch(QString::fromUtf8(second.location));
    QCOMPARE(last.status, 200);
    QCOMPARE(last.body.size(), 5242880);
}

void TestService::feedbackIsStored()
{
    const QString content = QString::fromUtf8("同步以后账户余额不对 'quoted' & 100%");
    const Response sent = post(service.baseUrl() + "client/feedback.php",
        { { "email", "a@b.com" }, { "subject", QString::fromUtf8("QRV PC 反馈a@b.com") }, { "content", content } });
    QVERIFY(sent.body.contains("success"));
    const Response empty = post(service.baseUrl() + "client/feedback.php", { { "email", "a@b.com" } });
    QVERIFY(!empty.body.contains("success"));

    QString stored;
    withBookConnection(service.dataFile(), "feedback", BookAccess::ReadOnly, [&](QSqlDatabase& db) {
        stored = sqlValue(db, "select group_concat(email||'|'||subject||'|'||content) from feedback", {}, QVariant())
                     .toString();
        return true;
    });
    QCOMPARE(stored, "a@b.com|" + QString::fromUtf8("QRV PC 反馈a@b.com|") + content);
}

QTEST_GUILESS_MAIN(TestService)
#include "tst_service.moc"
