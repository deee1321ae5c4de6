#include "servicefixture.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

#include <memory>

#include "data/dbhelper.h"
#include "data/dbsetting.h"
#include "data/sqlhelper.h"
#include "engine/httphelper.h"
#include "engine/synchelper.h"
#include "pgserver.h"

namespace {

// The one PostgreSQL server of this test process, started by its first service and stopped when the
// application ends (the server's watchdog sees to it should the process die first).
std::unique_ptr<PgServer>& sharedServer()
{
    static std::unique_ptr<PgServer> server;
    return server;
}

void stopSharedServer()
{
    sharedServer().reset();
}

PgServer* startedServer(QString* error)
{
    std::unique_ptr<PgServer>& server = sharedServer();
    if (!server) {
        server = std::make_unique<PgServer>();
        qAddPostRoutine(stopSharedServer);
    }
    // Started again should a test have stopped it and failed before it started it.
    if (!server->isRunning() && !server->start()) {
        *error = QStringLiteral("the PostgreSQL server did not start: ") + server->errorText();
        return nullptr;
    }
    return server.get();
}

} // namespace

ServiceFixture::ServiceFixture()
    : process(QStringLiteral(QUORVANE_SERVICE_EXECUTABLE))
{
    const QString store = qEnvironmentVariable("QUORVANE_TEST_STORE", QStringLiteral("sqlite"));
    if (store == QLatin1String("sqlite"))
        return;
    if (store != QLatin1String("postgresql")) {
        storeError = QStringLiteral("QUORVANE_TEST_STORE is \"%1\": it must be sqlite or postgresql").arg(store);
        return;
    }
    PgServer* server = startedServer(&storeError);
    if (!server)
        return;
    // A database of its own for every service, as every service on SQLite has a file of its own.
    static int services = 0;
    const QString name = QStringLiteral("service_%1").arg(++services);
    if (!server->createDatabase(name)) {
        storeError = QStringLiteral("no database for the service: ") + server->errorText();
        return;
    }
    database = name;
}

ServiceFixture::~ServiceFixture()
{
    process.stop();
    if (!database.isEmpty() && sharedServer() && sharedServer()->isRunning())
        sharedServer()->dropDatabase(database);
}

bool ServiceFixture::usesPostgreSql()
{
    return qEnvironmentVariable("QUORVANE_TEST_STORE") == QLatin1String("postgresql");
}

PgServer* ServiceFixture::pgServer() const
{
    return database.isEmpty() ? nullptr : sharedServer().get();
}

QString ServiceFixture::storeLocation() const
{
    if (!database.isEmpty())
        return sharedServer()->url(database);
    return dataFile();
}

QString ServiceFixture::dataFile() const
{
    return dir.filePath(QStringLiteral("service.db"));
}

bool ServiceFixture::withStore(const QString& baseName, const std::function<bool(QSqlDatabase& db)>& work) const
{
    return withServiceStore(storeLocation(), baseName, work);
}

bool withServiceStore(const QString& location, const QString& baseName, const std::function<bool(QSqlDatabase& db)>& work)
{
    if (!location.startsWith(QLatin1String("postgresql://")))
        return withBookConnection(location, baseName, BookAccess::ReadOnly, work);
    static int connections = 0;
    const QString name = QStringLiteral("%1-store-%2").arg(baseName).arg(++connections);
    bool done = false;
    {
        const QUrl url(location);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        const QString socketFolder = QUrlQuery(url).queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded);
        db.setHostName(socketFolder.isEmpty() ? url.host() : socketFolder);
        if (url.port() > 0)
            db.setPort(url.port());
        db.setUserName(url.userName(QUrl::FullyDecoded));
        db.setPassword(url.password(QUrl::FullyDecoded));
        db.setDatabaseName(url.path(QUrl::FullyDecoded).mid(1));
        if (db.open())
            done = work(db);
        else
            qWarning("the service's store cannot be opened: %s", qPrintable(db.lastError().text()));
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return done;
}

bool ServiceFixture::start(const QStringList& arguments)
{
    if (!storeError.isEmpty())
        return false;
    return process.start(storeLocation(),
        QStringList { QStringLiteral("--config"), dir.filePath(QStringLiteral("config.json")),
            QStringLiteral("--request-log"), dir.filePath(QStringLiteral("requests.log")) }
            + arguments);
}

void ServiceFixture::stop()
{
    process.stop();
}

bool ServiceFixture::addUser(const QString& name, const QString& password)
{
    if (!storeError.isEmpty())
        return false;
    return process.addUser(storeLocation(), name, password);
}

void ServiceFixture::useFromProgram() const
{
    qputenv("QUORVANE_BASE_URL", baseUrl().toUtf8());
}

void ServiceFixture::setConfig(const QJsonObject& config)
{
    QFile file(dir.filePath(QStringLiteral("config.json")));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(QJsonDocument(config).toJson());
}

void ServiceFixture::setFault(const QString& path, const QJsonObject& fault)
{
    setConfig({ { QStringLiteral("faults"), QJsonObject { { path, fault } } } });
}

void ServiceFixture::clearConfig()
{
    QFile::remove(dir.filePath(QStringLiteral("config.json")));
}

QList<QJsonObject> ServiceFixture::requests(const QString& path) const
{
    QList<QJsonObject> list;
    QFile file(dir.filePath(QStringLiteral("requests.log")));
    if (!file.open(QIODevice::ReadOnly))
        return list;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QJsonObject request = QJsonDocument::fromJson(line).object();
        if (!request.isEmpty() && (path.isEmpty() || request.value(QLatin1String("path")).toString() == path))
            list << request;
    }
    return list;
}

void ServiceFixture::clearRequests()
{
    // The service appends, so it goes on writing at the new end.
    QFile file(dir.filePath(QStringLiteral("requests.log")));
    file.resize(0);
}

QString refusedBaseUrl()
{
    // A port the system just handed out and took back: nothing listens there any more.
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("http://127.0.0.1:%1/").arg(port);
}

QList<QPair<QString, QString>> fieldsOf(const QJsonObject& request)
{
    QList<QPair<QString, QString>> fields;
    for (const QJsonValue& pair : request.value(QLatin1String("fields")).toArray())
        fields.append({ pair.toArray().at(0).toString(), pair.toArray().at(1).toString() });
    return fields;
}

QString fieldOf(const QJsonObject& request, const QString& name)
{
    for (const auto& pair : fieldsOf(request)) {
        if (pair.first == name)
            return pair.second;
    }
    return QString();
}

QStringList headerNames(const QJsonObject& request)
{
    QStringList names;
    for (const QJsonValue& header : request.value(QLatin1String("headers")).toArray())
        names << header.toArray().at(0).toString();
    return names;
}

QString headerValue(const QJsonObject& request, const QString& name)
{
    for (const QJsonValue& header : request.value(QLatin1String("headers")).toArray()) {
        if (header.toArray().at(0).toString() == name)
            return header.toArray().at(1).toString();
    }
    return QString();
}

QStringList bookRows(const QSqlDatabase& db, bool withTombstones)
{
    QStringList tables;
    for (const char* name : { "bill", "account", "borrower", "category", "sub_category", "member" }) {
        tables << QStringLiteral("tbl_") + QLatin1String(name);
        if (withTombstones)
            tables << QStringLiteral("tbl_%1_deleted").arg(QLatin1String(name));
    }
    if (withTombstones)
        tables << QStringLiteral("tbl_setting");
    QStringList rows;
    for (const QString& table : std::as_const(tables)) {
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("select * from %1 order by 1").arg(table))) {
            rows << table + QStringLiteral(": unreadable");
            continue;
        }
        while (query.next()) {
            QStringList values;
            for (int i = 0; i < query.record().count(); ++i)
                values << query.value(i).toString();
            rows << table + QLatin1Char(':') + values.join(QLatin1Char('|'));
        }
    }
    return rows;
}

QStringList bookRows(const QString& path, bool withTombstones)
{
    QStringList rows;
    withBookConnection(path, QStringLiteral("rows"), BookAccess::ReadOnly, [&](QSqlDatabase& db) {
        rows = bookRows(db, withTombstones);
        return true;
    });
    return rows;
}

SyncOutcome runSync(int timeoutMs)
{
    SyncOutcome outcome;
    SyncHelper* sync = SyncHelper::getInstance();
    QEventLoop loop;
    const auto finished = QObject::connect(sync, &SyncHelper::syncFinished, &loop, [&] {
        outcome.finished = true;
        loop.quit();
    });
    const auto failed = QObject::connect(sync, &SyncHelper::syncError, &loop, [&](int code, const QString& message) {
        outcome.code = code;
        outcome.message = message;
        loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, [&] {
        outcome.code = -1;
        outcome.message = QStringLiteral("no end within the time allowed");
        loop.quit();
    });
    if (sync->sync())
        loop.exec();
    else
        outcome.code = -2;
    QObject::disconnect(finished);
    QObject::disconnect(failed);
    return outcome;
}

int runSyncProcess(const QString& folder, const QString& book, const QStringList& arguments, QString* output)
{
    QProcess process;
    process.start(QStringLiteral(QUORVANE_SYNC_EXECUTABLE),
        QStringList { QStringLiteral("--folder"), folder } + arguments + QStringList { book });
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        *output = QStringLiteral("quorvane-sync did not end");
        return -1;
    }
    *output = QString::fromUtf8(process.readAllStandardError());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

AccountBook::AccountBook(ServiceFixture& service, const QString& password)
    : book(env.dataDir() + QStringLiteral("Quorvane.db"))
    , secret(password)
{
    // Every book an account of its own, so that no test sees another's records.
    static int accounts = 0;
    name = QStringLiteral("user%1").arg(++accounts);
    if (!book.isOpen() || !DBHelper::getInstance()->upgrade() || !DBHelper::getInstance()->initDefaultData(QString())) {
        error = QStringLiteral("the book could not be made");
        return;
    }
    if (!service.addUser(name, secret)) {
        error = service.errorText();
        return;
    }
    DbSetting* setting = DbSetting::getInstance();
    setting->setSyncUsername(name);
    setting->setSyncPassword(secret);
    if (!setting->save())
        error = QStringLiteral("the account could not be stored");
    service.useFromProgram();
    service.clearConfig();
    service.clearRequests();
    HttpHelper::setTransferTimeout(60000);
}

AccountBook::~AccountBook()
{
    if (!QTest::qWaitFor([] { return !SyncHelper::getInstance()->isRunning(); }, 120000))
        qWarning("AccountBook: a synchronisation was still running after two minutes");
}

bool AccountBook::openSecondBook(const QString& fileName) const
{
    const QString second = env.dataDir() + fileName;
    if (!TestBook::copyTemplate(second) || !TestBook::openDefault(second))
        return false;
    DbSetting::setInstance(nullptr);
    if (!DBHelper::getInstance()->upgrade() || !DBHelper::getInstance()->initDefaultData(QString()))
        return false;
    DbSetting::getInstance()->setSyncUsername(name);
    DbSetting::getInstance()->setSyncPassword(secret);
    return DbSetting::getInstance()->save();
}
