// quorvane-loadtest: many households on one quorvane-service. Devices, each on an account of its own
// with a generated book, make a few changes and synchronise in a loop while one more account uploads a
// large book through quorvane-sync; midway the service is killed with SIGKILL and started again on the
// same store. Prints the requests served, the answer times of the small synchronisations, the errors,
// the service's peak memory, and whether the service still holds every row it acknowledged.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QMutex>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>

#include "benchsupport.h"
#include "serviceprocess.h"
#include "bookgenerator.h"
#include "loaddevice.h"
#include "pgserver.h"

namespace {

struct Settings {
    int devices = 50;
    int bills = 2000;
    int largeBills = 100000;
    int seconds = 60;
    int threads = 4;
    bool kill = true;
};

// A thread whose event loop drives the requests of some of the devices.
struct ClientThread {
    QThread thread;
    QObject* context = nullptr;
};

// What one store's run gave.
struct StoreResult {
    QString store;
    QString failure;
    int devices = 0;
    double seconds = 0;
    int syncsOk = 0;
    int errorsOutside = 0;
    int errorsAroundKill = 0;
    double p50 = 0;
    double p99 = 0;
    double p99Beside = 0;
    int besideCount = 0;
    double maxMs = 0;
    int changes = 0;
    bool largeOk = false;
    int largeAttempts = 0;
    double largeMs = 0;
    double largeFromS = 0;
    double largeToS = 0;
    bool killed = false;
    double killAtS = 0;
    double outageMs = 0;
    long peakBeforeKillKb = 0;
    long peakLoadKb = 0;
    long peakAfterKb = 0;
    int finalFailed = 0;
    int rowsCompared = 0;
    int rowsLost = 0;
    int rowsDifferent = 0;
    int rowsExtra = 0;
    int rowsRevived = 0;
    int largeRowsCompared = 0;
    int largeRowsLost = 0;
    QStringList examples;
};

double percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t at = std::min(values.size() - 1, size_t(share * double(values.size())));
    return values[at];
}

// Runs work(device, context, done) for every device in its thread and waits until each called done.
void forEachDevice(std::vector<std::unique_ptr<LoadDevice>>& devices,
    std::vector<std::unique_ptr<ClientThread>>& threads,
    const std::function<void(LoadDevice*, QObject*, const std::function<void()>&)>& work)
{
    QEventLoop loop;
    int remaining = int(devices.size());
    QObject receiver;
    for (size_t i = 0; i < devices.size(); ++i) {
        QObject* context = threads[i % threads.size()]->context;
        LoadDevice* device = devices[i].get();
        QMetaObject::invokeMethod(context, [device, context, work, &receiver, &remaining, &loop] {
            work(device, context, [&receiver, &remaining, &loop] {
                QMetaObject::invokeMethod(&receiver, [&remaining, &loop] {
                    if (--remaining == 0)
                        loop.quit();
                });
            });
        });
    }
    if (remaining > 0)
        loop.exec();
}

// The large account's device: quorvane-sync on a copy of the large book, the whole book uploaded.
class LargeUpload {
public:
    LargeUpload(const QString& folder, const QString& baseUrl)
        : folder(folder)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QUORVANE_BASE_URL"), baseUrl);
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }

    void start(const std::function<qint64()>& clock)
    {
        ++attempts;
        startedMs = clock();
        process.start(QString::fromUtf8(QUORVANE_SYNC_EXECUTABLE),
            { QStringLiteral("--folder"), folder, QStringLiteral("--user"), QStringLiteral("large"),
                QStringLiteral("--password"), QStringLiteral("large-upload"), QStringLiteral("sync.db") });
    }

    QProcess process;
    QString folder;
    int attempts = 0;
    qint64 startedMs = 0;
};

StoreResult runStore(const QString& storeName, const QString& store, const Settings& settings,
    const SyncTables& base, const QString& largeBook, const QString& work)
{
    StoreResult result;
    result.store = storeName;
    result.devices = settings.devices;
    QString error;
    ServiceProcess service(QString::fromUtf8(QUORVANE_SERVICE_EXECUTABLE));
    // Every household here connects from the loopback address, as through a proxy: no limit per address.
    const QStringList serviceArguments = { QStringLiteral("--max-per-address"), QStringLiteral("0") };
    const QString password = QStringLiteral("load 密码+1");
    bool ready = true;
    for (int i = 0; i < settings.devices && ready; ++i)
        ready = service.addUser(store, QStringLiteral("household%1").arg(i + 1, 2, 10, QLatin1Char('0')), password);
    ready = ready && service.addUser(store, QStringLiteral("large"), QStringLiteral("large-upload"))
        && service.start(store, serviceArguments);
    if (!ready) {
        result.failure = service.errorText();
        return result;
    }
    // The peak resident memory of the running service so far (kB).
    const auto servicePeakKb = [&service] {
        return service.isRunning() ? statusKbOf(service.processId(), "VmHWM") : 0;
    };

    QElapsedTimer clock;
    clock.start();
    LoadShared shared;
    shared.baseUrl = service.baseUrl();
    shared.elapsedMs = [&clock] { return clock.elapsed(); };

    std::vector<std::unique_ptr<ClientThread>> threads;
    for (int i = 0; i < std::max(1, settings.threads); ++i) {
        auto thread = std::make_unique<ClientThread>();
        thread->context = new QObject;
        thread->context->moveToThread(&thread->thread);
        thread->thread.start();
        threads.push_back(std::move(thread));
    }
    std::vector<std::unique_ptr<LoadDevice>> devices;
    for (int i = 0; i < settings.devices; ++i)
        devices.push_back(std::make_unique<LoadDevice>(
            &base, QStringLiteral("household%1").arg(i + 1, 2, 10, QLatin1Char('0')), password, &shared));

    const auto finish = [&] {
        for (auto& thread : threads) {
            QMetaObject::invokeMethod(thread->context, [context = thread->context] { delete context; });
            thread->thread.quit();
            thread->thread.wait();
        }
        service.stop();
    };

    // Every device's first synchronisation: the user id, then its whole book.
    std::atomic<int> setUpFailed { 0 };
    QMutex setUpMutex;
    QString setUpError;
    forEachDevice(devices, threads, [&](LoadDevice* device, QObject* context, const std::function<void()>& done) {
        device->setUp(context, [&setUpFailed, &setUpMutex, &setUpError, done](bool ok, const QString& why) {
            if (!ok) {
                QMutexLocker lock(&setUpMutex);
                ++setUpFailed;
                setUpError = why;
            }
            done();
        });
    });
    if (setUpFailed > 0) {
        result.failure = QStringLiteral("%1 devices could not make their first synchronisation: %2")
                             .arg(setUpFailed.load())
                             .arg(setUpError);
        finish();
        return result;
    }
    std::fprintf(
        stderr, "%s: %d devices synchronised their books; the load starts\n", qPrintable(storeName), settings.devices);

    // The large account: a program folder with a copy of the large book.
    const QString largeFolder = work + QStringLiteral("/large-") + storeName;
    QDir().mkpath(largeFolder + QStringLiteral("/data"));
    QFile::copy(largeBook, largeFolder + QStringLiteral("/data/sync.db"));
    LargeUpload large(largeFolder, service.baseUrl());
    qint64 largeEndMs = 0;

    const qint64 loadStart = clock.elapsed();
    qint64 killAt = -1;
    qint64 restartedAt = -1;
    QEventLoop loadLoop;
    QObject receiver;
    int loadRemaining = settings.devices;
    bool loadOver = false;
    qint64 devicesDone = 0;
    QObject::connect(&large.process, &QProcess::finished, &receiver, [&](int code, QProcess::ExitStatus status) {
        if (status == QProcess::NormalExit && code == 0) {
            result.largeOk = true;
            largeEndMs = clock.elapsed();
            result.largeMs = double(largeEndMs - large.startedMs);
            result.largeFromS = double(large.startedMs - loadStart) / 1000.0;
            result.largeToS = double(largeEndMs - loadStart) / 1000.0;
        } else if (large.attempts < 5) {
            // As the program would at its next synchronisation: the upload goes again.
            QTimer::singleShot(1000, &receiver, [&] { large.start(shared.elapsedMs); });
            return;
        }
        if (loadOver && loadRemaining == 0)
            loadLoop.quit();
    });
    QTimer::singleShot(2000, &receiver, [&] { large.start(shared.elapsedMs); });
    if (settings.kill) {
        QTimer::singleShot(settings.seconds * 500, &receiver, [&] {
            result.peakBeforeKillKb = servicePeakKb();
            killAt = clock.elapsed();
            service.kill();
            // On the same port, as a supervisor brings a service back behind its proxy.
            if (!service.start(store, serviceArguments, quint16(QUrl(service.baseUrl()).port())))
                result.failure = QStringLiteral("the service did not start again: ") + service.errorText();
            restartedAt = clock.elapsed();
            result.killed = true;
            std::fprintf(stderr, "%s: service killed at %.1f s, answering again %.0f ms later\n", qPrintable(storeName),
                double(killAt - loadStart) / 1000.0, double(restartedAt - killAt));
        });
    }
    QTimer::singleShot(settings.seconds * 1000, &receiver, [&] { shared.stop = true; });
    for (size_t i = 0; i < devices.size(); ++i) {
        QObject* context = threads[i % threads.size()]->context;
        LoadDevice* device = devices[i].get();
        QMetaObject::invokeMethod(context, [&, device, context] {
            device->runLoad(context, [&] {
                QMetaObject::invokeMethod(&receiver, [&] {
                    if (--loadRemaining == 0) {
                        loadOver = true;
                        devicesDone = clock.elapsed();
                        if (large.process.state() == QProcess::NotRunning)
                            loadLoop.quit();
                    }
                });
            });
        });
    }
    loadLoop.exec();
    // What the service warned of during the load, as it would have shown in its journal.
    const QString warnings = service.takeErrorOutput();
    if (!warnings.isEmpty())
        std::fprintf(stderr, "%s", qPrintable(warnings));
    result.peakLoadKb = servicePeakKb();
    // The devices' time: the large upload may go on after they stopped.
    result.seconds = double(devicesDone - loadStart) / 1000.0;
    result.largeAttempts = large.attempts;
    result.killAtS = killAt < 0 ? 0 : double(killAt - loadStart) / 1000.0;
    result.outageMs = killAt < 0 ? 0 : double(restartedAt - killAt);

    // Answer times of the small synchronisations; errors by whether they met the outage.
    std::vector<double> answered;
    std::vector<double> beside;
    for (const auto& device : devices) {
        result.changes += device->changesMade();
        for (const RequestRecord& request : device->records()) {
            const bool metKill = killAt >= 0 && request.endMs >= killAt && request.startMs <= restartedAt;
            if (!request.ok) {
                (metKill ? result.errorsAroundKill : result.errorsOutside) += 1;
                continue;
            }
            const double ms = double(request.endMs - request.startMs);
            answered.push_back(ms);
            if (result.largeOk && request.startMs >= large.startedMs && request.endMs <= largeEndMs)
                beside.push_back(ms);
        }
    }
    result.syncsOk = int(answered.size());
    result.p50 = percentile(answered, 0.50);
    result.p99 = percentile(answered, 0.99);
    result.maxMs = answered.empty() ? 0 : *std::max_element(answered.begin(), answered.end());
    result.p99Beside = percentile(beside, 0.99);
    result.besideCount = int(beside.size());

    // Each device synchronises once more, then what the service holds is compared with its book.
    std::atomic<int> finalFailed { 0 };
    forEachDevice(devices, threads, [&](LoadDevice* device, QObject* context, const std::function<void()>& done) {
        device->finalSync(context, [&finalFailed, done](bool ok) {
            if (!ok)
                ++finalFailed;
            done();
        });
    });
    result.finalFailed = finalFailed.load();
    QMutex comparisons;
    const auto addComparison = [&](const LoadDevice::Comparison& comparison, bool isLarge) {
        QMutexLocker lock(&comparisons);
        if (!comparison.fetched) {
            result.examples << QStringLiteral("the service's records of an account could not be read");
            ++result.rowsLost;
            return;
        }
        (isLarge ? result.largeRowsCompared : result.rowsCompared) += comparison.rows;
        (isLarge ? result.largeRowsLost : result.rowsLost) += comparison.missing;
        result.rowsDifferent += comparison.different;
        result.rowsExtra += comparison.extra;
        result.rowsRevived += comparison.revived;
        for (const QString& example : comparison.examples) {
            if (result.examples.size() < 10)
                result.examples << example;
        }
    };
    forEachDevice(devices, threads, [&](LoadDevice* device, QObject* context, const std::function<void()>& done) {
        device->compareWithService(context, [&addComparison, done](const LoadDevice::Comparison& comparison) {
            addComparison(comparison, false);
            done();
        });
    });
    if (result.largeOk) {
        // The large book as quorvane-sync left it: everything it uploaded.
        SyncTables largeTables;
        if (readBookTables(largeFolder + QStringLiteral("/data/sync.db"), QLatin1String(neverSynchronised),
                &largeTables, &error)) {
            std::vector<std::unique_ptr<LoadDevice>> largeDevice;
            largeDevice.push_back(std::make_unique<LoadDevice>(
                &largeTables, QStringLiteral("large"), QStringLiteral("large-upload"), &shared));
            forEachDevice(
                largeDevice, threads, [&](LoadDevice* device, QObject* context, const std::function<void()>& done) {
                    device->compareWithService(
                        context, [&addComparison, done](const LoadDevice::Comparison& comparison) {
                            addComparison(comparison, true);
                            done();
                        });
                });
        } else {
            result.examples << QStringLiteral("the large book could not be read: ") + error;
        }
    }
    result.peakAfterKb = servicePeakKb();
    finish();
    return result;
}

QString mibText(long kb)
{
    return kb <= 0 ? QStringLiteral("-") : QString::number(double(kb) / 1024.0, 'f', 1);
}

void printResults(const Settings& settings, const std::vector<StoreResult>& results, const QString& loadBefore,
    const QString& loadAfter)
{
    std::printf("\nLoad: %d devices on %d accounts, each with a %d-bill book, synchronising a few changes in a loop "
                "for %d s while one more account uploads %d bills (quorvane-sync); %s. Load average (1, 5, 15 min) "
                "%s at the start, %s at the end; %d processors.\n\n",
        settings.devices, settings.devices, settings.bills, settings.seconds, settings.largeBills,
        settings.kill ? "the service killed (SIGKILL) midway and started again on the same store" : "no kill",
        qPrintable(loadBefore), qPrintable(loadAfter), QThread::idealThreadCount());
    std::string header = "| load |";
    std::string rule = "|---|";
    for (const StoreResult& result : results) {
        header += " " + result.store.toStdString() + " |";
        rule += "---:|";
    }
    std::printf("%s\n%s\n", header.c_str(), rule.c_str());
    const auto row = [&](const char* name, const std::function<QString(const StoreResult&)>& figure) {
        std::string line = std::string("| ") + name + " |";
        for (const StoreResult& result : results)
            line += " " + (result.failure.isEmpty() ? figure(result) : QStringLiteral("failed")).toStdString() + " |";
        std::printf("%s\n", line.c_str());
    };
    row("small syncs answered", [](const StoreResult& r) { return QString::number(r.syncsOk); });
    row("small syncs per second", [](const StoreResult& r) { return QString::number(r.syncsOk / r.seconds, 'f', 1); });
    row("small syncs: p50 answer time (ms)", [](const StoreResult& r) { return QString::number(r.p50, 'f', 1); });
    row("small syncs: p99 answer time (ms)", [](const StoreResult& r) { return QString::number(r.p99, 'f', 1); });
    row("small syncs: p99 while the large upload ran (ms)", [](const StoreResult& r) {
        return r.besideCount == 0 ? QStringLiteral("-")
                                  : QStringLiteral("%1 (%2 syncs)").arg(r.p99Beside, 0, 'f', 1).arg(r.besideCount);
    });
    row("small syncs: slowest (ms)", [](const StoreResult& r) { return QString::number(r.maxMs, 'f', 1); });
    row("errors outside the kill", [](const StoreResult& r) { return QString::number(r.errorsOutside); });
    row("errors around the kill", [](const StoreResult& r) { return QString::number(r.errorsAroundKill); });
    row("service down after the kill until answering (ms)",
        [](const StoreResult& r) { return r.killed ? QString::number(r.outageMs, 'f', 0) : QStringLiteral("-"); });
    row("large upload: time of the run that succeeded (ms)", [](const StoreResult& r) {
        return r.largeOk ? QStringLiteral("%1 (attempt %2)").arg(r.largeMs, 0, 'f', 0).arg(r.largeAttempts)
                         : QStringLiteral("failed");
    });
    row("service peak memory, first process (VmHWM, MiB)",
        [](const StoreResult& r) { return mibText(r.peakBeforeKillKb); });
    row("service peak memory, restarted, at the end of the load (VmHWM, MiB)",
        [](const StoreResult& r) { return mibText(r.peakLoadKb); });
    row("service peak memory, restarted, after every account was read whole (VmHWM, MiB)",
        [](const StoreResult& r) { return mibText(r.peakAfterKb); });
    row("rows compared after the load (devices / large book)",
        [](const StoreResult& r) { return QStringLiteral("%1 / %2").arg(r.rowsCompared).arg(r.largeRowsCompared); });
    row("acknowledged rows lost", [](const StoreResult& r) { return QString::number(r.rowsLost + r.largeRowsLost); });
    row("rows different, revived or unknown",
        [](const StoreResult& r) { return QString::number(r.rowsDifferent + r.rowsRevived + r.rowsExtra); });
    row("devices whose last sync failed", [](const StoreResult& r) { return QString::number(r.finalFailed); });
    std::printf("\n");
    for (const StoreResult& result : results) {
        if (!result.failure.isEmpty())
            std::printf("- %s: %s\n", qPrintable(result.store), qPrintable(result.failure));
        else
            std::printf("- %s: %d changes of bills in %.1f s; the kill at %.1f s; the large upload that succeeded "
                        "ran from %.1f s to %.1f s.\n",
                qPrintable(result.store), result.changes, result.seconds, result.killAtS, result.largeFromS,
                result.largeToS);
        for (const QString& example : result.examples)
            std::printf("  - %s\n", qPrintable(example));
    }
}


} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Many households on one quorvane-service: devices synchronising in a loop beside a large upload, "
        "a kill of the service midway, and a check that it lost no acknowledged row."));
    parser.addHelpOption();
    const QCommandLineOption storesOption(QStringLiteral("stores"),
        QStringLiteral("Comma-separated stores to run on: sqlite (a file), postgresql (a server of its own started "
                       "for the run)."),
        QStringLiteral("list"), QStringLiteral("sqlite,postgresql"));
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
        QStringLiteral("Length of the load (default 60; 10 for a quick run)."), QStringLiteral("s"),
        QStringLiteral("60"));
    const QCommandLineOption devicesOption(QStringLiteral("devices"),
        QStringLiteral("Devices, each on an account of its own (default 50)."), QStringLiteral("n"),
        QStringLiteral("50"));
    const QCommandLineOption billsOption(QStringLiteral("bills"),
        QStringLiteral("Bills of each device's book (default 2000)."), QStringLiteral("n"), QStringLiteral("2000"));
    const QCommandLineOption largeOption(QStringLiteral("large-bills"),
        QStringLiteral("Bills of the large upload (default 100000)."), QStringLiteral("n"), QStringLiteral("100000"));
    const QCommandLineOption threadsOption(QStringLiteral("client-threads"),
        QStringLiteral("Threads that drive the devices' requests (default 4)."), QStringLiteral("n"),
        QStringLiteral("4"));
    const QCommandLineOption noKillOption(QStringLiteral("no-kill"), QStringLiteral("Do not kill the service midway."));
    parser.addOptions(
        { storesOption, secondsOption, devicesOption, billsOption, largeOption, threadsOption, noKillOption });
    parser.process(app);

    Settings settings;
    settings.seconds = std::max(4, parser.value(secondsOption).toInt());
    settings.devices = std::max(1, parser.value(devicesOption).toInt());
    settings.bills = std::max(10, parser.value(billsOption).toInt());
    settings.largeBills = std::max(10, parser.value(largeOption).toInt());
    settings.threads = std::max(1, parser.value(threadsOption).toInt());
    settings.kill = !parser.isSet(noKillOption);

    QTemporaryDir work;
    QString error;
    const QString baseBook = work.filePath(QStringLiteral("household.db"));
    const QString largeBook = work.filePath(QStringLiteral("large.db"));
    BookGenerator::Options small;
    small.bills = settings.bills;
    BookGenerator::Options large;
    large.bills = settings.largeBills;
    large.seed = 20240602;
    SyncTables base;
    if (!BookGenerator::generate(baseBook, small, &error) || !BookGenerator::generate(largeBook, large, &error)
        || !readBookTables(baseBook, QLatin1String(neverSynchronised), &base, &error)) {
        std::fprintf(stderr, "quorvane-loadtest: cannot make the books: %s\n", qPrintable(error));
        return 1;
    }

    const QString loadBefore = loadAverage();
    std::vector<StoreResult> results;
    for (const QString& store : parser.value(storesOption).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        QString location;
        // A database server of the run's own, on this machine, reached over TCP as a shared one would be.
        std::unique_ptr<PgServer> server;
        if (store == QLatin1String("sqlite")) {
            location = work.filePath(QStringLiteral("service.db"));
        } else if (store == QLatin1String("postgresql")) {
            server = std::make_unique<PgServer>();
            if (!server->start()) {
                StoreResult failed;
                failed.store = store;
                failed.failure = QStringLiteral("the PostgreSQL server did not start: ") + server->errorText();
                results.push_back(failed);
                continue;
            }
            location = server->url();
        } else {
            std::fprintf(stderr, "quorvane-loadtest: unknown store %s\n", qPrintable(store));
            return 2;
        }
        results.push_back(runStore(store, location, settings, base, largeBook, work.path()));
    }
    printResults(settings, results, loadBefore, loadAverage());
    // A lost or altered row, a device that could not synchronise at the end, the large upload that never
    // went through or an error away from the kill is a fault of the service.
    for (const StoreResult& result : results) {
        if (!result.failure.isEmpty() || !result.largeOk
            || result.rowsLost + result.largeRowsLost + result.rowsDifferent + result.rowsRevived + result.rowsExtra
                    + result.finalFailed + result.errorsOutside
                > 0)
            return 1;
    }
    return 0;
}
