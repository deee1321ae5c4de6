#include "servicefixture.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include "data/dbhelper.h"
#include "data/dbsetting.h"
#include "data/sqlhelper.h"
#include "engine/httphelper.h"
#include "engine/synchelper.h"

ServiceFixture::ServiceFixture()
    : process(QStringLiteral(QUORVANE_SERVICE_EXECUTABLE))
{
}

QString ServiceFixture::dataFile() const
{
    return dir.filePath(QStringLiteral("service.db"));
}

bool ServiceFixture::start(const QStringList& arguments)
{
    return process.start(dataFile(),
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
    return process.addUser(dataFile(), name, password);
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
