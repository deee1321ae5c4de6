// quorvane-service on its own: accounts, bad synchronisation requests, what a device is sent and
// how equal versions are settled, the size limit, the update record with its download chain,
// feedback, and the home page's command for adding accounts.
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QSqlError>
#include <QTest>
#include <memory>

#include "data/constants.h"
#include "data/sqlhelper.h"
#include "engine/httphelper.h"
#include "pgserver.h"
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

const QString neverSynchronised = "2008-08-08 08:08:08";

// The service's clock moved by seconds, as a client writes its times.
QString clockText(qint64 seconds)
{
    return QDateTime::currentDateTimeUtc().addSecs(seconds).toString("yyyy-MM-dd hh:mm:ss");
}

// A change set of members: rows "id=name@version", deletions "id@version".
QString members(const QStringList& rows, const QStringList& deletions = {})
{
    QJsonArray data;
    for (const QString& row : rows) {
        const QString id = row.section('=', 0, 0);
        data.append(QJsonArray { id, row.section('=', 1).section('@', 0, 0), row.section('@', 1) });
    }
    QJsonArray deleted;
    for (const QString& deletion : deletions)
        deleted.append(QJsonArray { deletion.section('@', 0, 0), deletion.section('@', 1) });
    const QJsonArray tables { QJsonObject { { "table_name", "member" },
        { "update_columns", QJsonArray { "id", "name", "version" } }, { "update_data", data },
        { "delete_columns", QJsonArray { "id", "version" } }, { "delete_data", deleted } } };
    return QString::fromUtf8(QJsonDocument(tables).toJson(QJsonDocument::Compact));
}

// The members of a reply, "id=name@version" for rows and "id@version" for deletions, sorted.
QStringList membersOf(const QJsonArray& reply)
{
    QStringList found;
    for (const QJsonValue& value : reply) {
        const QJsonObject table = value.toObject();
        if (table.value("table_name") != "member")
            continue;
        const QJsonArray columns = table.value("update_columns").toArray();
        const qsizetype id = columns.toVariantList().indexOf("id");
        const qsizetype name = columns.toVariantList().indexOf("name");
        const qsizetype version = columns.toVariantList().indexOf("version");
        for (const QJsonValue& row : table.value("update_data").toArray()) {
            const QJsonArray cells = row.toArray();
            found << cells.at(id).toString() + "=" + cells.at(name).toString() + "@" + cells.at(version).toString();
        }
        for (const QJsonValue& pair : table.value("delete_data").toArray())
            found << pair.toArray().at(0).toString() + "@" + pair.toArray().at(1).toString();
    }
    found.sort();
    return found;
}

// One device of an account, as the service sees it: every run sends the start of the device's run
// before as its sync time (the mark of a book never synchronised at first).
class Device {
public:
    Device(const ServiceFixture& service, const QString& user)
        : service(service)
        , user(user)
    {
    }

    // A run whose device clock is clockSeconds off the service's; the reply's members.
    QStringList run(const QString& data = members({}), qint64 clockSeconds = 0)
    {
        const QString start = clockText(clockSeconds);
        const QJsonArray reply = exchange(service, user, syncTime, start, data);
        syncTime = start;
        return membersOf(reply);
    }

    static QJsonArray exchange(const ServiceFixture& service, const QString& user, const QString& syncTime,
        const QString& clientTime, const QString& data)
    {
        HttpHelper::FormFields fields = { { "version", "38" }, { "username", user }, { "password", "pw" } };
        if (!syncTime.isNull())
            fields.append({ "sync_time", syncTime });
        if (!clientTime.isNull())
            fields.append({ "client_time", clientTime });
        fields.append({ "data", data });
        const QByteArray body = post(service.baseUrl() + "sync/syncpc2.php", fields).body;
        const QJsonDocument document = QJsonDocument::fromJson(body);
        if (!document.isArray())
            qWarning("not a change set: %s", body.left(200).constData());
        return document.array();
    }

    QString syncTime = neverSynchronised;

private:
    const ServiceFixture& service;
    QString user;
};

// Requests under way at the same time, each on a connection of its own; finished() lists them in
// the order their answers arrived.
class Concurrent {
public:
    // Sends a form to url; its number.
    int post(const QString& url, const HttpHelper::FormFields& fields)
    {
        managers.push_back(std::make_unique<QNetworkAccessManager>());
        QNetworkRequest request { QUrl(url) };
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/x-www-form-urlencoded"));
        request.setTransferTimeout(240000);
        QNetworkReply* reply = managers.back()->post(request, HttpHelper::encodeForm(fields));
        const int number = int(replies.size());
        replies.append(reply);
        bodies.append(QByteArray());
        QObject::connect(reply, &QNetworkReply::finished, reply, [this, number, reply] {
            bodies[number] = reply->readAll();
            ended.append(number);
        });
        return number;
    }
    // Waits until the whole body of request number has been handed to the network.
    bool waitUntilSent(int number)
    {
        bool sent = false;
        QNetworkReply* reply = replies.at(number);
        const QMetaObject::Connection progress = QObject::connect(reply, &QNetworkReply::uploadProgress, reply,
            [&sent](qint64 done, qint64 total) { sent = sent || (total > 0 && done == total); });
        const bool done = QTest::qWaitFor([&] { return sent || ended.contains(number); }, 240000);
        QObject::disconnect(progress);
        return done;
    }
    bool waitForAll() { return QTest::qWaitFor([&] { return ended.size() == replies.size(); }, 240000); }
    QByteArray body(int number) const { return bodies.at(number); }
    const QList<int>& finished() const { return ended; }

private:
    std::vector<std::unique_ptr<QNetworkAccessManager>> managers;
    QList<QNetworkReply*> replies;
    QList<QByteArray> bodies;
    QList<int> ended;
};

// The sync request of a book that was never synchronised, with change set data.
HttpHelper::FormFields firstSync(const QString& user, const QString& password, const QString& data,
    const QString& clientTime = QDateTime::currentDateTimeUtc().toString("yyyy-MM-dd hh:mm:ss"))
{
    return { { "version", "38" }, { "username", user }, { "password", password }, { "sync_time", neverSynchronised },
        { "client_time", clientTime }, { "data", data } };
}

// The members "<stem>0=<stem>@version" … of a change set.
QStringList memberRows(const QString& stem, int count, const QString& version)
{
    QStringList rows;
    for (int i = 0; i < count; ++i)
        rows << QString("%1%2=%1@%3").arg(stem).arg(i).arg(version);
    return rows;
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
    void changesSinceTheDevicesLastRun_data();
    void changesSinceTheDevicesLastRun();
    void versionsFromTheFutureTakeTheServiceTime();
    void unknownRunsGetEverything_data();
    void unknownRunsGetEverything();
    void equalVersionsLaterArrivalWins_data();
    void equalVersionsLaterArrivalWins();
    void runsAreKnownAfterARestart();
    void olderServiceFilesSendEverythingOnce();
    void homePageTellsTheRules();
    void tooLargeRequestsAreRefused();
    void updateRecordAndDownloadChain();
    void feedbackIsStored();
    void homePageAddsAccountsToItsOwnFile();
    void otherAccountsAreServedDuringALargeMerge();
    void oneAccountsRequestsMergeInArrivalOrder();
    void verifiedPasswordsAreRememberedBriefly();
    void healthTellsWhetherTheStoreAnswers();
    void pathsTakeTheirOwnMethodAlone_data();
    void pathsTakeTheirOwnMethodAlone();
    void shippedServiceHasNoFaults();

private:
    HttpHelper::FormFields syncFields(const QString& password, const QString& data) const;
    // A new account with the password "pw".
    QString newAccount(const char* stem, ServiceFixture* on = nullptr);

    ServiceFixture service;
    int accounts = 0;
};

QString TestService::newAccount(const char* stem, ServiceFixture* on)
{
    const QString name = QString("%1%2").arg(QLatin1String(stem)).arg(++accounts);
    if (!(on ? on : &service)->addUser(name, "pw"))
        qWarning("no account %s: %s", qPrintable(name), qPrintable(service.errorText()));
    return name;
}

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
    // Two commands: the one that asks for the password, and the one for scripts that reads it from a
    // file.
    QStringList commands;
    QRegularExpressionMatchIterator codes
        = QRegularExpression("<code>(.*?)</code>").globalMatch(QString::fromUtf8(home.body));
    while (codes.hasNext()) {
        QString command = codes.next().captured(1);
        for (const auto& [entity, text] :
            { std::pair { "&lt;", "<" }, { "&gt;", ">" }, { "&quot;", "\"" }, { "&#39;", "'" }, { "&amp;", "&" } })
            command.replace(entity, text);
        commands << command;
    }
    QCOMPARE(commands.size(), 2);
    QVERIFY2(commands.first().endsWith(" --add-user 用户名"), qPrintable(commands.first()));
    QCOMPARE(commands.last(), commands.first() + " < 密码文件");
    QTemporaryDir elsewhere;
    QVERIFY(elsewhere.isValid());
    QFile passwordFile(elsewhere.filePath("密码文件"));
    QVERIFY(passwordFile.open(QIODevice::WriteOnly));
    passwordFile.write("new secret\n");
    passwordFile.close();
    QString command = commands.last();
    command.replace(" --add-user 用户名 ", " --add-user 新用户 ");

    QProcess shell;
    shell.setWorkingDirectory(elsewhere.path());
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

    if (ServiceFixture::usesPostgreSql()) {
        // No row of the database holds the password, only its salted hash.
        QStringList rows;
        QVERIFY(service.withStore("accounts", [&](QSqlDatabase& db) {
            QSqlQuery query("select * from users", db);
            while (query.next()) {
                for (int i = 0; i < query.record().count(); ++i)
                    rows << query.value(i).toString();
            }
            return !rows.isEmpty();
        }));
        QVERIFY(!rows.join('\n').contains(password));
        return;
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
    const QString v1 = "2020-01-01 00:00:01";
    QVERIFY(!upload(1200, [&](int) { return v1; }, {}).isEmpty());
    // Older rows stay as they are here and come back; newer rows and a later deletion are taken.
    const QJsonArray answer = upload(
        1200, [&](int i) { return i < 600 ? QString("2020-01-01 00:00:00") : QString("2020-01-01 00:00:02"); },
        QJsonArray { QJsonValue(QJsonArray { "m650", "2020-01-01 00:00:03" }) });
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

void TestService::changesSinceTheDevicesLastRun_data()
{
    // The clock of device A, in seconds off the service's, at its first run and at its second. What
    // B uploaded between the two reaches A whatever A's clock did, and what A already has does not
    // come again. Timing the window by the two clocks lost B's change in each of these.
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("second");
    QTest::newRow("clocks agree") << 0 << 0;
    QTest::newRow("request queued 5 s behind another") << 0 << -5;
    QTest::newRow("clock set back 90 s") << 0 << -90;
    QTest::newRow("clock set forward an hour") << 0 << 3600;
    QTest::newRow("clock an hour ahead") << 3600 << 3600;
    QTest::newRow("clock 90 s behind") << -90 << -90;
}

void TestService::versionsFromTheFutureTakeTheServiceTime()
{
    const QString user = newAccount("future");
    Device fast(service, user);
    Device other(service, user);
    other.run();
    const QString before = clockText(0);
    const QString week = clockText(7 * 86400);
    const QString withinTolerance = clockText(240);
    // A row and a deletion stamped a week ahead are stored with the service's time and sent back to
    // their device; a version within the tolerance stays as it came.
    const QStringList back
        = fast.run(members({ "f1=fast@" + week, "f2=near@" + withinTolerance }, { "f3@" + week }), 7 * 86400);
    const QString after = clockText(0);
    QCOMPARE(back.size(), 2);
    const QString row = back.filter("f1=fast@").value(0).section('@', 1);
    const QString deletion = back.filter("f3@").value(0).section('@', 1);
    QVERIFY2(row >= before && row <= after, qPrintable(row));
    QVERIFY2(deletion >= before && deletion <= after, qPrintable(deletion));
    QCOMPARE(other.run(), QStringList({ "f1=fast@" + row, "f2=near@" + withinTolerance, "f3@" + deletion }));

    // Its next changes of the record, within the same second, count as made after the one before.
    const QStringList again = fast.run(members({ "f1=again@" + week }), 7 * 86400);
    QCOMPARE(again.filter("f1=").size(), 1);
    QVERIFY2(again.filter("f1=").value(0).startsWith("f1=again@"), qPrintable(again.join(' ')));
    QVERIFY(again.filter("f1=").value(0).section('@', 1) > row);
    const QStringList third = fast.run(members({ "f1=third@" + week }), 7 * 86400);
    QVERIFY2(third.filter("f1=").value(0).startsWith("f1=third@"), qPrintable(third.join(' ')));
    QVERIFY(other.run().contains(third.filter("f1=").value(0)));

    // So a change made elsewhere a minute later wins, as it would have with a right clock.
    const QString later = clockText(60);
    QVERIFY(other.run(members({ "f1=later@" + later })).filter("f1=").isEmpty());
    QVERIFY(fast.run(members({})).contains("f1=later@" + later));
}

void TestService::changesSinceTheDevicesLastRun()
{
    QFETCH(int, first);
    QFETCH(int, second);
    const QString user = newAccount("window");
    // A device that ran long before (its clock two hours behind) left a record that A has.
    Device z(service, user);
    const QString early = clockText(-7200);
    z.run(members({ "z1=Z's@" + early }), -7200);
    Device a(service, user);
    Device b(service, user);
    const QString before = clockText(0);
    QString versionA = clockText(first);
    const QStringList firstRun = a.run(members({ "a1=A's@" + versionA }), first);
    if (first > 300) {
        // A version further ahead than the service takes is stored with the service's time and
        // comes back, so that A holds what every other device gets.
        QCOMPARE(firstRun.size(), 2);
        QVERIFY(firstRun.contains("z1=Z's@" + early));
        const QString back = firstRun.filter("a1=A's@").value(0).section('@', 1);
        QVERIFY2(back >= before && back <= clockText(0), qPrintable(back));
        versionA = back;
    } else {
        QCOMPARE(firstRun, QStringList({ "z1=Z's@" + early }));
    }
    const QString versionB = clockText(0);
    QCOMPARE(b.run(members({ "b1=B's@" + versionB })), QStringList({ "a1=A's@" + versionA, "z1=Z's@" + early }));

    // B's change, and neither what A sent itself nor what it had before: the service knows what A has.
    QCOMPARE(a.run(members({}), second), QStringList({ "b1=B's@" + versionB }));
}

void TestService::unknownRunsGetEverything_data()
{
    // What the next request of device A sends (a null text: the field is missing); everything the
    // account holds comes back where the service cannot tell what A has, never nothing.
    QTest::addColumn<QString>("syncTime");
    QTest::addColumn<QString>("clientTime");
    QTest::addColumn<bool>("everything");
    const QString now = clockText(0);
    QTest::newRow("the start of A's last run") << QString() << now << false;
    QTest::newRow("a book never synchronised") << neverSynchronised << now << true;
    QTest::newRow("empty sync time") << "" << now << true;
    QTest::newRow("malformed sync time") << "yesterday 12:00" << now << true;
    QTest::newRow("sync time in the future") << clockText(3 * 86400) << now << true;
    QTest::newRow("sync time years old") << clockText(-3 * 366 * 86400) << now << true;
    QTest::newRow("no sync time") << QString("<none>") << now << true;
    QTest::newRow("no client time") << QString() << QString("<none>") << true;
    QTest::newRow("malformed client time") << QString() << "12:00:00" << true;
}

void TestService::unknownRunsGetEverything()
{
    QFETCH(QString, syncTime);
    QFETCH(QString, clientTime);
    QFETCH(bool, everything);
    const QString user = newAccount("unknown");
    Device a(service, user);
    const QString version = clockText(0);
    a.run(members({ "m1=one@" + version, "m2=two@" + version }));
    if (syncTime.isNull())
        syncTime = a.syncTime;
    const QJsonArray reply = Device::exchange(service, user, syncTime == "<none>" ? QString() : syncTime,
        clientTime == "<none>" ? QString() : clientTime, members({}));
    QCOMPARE(reply.size(), 6);
    QCOMPARE(membersOf(reply), everything ? QStringList({ "m1=one@" + version, "m2=two@" + version }) : QStringList());
}

void TestService::equalVersionsLaterArrivalWins_data()
{
    // Uploads of the member x with one version V, in order: "A:a" is device A sending x named "a",
    // "B:-" device B sending its deletion. Then what the last upload's reply holds of x, and what a
    // new device gets ("name@version" or "@version" for a deletion; V1 is V and a second).
    QTest::addColumn<QStringList>("uploads");
    QTest::addColumn<QString>("answered");
    QTest::addColumn<QString>("stored");
    QTest::newRow("two devices in one second") << QStringList { "A:a", "B:b" } << "b@V1"
                                               << "b@V1";
    QTest::newRow("one device twice in one second") << QStringList { "A:a", "A:b" } << "b@V1"
                                                    << "b@V1";
    QTest::newRow("deletion in the row's second") << QStringList { "A:a", "A:-" } << "@V1"
                                                  << "@V1";
    QTest::newRow("row in the deletion's second") << QStringList { "A:-", "B:b" } << "b@V1"
                                                  << "b@V1";
    QTest::newRow("the same row again") << QStringList { "A:a", "B:a" } << ""
                                        << "a@V";
    QTest::newRow("the same deletion again") << QStringList { "A:-", "B:-" } << ""
                                             << "@V";
    // The winner of a tie is a second later: a third change within the first second is older.
    QTest::newRow("a third in the second of a tie") << QStringList { "A:a", "B:b", "C:c" } << "b@V1"
                                                    << "b@V1";
}

void TestService::equalVersionsLaterArrivalWins()
{
    QFETCH(QStringList, uploads);
    QFETCH(QString, answered);
    QFETCH(QString, stored);
    const QString V = "2024-05-05 05:05:05";
    const auto expand = [&](QString state) {
        if (state.isEmpty())
            return QStringList();
        state.replace("@V1", "@2024-05-05 05:05:06").replace("@V", "@" + V);
        return QStringList { "x" + QString(state.startsWith('@') ? "" : "=") + state };
    };
    const QString user = newAccount("equal");
    QHash<QString, Device*> devices;
    std::vector<std::unique_ptr<Device>> owned;
    QStringList reply;
    for (const QString& upload : std::as_const(uploads)) {
        const QString name = upload.section(':', 0, 0);
        if (!devices.contains(name)) {
            owned.push_back(std::make_unique<Device>(service, user));
            devices.insert(name, owned.back().get());
        }
        const QString value = upload.section(':', 1);
        reply
            = devices.value(name)->run(value == "-" ? members({}, { "x@" + V }) : members({ "x=" + value + "@" + V }));
        reply.removeAll("x=a@" + V); // the first upload's own row, sent to the second device
        reply.removeAll("x@" + V);
    }
    QCOMPARE(reply, expand(answered));
    Device newcomer(service, user);
    QCOMPARE(newcomer.run(), expand(stored));
    // Every device that took part gets the winner too, the uploader included.
    for (Device* device : std::as_const(devices)) {
        const QStringList got = device->run();
        QVERIFY2(got.isEmpty() || got == expand(stored), qPrintable(got.join(", ")));
    }
}

void TestService::runsAreKnownAfterARestart()
{
    ServiceFixture restarted;
    QVERIFY2(restarted.start(), qPrintable(restarted.errorText()));
    const QString user = newAccount("restart", &restarted);
    Device a(restarted, user);
    Device b(restarted, user);
    const QString version = clockText(0);
    a.run(members({ "a1=A's@" + version }));
    restarted.stop();
    QVERIFY2(restarted.start(), qPrintable(restarted.errorText()));
    b.run(members({ "b1=B's@" + version }));
    // The service still knows what A has: B's change, and nothing A sent itself.
    QCOMPARE(a.run(), QStringList({ "b1=B's@" + version }));
}

void TestService::olderServiceFilesSendEverythingOnce()
{
    if (ServiceFixture::usesPostgreSql())
        QSKIP("stores of services before the change sequence are SQLite files");
    ServiceFixture older;
    QVERIFY2(older.start(), qPrintable(older.errorText()));
    const QString user = newAccount("older", &older);
    Device a(older, user);
    const QString version = clockText(0);
    a.run(members({ "a1=A's@" + version, "a2=A's@" + version }));
    older.stop();
    // The file as a service before the change sequence left it: no sequence, no runs to find.
    QVERIFY(withBookConnection(older.dataFile(), "older", BookAccess::ReadWrite, [](QSqlDatabase& db) {
        QSqlQuery query(db);
        for (const char* sql : { "drop index records_sequence", "drop index syncs_client_time",
                 "alter table records drop column changed_seq", "alter table syncs drop column answered_seq",
                 "alter table syncs drop column client_time", "alter table users drop column change_seq",
                 "create index records_changed on records (account, changed_at)" }) {
            if (!query.exec(sql)) {
                qWarning("%s: %s", sql, qPrintable(query.lastError().text()));
                return false;
            }
        }
        return true;
    }));
    QVERIFY2(older.start(), qPrintable(older.errorText()));
    // The service cannot tell what A has: everything once, then only what is new.
    QCOMPARE(a.run(), QStringList({ "a1=A's@" + version, "a2=A's@" + version }));
    QCOMPARE(a.run(), QStringList());
    Device b(older, user);
    QCOMPARE(b.run(members({ "b1=B's@" + version })), QStringList({ "a1=A's@" + version, "a2=A's@" + version }));
    QCOMPARE(a.run(), QStringList({ "b1=B's@" + version }));
}

void TestService::homePageTellsTheRules()
{
    const QString page = QString::fromUtf8(fetch(service.baseUrl()).body);
    QVERIFY(page.contains(QString::fromUtf8("后到达服务的那次上传为准")));
    QVERIFY(page.contains(QString::fromUtf8("往后推一秒")));
    QVERIFY(page.contains(QString::fromUtf8("比自己的时钟晚五分钟以上")));
    QVERIFY(page.contains(QString::fromUtf8("包括上传它的那一台")));
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

    QStringList stored;
    QVERIFY(service.withStore("feedback", [&](QSqlDatabase& db) {
        QSqlQuery query(db);
        if (!query.exec("select email, subject, content from feedback"))
            return false;
        while (query.next())
            stored << query.value(0).toString() + '|' + query.value(1).toString() + '|' + query.value(2).toString();
        return true;
    }));
    QCOMPARE(stored, QStringList { "a@b.com|" + QString::fromUtf8("QRV PC 反馈a@b.com|") + content });
}

void TestService::otherAccountsAreServedDuringALargeMerge()
{
    // A first synchronisation of a large book takes seconds to merge; on PostgreSQL a small one of
    // another account that arrives meanwhile is answered first. (Served one at a time, it waited for
    // the large one.) SQLite lets one merge write at a time: there the small one is answered once the
    // large one is written.
    const int rows = qEnvironmentVariableIsSet("QUORVANE_TEST_LARGE_MERGE_ROWS")
        ? qEnvironmentVariableIntValue("QUORVANE_TEST_LARGE_MERGE_ROWS")
        : 40000;
    const QString large = newAccount("large");
    const QString small = newAccount("small");
    const QString version = clockText(0);
    Concurrent requests;
    const int largeRequest = requests.post(
        service.baseUrl() + "sync/syncpc2.php", firstSync(large, "pw", members(memberRows("l", rows, version))));
    // The small request goes out once the large one is being merged, not merely sent: on a slow
    // machine the large body can still be on its way into the service when the small one is answered.
    const auto largeOneEnded = [&] { return requests.finished().contains(largeRequest); };
    bool merging = false;
    if (ServiceFixture::usesPostgreSql()) {
        QVERIFY(service.withStore("merging", [&](QSqlDatabase& db) {
            QSqlQuery locks(db);
            merging = QTest::qWaitFor([&] {
                return largeOneEnded()
                    || (locks.exec("select count(*) from pg_locks where locktype = 'advisory' and granted")
                        && locks.next() && locks.value(0).toInt() > 0);
            }, 240000) && !largeOneEnded();
            return true;
        }));
    } else {
        // The rollback journal is there from the merge's first write until its commit.
        const QString journal = service.dataFile() + "-journal";
        merging = QTest::qWaitFor([&] { return largeOneEnded() || QFileInfo::exists(journal); }, 240000)
            && !largeOneEnded();
    }
    QVERIFY2(merging, "the large merge was over before it was seen");
    const int smallRequest = requests.post(
        service.baseUrl() + "sync/syncpc2.php", firstSync(small, "pw", members({ "s1=small@" + version })));
    QVERIFY(requests.waitForAll());
    if (ServiceFixture::usesPostgreSql())
        QCOMPARE(requests.finished(), QList<int>({ smallRequest, largeRequest }));
    QCOMPARE(QJsonDocument::fromJson(requests.body(smallRequest)).array().size(), 6);
    QCOMPARE(QJsonDocument::fromJson(requests.body(largeRequest)).array().size(), 6);
    // Each account has what it sent, and nothing of the other's.
    QCOMPARE(Device(service, small).run(), QStringList({ "s1=small@" + version }));
    QCOMPARE(Device(service, large).run().size(), rows);
}

void TestService::oneAccountsRequestsMergeInArrivalOrder()
{
    // Devices of one account, never synchronised before, upload at once: each is sent every record
    // the account holds, so each answer tells which uploads were merged before it. The first to
    // arrive is the largest, which takes longest to merge; one password is wrong.
    const QString user = newAccount("order");
    const QString version = clockText(0);
    const QStringList stems { "a", "b", "c", "d", "e", "f" };
    Concurrent requests;
    QHash<QString, int> requestOf;
    for (const QString& stem : stems) {
        const int count = stem == "a" ? 3000 : 1;
        const QString clientTime = QString("2030-01-01 00:00:0%1").arg(stems.indexOf(stem));
        requestOf.insert(stem,
            requests.post(service.baseUrl() + "sync/syncpc2.php",
                firstSync(user, stem == "d" ? "wrong" : "pw", members(memberRows(stem, count, version)), clientTime)));
        if (stem == "a")
            QVERIFY(requests.waitUntilSent(requestOf.value(stem)));
    }
    QVERIFY(requests.waitForAll());

    // The order the service received them in, from its log (each request's client time tells it).
    QStringList arrived;
    QList<QJsonObject> logged = service.requests("sync/syncpc2.php");
    std::sort(logged.begin(), logged.end(), [](const QJsonObject& a, const QJsonObject& b) {
        return a.value("received").toInteger() < b.value("received").toInteger();
    });
    for (const QJsonObject& request : std::as_const(logged)) {
        if (fieldOf(request, "username") == user)
            arrived << stems.at(fieldOf(request, "client_time").right(1).toInt());
    }
    QCOMPARE(arrived.size(), stems.size());

    QCOMPARE(QJsonDocument::fromJson(requests.body(requestOf.value("d"))).object().value("error").toInt(), 1);
    arrived.removeAll("d");
    QStringList before;
    for (const QString& stem : std::as_const(arrived)) {
        // Everything merged before it, of the uploads that arrived before it, and nothing later.
        QStringList expected;
        for (const QString& earlier : std::as_const(before))
            expected += memberRows(earlier, earlier == "a" ? 3000 : 1, version);
        expected.sort();
        const QStringList got = membersOf(QJsonDocument::fromJson(requests.body(requestOf.value(stem))).array());
        QVERIFY2(got == expected,
            qPrintable(QString("%1 (arrived after %2) was sent %3 records")
                           .arg(stem, before.join(','))
                           .arg(got.size())));
        before << stem;
    }
}

void TestService::verifiedPasswordsAreRememberedBriefly()
{
    // A short memory, to see it end.
    const int lifetimeMs = 4000;
    ServiceFixture remembering;
    QVERIFY2(remembering.start({ "--password-cache", QString::number(lifetimeMs / 1000) }),
        qPrintable(remembering.errorText()));
    QVERIFY(remembering.addUser("kept", "old password"));
    QVERIFY(remembering.addUser("donor", "new password"));
    const auto accepted = [&](const QString& password) {
        const QJsonObject answer = objectOf(
            post(remembering.baseUrl() + "sync/userid.php", { { "username", "kept" }, { "password", password } })
                .body);
        return answer.contains("id");
    };
    // The password is remembered between these two moments.
    QElapsedTimer sinceAsked;
    sinceAsked.start();
    QVERIFY(accepted("old password"));
    QElapsedTimer sinceAnswered;
    sinceAnswered.start();
    // A wrong password is refused however recently the right one was verified, and is not
    // remembered either.
    for (const QString wrong : { "old passwor", "old password ", "Old password", "" }) {
        QVERIFY2(!accepted(wrong), qPrintable(wrong));
        QVERIFY2(!accepted(wrong), qPrintable(wrong));
    }

    // The password changes in the store (as an administrator would change it there).
    const auto change = [](QSqlDatabase& db) {
        QSqlQuery query(db);
        return query.exec("update users set salt=(select salt from users where name='donor'), "
                          "hash=(select hash from users where name='donor'), "
                          "iterations=(select iterations from users where name='donor') where name='kept'");
    };
    QVERIFY(ServiceFixture::usesPostgreSql()
            ? remembering.withStore("password", change)
            : withBookConnection(remembering.dataFile(), "password", BookAccess::ReadWrite, change));
    QVERIFY(accepted("new password"));
    const bool stillRemembered = accepted("old password");
    // Only where the remembered password cannot have been forgotten yet (a slow build may take longer).
    if (sinceAsked.elapsed() < lifetimeMs)
        QVERIFY2(stillRemembered, "the verified password was not remembered");
    // Once its time is over, the old password is checked again, and refused.
    QTest::qWait(int(qMax<qint64>(0, lifetimeMs + 200 - sinceAnswered.elapsed())));
    QVERIFY(!accepted("old password"));
    QVERIFY(accepted("new password"));
}

void TestService::healthTellsWhetherTheStoreAnswers()
{
    const Response healthy = fetch(service.baseUrl() + "health");
    QCOMPARE(healthy.status, 200);
    QCOMPARE(objectOf(healthy.body), QJsonObject({ { "status", "ok" } }));
    QCOMPARE(post(service.baseUrl() + "health", {}).status, 405);

    ServiceFixture broken;
    QVERIFY2(broken.start(), qPrintable(broken.errorText()));
    QVERIFY(broken.addUser("someone", "pw"));
    if (ServiceFixture::usesPostgreSql()) {
        // The database server goes away under the running service, then comes back.
        PgServer* server = broken.pgServer();
        QVERIFY(server->stop());
        const Response unavailable = fetch(broken.baseUrl() + "health");
        const QJsonObject check = objectOf(
            post(broken.baseUrl() + "sync/userid.php", { { "username", "someone" }, { "password", "pw" } }).body);
        QVERIFY2(server->start(), qPrintable(server->errorText()));
        // A store that cannot be read is no wrong password.
        QCOMPARE(check.value("error").toInt(), 5);
        QCOMPARE(unavailable.status, 503);
        QCOMPARE(objectOf(unavailable.body), QJsonObject({ { "status", "unavailable" } }));
        QCOMPARE(fetch(broken.baseUrl() + "health").status, 200);
        return;
    }
    // The store's file turns into something else under the running service, then comes back.
    QFile file(broken.dataFile());
    QVERIFY(file.open(QIODevice::ReadWrite));
    const QByteArray stored = file.readAll();
    QVERIFY(file.seek(0));
    QVERIFY(file.write(QByteArray(stored.size(), 'x')) == stored.size());
    QVERIFY(file.flush());
    const Response unavailable = fetch(broken.baseUrl() + "health");
    QCOMPARE(unavailable.status, 503);
    QCOMPARE(objectOf(unavailable.body), QJsonObject({ { "status", "unavailable" } }));
    // A store that cannot be read is no wrong password.
    QCOMPARE(objectOf(post(broken.baseUrl() + "sync/userid.php", { { "username", "someone" }, { "password", "pw" } })
                          .body)
                 .value("error")
                 .toInt(),
        5);
    QVERIFY(file.seek(0));
    QVERIFY(file.write(stored) == stored.size());
    file.close();
    QCOMPARE(fetch(broken.baseUrl() + "health").status, 200);
}

void TestService::pathsTakeTheirOwnMethodAlone_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("post");
    QTest::addColumn<int>("status");
    QTest::newRow("sign-in, GET") << "sync/userid.php" << false << 405;
    QTest::newRow("synchronisation, GET") << "sync/syncpc2.php" << false << 405;
    QTest::newRow("feedback, GET") << "client/feedback.php" << false << 405;
    QTest::newRow("update record, POST") << "client/pc.php" << true << 405;
    QTest::newRow("download, POST") << "download/quorvane-setup.exe" << true << 405;
    QTest::newRow("cloud-disk page, POST") << "pan/quorvane.html" << true << 405;
    QTest::newRow("home page, POST") << "" << true << 405;
    QTest::newRow("update record") << "client/pc.php" << false << 200;
    QTest::newRow("home page") << "" << false << 200;
    // A path is the whole path: neither what starts with it nor a part of it.
    QTest::newRow("under a path") << "client/pc.php/more" << false << 404;
    QTest::newRow("part of a path") << "client" << false << 404;
    QTest::newRow("unknown") << "no/such/page" << false << 404;
    QTest::newRow("unknown, POST") << "no/such/page" << true << 404;
}

void TestService::pathsTakeTheirOwnMethodAlone()
{
    QFETCH(QString, path);
    QFETCH(bool, post);
    QFETCH(int, status);
    const QByteArray form;
    QCOMPARE(fetch(service.baseUrl() + path, post ? &form : nullptr).status, status);
}

// What the tests make the service do wrong is in their own build of it: the program users run
// ignores a configuration that asks for faults and has no redirection chain.
void TestService::shippedServiceHasNoFaults()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QFile config(folder.filePath("config.json"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    const QJsonObject faults { { "client/pc.php", QJsonObject { { "status", 500 } } },
        { "", QJsonObject { { "hang", true } } }, { "health", QJsonObject { { "close", true } } } };
    config.write(QJsonDocument(QJsonObject { { "faults", faults } }).toJson());
    config.close();
    ServiceProcess shipped(QStringLiteral(QUORVANE_SHIPPED_SERVICE_EXECUTABLE));
    QVERIFY2(shipped.start(folder.filePath("service.db"), { "--config", config.fileName() }),
        qPrintable(shipped.errorText()));
    const QString base = shipped.baseUrl();
    QCOMPARE(objectOf(fetch(base + "client/pc.php").body).value("vercode").toInt(),
        Constants::getInstance()->getVersionCode());
    QCOMPARE(fetch(base).status, 200);
    QCOMPARE(fetch(base + "health").status, 200);
    QCOMPARE(fetch(base + "r302/download/quorvane-setup.exe").status, 404);
}

QTEST_GUILESS_MAIN(TestService)
#include "tst_service.moc"
