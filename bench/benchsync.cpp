#include "benchsync.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <cstdio>

#include "benchsupport.h"
#include "data/constants.h"
#include "data/dbhelper.h"
#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "engine/synchelper.h"
#include "serviceprocess.h"

namespace {

const int changedBills = 100;

// Runs one synchronisation of the open book to its end; false (reported) when it failed.
bool synchronise()
{
    bool finished = false;
    QEventLoop loop;
    SyncHelper* sync = SyncHelper::getInstance();
    const auto done = QObject::connect(sync, &SyncHelper::syncFinished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    const auto failed = QObject::connect(sync, &SyncHelper::syncError, &loop, [&](int code, const QString& message) {
        std::fprintf(stderr, "synchronisation failed: %d %s\n", code, qPrintable(message));
        loop.quit();
    });
    if (sync->sync())
        loop.exec();
    QObject::disconnect(done);
    QObject::disconnect(failed);
    return finished;
}

// The size of the latest upload, from the service's request log.
qint64 lastUploadBytes(const QString& log)
{
    QFile file(log);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    qint64 bytes = 0;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QJsonObject request = QJsonDocument::fromJson(line).object();
        if (request.value(QLatin1String("path")).toString() != QLatin1String("sync/syncpc2.php"))
            continue;
        for (const QJsonValue& header : request.value(QLatin1String("headers")).toArray()) {
            if (header.toArray().at(0).toString().compare(QLatin1String("Content-Length"), Qt::CaseInsensitive) == 0)
                bytes = header.toArray().at(1).toString().toLongLong();
        }
    }
    return bytes;
}

bool copyOwnerOnly(const QString& from, const QString& to)
{
    QFile::remove(to);
    return QFile::copy(from, to) && QFile::setPermissions(to, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace

void benchSync(const QString& generated, int bills, int runs)
{
    QTemporaryDir root;
    Constants::Roots roots;
    roots.appDir = root.filePath(QStringLiteral("app"));
    QDir().mkpath(roots.appDir);
    Constants::setInstance(new Constants(roots));
    FileSetting::setInstance(
        new FileSetting(Constants::getInstance()->getSettingDir() + QStringLiteral("Quorvane.ini")));
    Constants::getInstance()->setBookName(QStringLiteral("sync.db"));
    const QString book = Constants::getInstance()->getDbDir() + QStringLiteral("sync.db");
    const QString floorBook = root.filePath(QStringLiteral("floor.db"));
    const QString log = root.filePath(QStringLiteral("requests.log"));
    ServiceProcess service(QStringLiteral(QUORVANE_SERVICE_EXECUTABLE));
    const QString serviceData = root.filePath(QStringLiteral("service.db"));
    if (!copyOwnerOnly(generated, book) || !copyOwnerOnly(generated, floorBook)
        || !service.addUser(serviceData, QStringLiteral("bench"), QStringLiteral("bench"))
        || !service.start(serviceData, { QStringLiteral("--request-log"), log })) {
        std::fprintf(stderr, "cannot set up the synchronisation benchmark: %s\n", qPrintable(service.errorText()));
        return;
    }
    qputenv("QUORVANE_BASE_URL", service.baseUrl().toUtf8());
    DbSetting::setInstance(nullptr);
    if (!DBHelper::openDefaultConnection(book) || !DBHelper::getInstance()->upgrade())
        return;
    DbSetting::getInstance()->setSyncUsername(QStringLiteral("bench"));
    DbSetting::getInstance()->setSyncPassword(QStringLiteral("bench"));
    DbSetting::getInstance()->save();

    // The first synchronisation: the user id, the default records' new ids, every bill uploaded.
    Floor floor;
    floor.open(floorBook);
    const Timing first = timeStep(
        1, floor, [] {}, [] { synchronise(); });
    const qint64 firstBytes = lastUploadBytes(log);
    floor.close();
    // Bills the first run stamped anew (their references took the account's ids) go once more; the
    // incremental runs start after that.
    synchronise();
    copyOwnerOnly(book, floorBook);
    floor.open(floorBook);

    int offset = 0;
    const Timing incremental = timeStep(
        runs, floor,
        [&] {
            const QString change = QStringLiteral("update tbl_bill set amount=amount+1 where rowid in (select rowid "
                                                  "from tbl_bill order by rowid limit %1 offset %2)")
                                       .arg(changedBills)
                                       .arg(offset);
            offset += changedBills;
            QSqlQuery().exec(change);
            floor.run({ change.toStdString() });
        },
        [] { synchronise(); });
    const qint64 incrementalBytes = lastUploadBytes(log);
    floor.close();

    QSqlDatabase::database().close();
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
    DbSetting::setInstance(nullptr);
    service.stop();

    std::printf("\nSynchronisation with quorvane-service on this machine (request, the service's merge and reply, "
                "the backups before and after); the SQLite column runs the program's own statements.\n\n");
    printTable({ bills },
        { { "sync: first, every bill uploaded (1 run)", { first }, {} }, { "sync: 100 bills changed", { incremental }, {} } });
    std::printf("\n- Upload of the first synchronisation: %.1f MB; of the one after 100 bills changed: %.1f kB.\n",
        double(firstBytes) / 1e6, double(incrementalBytes) / 1e3);
}
