#include "benchsync.h"

#include <QDate>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <string>
#include <spawn.h>
#include <unistd.h>
#include <sys/wait.h>

#include "benchsupport.h"
#include "bookgenerator.h"
#include "data/constants.h"
#include "data/dbhelper.h"
#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "data/mbill.h"
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

// One run of quorvane-sync: its wall time, its peak resident memory and whether it succeeded.
struct ClientRun {
    double ms = 0;
    long peakKb = 0;
    bool ok = false;
};

// Runs quorvane-sync on BOOK in a program folder of its own (FOLDER/data/BOOK) and waits for it;
// the peak is its VmHWM, read every 5 ms until it ends (the kernel's own account at its end would
// also count this process's memory, which the child shares until it executes the program).
ClientRun runClient(const QString& folder, const QStringList& extra)
{
    QStringList arguments = { QString::fromUtf8(QUORVANE_SYNC_EXECUTABLE), QStringLiteral("--folder"), folder,
        QStringLiteral("sync.db") };
    arguments.append(extra);
    std::vector<QByteArray> bytes;
    for (const QString& argument : arguments)
        bytes.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& argument : bytes)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    ClientRun result;
    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return result;
    int status = 0;
    for (;;) {
        const long peak = statusKbOf(pid, "VmHWM");
        const pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended == pid)
            break;
        if (ended < 0)
            return result;
        result.peakKb = std::max(result.peakKb, peak);
        usleep(5000);
    }
    result.ms = double(timer.nsecsElapsed()) / 1e6;
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return result;
}

// A program folder for quorvane-sync holding a copy of book (or none, for a new device).
QString clientFolder(const QString& root, const QString& name, const QString& book)
{
    const QString folder = root + QLatin1Char('/') + name;
    QDir().mkpath(folder + QStringLiteral("/data"));
    if (!book.isEmpty())
        copyOwnerOnly(book, folder + QStringLiteral("/data/sync.db"));
    return folder;
}

double mib(long kb)
{
    return double(kb) / 1024.0;
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
    if (!copyOwnerOnly(generated, book)
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
    // The floor's copy as the program opened it: with what the upgrade made (the record of pending
    // changes), which the first run's statements use.
    if (!copyOwnerOnly(book, floorBook)) {
        std::fprintf(stderr, "cannot copy %s\n", qPrintable(book));
        return;
    }

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

    // A bill written through the program's class with the record of pending changes (a trigger on
    // the bills appends to it), and as before that record, its triggers set aside (in the floor's
    // copy too): what the record costs each write.
    const auto addBill = [] {
        MBill bill;
        bill.setKind(QStringLiteral("expense"));
        bill.setAmount(-12.5);
        bill.setDescription(QStringLiteral("基准"));
        bill.setDate(QDate::currentDate());
        bill.setMonth(QDate::currentDate().year() * 100 + QDate::currentDate().month());
        bill.setTitle(QStringLiteral("午饭"));
        MBill::insert(&bill);
    };
    const int writes = std::max(runs * 4, 21);
    const Timing billWritten = timeStep(
        writes, floor, [] {}, addBill);
    bool setAside = false;
    const Timing billWrittenBefore = timeStep(
        writes, floor,
        [&setAside] {
            if (setAside)
                return;
            for (const char* event : { "insert", "update", "delete" })
                QSqlQuery().exec(QStringLiteral("drop trigger bill_pending_%1").arg(QLatin1String(event)));
            setAside = true;
        },
        addBill);
    DBHelper::ensurePendingChanges(QSqlDatabase::database());
    floor.close();

    QSqlDatabase::database().close();
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
    DbSetting::setInstance(nullptr);

    // The engine on the command line (quorvane-sync, a process of its own for each run, backups
    // included): the first synchronisation of the book on an account of its own, a new device that
    // receives all of it, and a new device whose reply is larger than the client takes.
    service.addUser(serviceData, QStringLiteral("client"), QStringLiteral("client"));
    const QStringList account = { QStringLiteral("--user"), QStringLiteral("client"), QStringLiteral("--password"),
        QStringLiteral("client") };
    const ClientRun upload = runClient(clientFolder(root.path(), QStringLiteral("upload"), generated), account);
    const qint64 clientUploadBytes = lastUploadBytes(log);
    const ClientRun receive = runClient(clientFolder(root.path(), QStringLiteral("receive"), QString()),
        account + QStringList { QStringLiteral("--create") });
    // A cap far below the account's reply (about the size of its upload), 8 MiB for the large books.
    const qint64 replyCap = std::clamp<qint64>(clientUploadBytes / 4, 64 * 1024, 8 * 1024 * 1024);
    const ClientRun capped = runClient(clientFolder(root.path(), QStringLiteral("capped"), QString()),
        account
            + QStringList {
                QStringLiteral("--create"), QStringLiteral("--max-reply-bytes"), QString::number(replyCap) });

    // A larger account: a new device receiving some 350,000 rows.
    BookGenerator::Options large;
    large.bills = 350000;
    QString error;
    const QString largeBook = root.filePath(QStringLiteral("large.db"));
    ClientRun largeReceive;
    if (BookGenerator::generate(largeBook, large, &error)) {
        service.addUser(serviceData, QStringLiteral("large"), QStringLiteral("large"));
        const QStringList largeAccount = { QStringLiteral("--user"), QStringLiteral("large"),
            QStringLiteral("--password"), QStringLiteral("large") };
        if (runClient(clientFolder(root.path(), QStringLiteral("large-upload"), largeBook), largeAccount).ok)
            largeReceive = runClient(clientFolder(root.path(), QStringLiteral("large-receive"), QString()),
                largeAccount + QStringList { QStringLiteral("--create") });
    } else {
        std::fprintf(stderr, "cannot generate the large book: %s\n", qPrintable(error));
    }
    service.stop();

    std::printf("\nSynchronisation with quorvane-service on this machine (request, the service's merge and reply, "
                "the backups before and after); the SQLite column runs the program's own statements.\n\n");
    printTable({ bills },
        { { "sync: first, every bill uploaded (1 run)", { first }, {} },
            { "sync: 100 bills changed", { incremental }, {} },
            { "bill written, its change recorded as pending", { billWritten }, {} },
            { "bill written, without that record (as before)", { billWrittenBefore }, {} } });
    std::printf("\n- Upload of the first synchronisation: %.1f MB; of the one after 100 bills changed: %.1f kB.\n",
        double(firstBytes) / 1e6, double(incrementalBytes) / 1e3);

    const auto clientRows = [&](const std::string& name, const ClientRun& run) {
        const std::string text = "quorvane-sync: " + name + (run.ok ? "" : " (failed)");
        return std::vector<TableRow> { { text + ", time", { Timing { run.ms, 0, false } }, "ms" },
            { text + ", peak resident memory", { Timing { mib(run.peakKb), 0, false } }, "MiB" } };
    };
    std::vector<TableRow> client = clientRows("first sync, every bill uploaded", upload);
    for (const TableRow& row : clientRows("a new device receives every bill", receive))
        client.push_back(row);
    const std::string capText = replyCap % (1024 * 1024) == 0
        ? std::to_string(replyCap / (1024 * 1024)) + " MiB"
        : std::to_string(replyCap / 1024) + " KiB";
    for (const TableRow& row : clientRows("a new device, reply over a cap of " + capText + " (fails)", capped))
        client.push_back(row);
    for (const TableRow& row : clientRows("a new device receives 350,000 bills", largeReceive))
        client.push_back(row);
    std::printf("\nThe synchronisation engine on the command line (a process of its own per run, backups included; "
                "peak from the VmHWM of the process, read every 5 ms):\n\n");
    printTable({ bills }, client);
    std::printf("\n- Upload of quorvane-sync's first synchronisation: %.1f MB. The run over the cap %s.\n",
        double(clientUploadBytes) / 1e6, capped.ok ? "succeeded (it should not have)" : "ended with an error");
}
