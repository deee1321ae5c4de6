// Convergence: three devices of one account edit the same few records at random (inserts, changes,
// deletions, records deleted on one device while another still uses them) and synchronise through a
// real quorvane-service, often at the same moment, while a second account loads the service with
// large uploads that the devices' requests queue behind. On purpose, some edits of one record fall
// within one second on two devices, and on one device around its own synchronisation (a change or a
// deletion in the second of the version it just uploaded). Device A's clock is set back 90 s, later
// forward an hour (its changes then count as made when the service gets them: it keeps no version
// ahead of its own clock) and back again, each time between two of its runs, and the service is stopped and
// started again in the middle of a round. Then every device synchronises until two passes in a row
// change nothing, and:
// - every device holds the same live records with the same versions, and so does the service; no
//   record the service holds deleted is live anywhere, and every device's tombstones are deletions
//   the service holds;
// - no bill names a record that is gone (a transfer's target account included);
// - no acknowledged edit is lost: every record that a completed run uploaded is at the end as that
//   run sent it, or has a later version.
//
// On a PostgreSQL store (QUORVANE_TEST_STORE=postgresql) a second service process shares the
// database with the first, as services behind one load balancer do: every run and every large upload
// goes to one of the two at random, and in one round, while all devices' runs and a large upload are
// under way on the second, it is killed (SIGKILL) and started again. The same checks hold.
//
// Everything runs on the real clock. Device A is a book driven through the program's classes in this
// process, whose version stamps and synchronisation times read a clock of the test's
// (tests/reliability/sqliteclock.h), stepped as a clock set by hand is; devices B and C are
// quorvane-sync processes on the system's clock (their edits are made from here, stamped with it).
// The checks are exact: the machine's load changes the order in which requests reach the service,
// never what must hold at the end.
//
// QUORVANE_CONVERGENCE_ROUNDS (default 160), QUORVANE_CONVERGENCE_SEED (default 20261211) and
// QUORVANE_CONVERGENCE_LOAD (rows of each large upload, default 40000) choose the run.
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <memory>

#include "data/dbhelper.h"
#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "data/sqlhelper.h"
#include "engine/httphelper.h"
#include "engine/synchelper.h"
#include "randomwrites.h"
#include "reliabilitykit.h"
#include "servicefixture.h"
#include "sqliteclock.h"
#include "syncrecords.h"
#include "testenv.h"

namespace {

using ReliabilityKit::setting;
using SyncRecords::key;
using SyncRecords::Record;
using SyncRecords::tableOf;

const QString account = QStringLiteral("alice");
const QString accountPassword = QStringLiteral("alice pw");
const QString loadAccount = QStringLiteral("bob");
const QString loadPassword = QStringLiteral("bob pw");

QDateTime versionTime(const QString& version)
{
    QDateTime time = QDateTime::fromString(version.left(19), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    time.setTimeSpec(Qt::UTC);
    return time;
}

struct Device {
    QString name;
    QString folder; // the program folder of a quorvane-sync device
    QString book;
    bool inProcess = false;
    qint64 clockMs = 0; // how far its clock is off the system's
    int runs = 0;
    int failedRuns = 0;
};

// A record as a completed run uploaded it.
struct Upload {
    QString device;
    int run = 0;
    Record record;
};

// One synchronisation under way.
struct Run {
    Device* device = nullptr;
    QProcess* process = nullptr;
    QObject* watcher = nullptr;
    QMap<QString, Record> before;
    QMap<QString, Record> upload;
    bool ended = false;
    bool completed = false;
    QString outcome;
    QDateTime started; // on the system's clock, the service's
};

} // namespace

class TestSyncConvergence : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void devicesConverge();

private:
    void use(Device& device);
    void edit(Device& device, RandomWrites& writes, int round);
    // Device B changes a record that C holds as well, and C changes it in the same second.
    void editInOneSecond(Device& first, Device& second, int round);
    // Device A changes a record, synchronises, and changes or deletes it again within the second
    // of the version it uploaded, then synchronises again.
    void editAroundOwnRun(Device& device, bool deleteIt, int round);
    // Runs the devices' synchronisations at once; with load, behind a large upload of the second
    // account; with restart, the service stops in the middle and starts again; with killSecond, the
    // second service takes everything and is killed in the middle and started again.
    void runTogether(const QList<Device*>& devices, bool load = false, bool restart = false, bool killSecond = false);
    // The address of the service a request goes to: with a second service, either one at random.
    QString pickService();
    void startRun(Run& run);
    void finishRun(Run& run);
    void startLoad(QEventLoop& loop, int* pending);
    QString note(const QString& text) const;

    ServiceFixture service;
    // On PostgreSQL, a second service process on the same database.
    std::unique_ptr<ServiceProcess> second;
    QRandomGenerator routes;
    bool allToSecond = false;
    int runsOnFirst = 0;
    int runsOnSecond = 0;
    int kills = 0;
    std::unique_ptr<TestEnv> env;
    QTemporaryDir folders;
    Device devices[3];
    QString current;
    QNetworkAccessManager network;
    QString loadSyncTime = QStringLiteral("2008-08-08 08:08:08");
    int loadRows = 40000;
    int loads = 0;
    int loadsAnswered = 0;
    int round = 0;

    QHash<QString, QList<Upload>> acknowledged;
    QHash<QString, QStringList> trail;
    QMap<QString, int> editCounts;
    int runsTotal = 0;
    int runsFailed = 0;
    int runsTogether = 0;
    int runsBehindLoad = 0;
    qint64 slowestBehindLoadMs = 0;
    int oneSecondPairs = 0;
    int aroundOwnRun = 0;
    int clockSteps = 0;
    int restarts = 0;
};

void TestSyncConvergence::initTestCase()
{
    QVERIFY(SqliteClock::install());
    SqliteClock::setOffset(0);
}

QString TestSyncConvergence::pickService()
{
    if (second && second->isRunning() && (allToSecond || routes.bounded(2) == 1))
        return second->baseUrl();
    return service.baseUrl();
}

QString TestSyncConvergence::note(const QString& text) const
{
    return QStringLiteral("round %1: %2").arg(round).arg(text);
}

void TestSyncConvergence::use(Device& device)
{
    if (current != device.book) {
        QVERIFY(TestBook::openDefault(device.book));
        current = device.book;
    }
    SqliteClock::setOffset(device.clockMs);
}

void TestSyncConvergence::edit(Device& device, RandomWrites& writes, int editRound)
{
    use(device);
    const SyncRecords::Edit made = SyncRecords::randomEdit(writes);
    QVERIFY2(made.outcome != RandomWrites::Outcome::Failed,
        qPrintable(QStringLiteral("%1 %2 failed on %3").arg(made.op, made.table, device.name)));
    if (made.outcome == RandomWrites::Outcome::Skipped)
        return;
    ++editCounts[made.table + QLatin1Char(' ') + made.op];
    trail[key(made.table, made.id)] << QStringLiteral("round %1: %2 %3").arg(editRound).arg(device.name, made.op);
}

void TestSyncConvergence::editInOneSecond(Device& first, Device& second, int editRound)
{
    // A record both hold alike.
    const QMap<QString, Record> one = SyncRecords::read(first.book);
    const QMap<QString, Record> other = SyncRecords::read(second.book);
    QStringList shared;
    for (auto it = one.constBegin(); it != one.constEnd(); ++it) {
        if (other.value(it.key()) == *it && it->version != SyncRecords::defaultVersion())
            shared << it.key();
    }
    if (shared.isEmpty())
        return;
    const QString recordKey = shared.at(editRound % shared.size());
    const QString change = QStringLiteral("update tbl_%1 set description=? where id=?").arg(tableOf(recordKey));
    const QString id = recordKey.section(QLatin1Char('/'), 1);

    use(first);
    QVERIFY(
        execWrite(QSqlDatabase::database(), change, { QStringLiteral("%1 %2").arg(first.name).arg(editRound), id }));
    const QString version = SyncRecords::read(QSqlDatabase::database()).value(recordKey).version;
    // The second device's change in the very same second: its clock is set back to the start of it.
    use(second);
    SqliteClock::setOffset(QDateTime::currentDateTimeUtc().msecsTo(versionTime(version).addMSecs(1)));
    QVERIFY(
        execWrite(QSqlDatabase::database(), change, { QStringLiteral("%1 %2").arg(second.name).arg(editRound), id }));
    // Only a machine that stops this process for a whole second makes it a change of the next one.
    const QString secondVersion = SyncRecords::read(QSqlDatabase::database()).value(recordKey).version;
    SqliteClock::setOffset(second.clockMs);
    TestBook::resetRecordCaches();
    oneSecondPairs += secondVersion == version ? 1 : 0;
    trail[recordKey] << QStringLiteral("round %1: %2 changed it at %3, %4 at %5")
                            .arg(editRound)
                            .arg(first.name, version, second.name, secondVersion);
}

void TestSyncConvergence::editAroundOwnRun(Device& device, bool deleteIt, int editRound)
{
    use(device);
    const QStringList bills = RandomWrites::liveIds(QStringLiteral("bill"));
    if (bills.isEmpty())
        return;
    const QString id = bills.at(editRound % bills.size());
    const QString recordKey = key(QStringLiteral("bill"), id);
    QVERIFY(execWrite(QSqlDatabase::database(), QStringLiteral("update tbl_bill set description=? where id=?"),
        { QStringLiteral("%1 %2 first").arg(device.name).arg(editRound), id }));
    const QString version = SyncRecords::read(QSqlDatabase::database()).value(recordKey).version;
    // The device's clock is held in that second (set back to its start) for the run's start and the
    // change after it: a fast machine does all this within the second anyway, a busy one needs it.
    const qint64 ownClock = device.clockMs;
    const auto holdInSecond = [&] {
        device.clockMs = QDateTime::currentDateTimeUtc().msecsTo(versionTime(version).addMSecs(1));
        SqliteClock::setOffset(device.clockMs);
    };
    const auto release = [&](const QString& what) {
        device.clockMs = ownClock;
        SqliteClock::setOffset(ownClock);
        trail[recordKey]
            << QStringLiteral("round %1: %2 changed it at %3, %4").arg(editRound).arg(device.name, version, what);
    };
    holdInSecond();
    runTogether({ &device });
    use(device);
    // Only a machine that stops this process for a whole second starts the run in a later one.
    const QString started
        = sqlValue(QSqlDatabase::database(), QStringLiteral("select sync_time from tbl_setting"), {}, QString())
              .toString()
              .left(19);
    if (QTest::currentTestFailed() || started != version)
        return release(QStringLiteral("ran at ") + started);
    holdInSecond();
    if (deleteIt) {
        QVERIFY(deleteWithTombstone(QStringLiteral("tbl_bill"), id));
    } else {
        QVERIFY(execWrite(QSqlDatabase::database(), QStringLiteral("update tbl_bill set description=? where id=?"),
            { QStringLiteral("%1 %2 again").arg(device.name).arg(editRound), id }));
    }
    const QString again = SyncRecords::read(QSqlDatabase::database(), version).value(recordKey).version;
    TestBook::resetRecordCaches();
    holdInSecond();
    runTogether({ &device });
    aroundOwnRun += again == version ? 1 : 0;
    release(QStringLiteral("ran, %1 it at %2")
                .arg(deleteIt ? QStringLiteral("deleted") : QStringLiteral("changed"), again));
}

void TestSyncConvergence::startRun(Run& run)
{
    Device& device = *run.device;
    run.started = QDateTime::currentDateTimeUtc();
    // What the run will upload: every row and deletion from its last run's start on.
    if (device.inProcess) {
        use(device);
        const QString since
            = sqlValue(QSqlDatabase::database(), QStringLiteral("select sync_time from tbl_setting"), {}, QString())
                  .toString()
                  .left(19);
        run.before = SyncRecords::read(QSqlDatabase::database());
        run.upload = SyncRecords::read(QSqlDatabase::database(), since);
        SyncHelper* sync = SyncHelper::getInstance();
        run.watcher = new QObject(this);
        const auto end = [&run](bool completed, const QString& outcome) {
            run.completed = completed;
            run.outcome = outcome;
            run.ended = true;
            run.watcher->deleteLater();
            run.watcher = nullptr;
        };
        connect(sync, &SyncHelper::syncFinished, run.watcher, [end] { end(true, QStringLiteral("synchronised")); });
        connect(sync, &SyncHelper::syncError, run.watcher, [end](int code, const QString& message) {
            end(false, QStringLiteral("error %1 %2").arg(code).arg(message));
        });
        const QString url = pickService();
        (url == service.baseUrl() ? runsOnFirst : runsOnSecond)++;
        qputenv("QUORVANE_BASE_URL", url.toUtf8());
        if (!sync->sync())
            end(false, QStringLiteral("refused: a run under way"));
        return;
    }
    run.before = SyncRecords::read(device.book);
    run.upload = SyncRecords::read(device.book, SyncRecords::syncTime(device.book));
    auto* process = new QProcess(this);
    run.process = process;
    connect(process, &QProcess::finished, this, [&run, process](int code, QProcess::ExitStatus status) {
        run.completed = status == QProcess::NormalExit && code == 0;
        run.outcome = run.completed ? QStringLiteral("synchronised")
                                    : QString::fromUtf8(process->readAllStandardError()).trimmed();
        run.ended = true;
        run.process = nullptr;
        process->deleteLater();
    });
    const QString url = pickService();
    (url == service.baseUrl() ? runsOnFirst : runsOnSecond)++;
    process->start(QStringLiteral(QUORVANE_SYNC_EXECUTABLE),
        { QStringLiteral("--folder"), device.folder, QStringLiteral("--base-url"), url, QFileInfo(device.book).fileName() });
}

void TestSyncConvergence::finishRun(Run& run)
{
    Device& device = *run.device;
    ++device.runs;
    ++runsTotal;
    if (!run.completed) {
        ++device.failedRuns;
        ++runsFailed;
        return;
    }
    // Everything the run sent is acknowledged now. A version further ahead of the service's clock than
    // it takes (device A's hour ahead) is stored with the service's time, which is no earlier than the
    // run's start: the change counts as made then.
    for (auto it = run.upload.constBegin(); it != run.upload.constEnd(); ++it) {
        Record sent = *it;
        if (versionTime(sent.version) > run.started.addSecs(SyncHelper::clockTolerance))
            sent.version = run.started.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        acknowledged[it.key()].append({ device.name, runsTotal, sent });
    }
    const QMap<QString, Record> after
        = device.inProcess ? SyncRecords::read(QSqlDatabase::database()) : SyncRecords::read(device.book);
    for (auto it = after.constBegin(); it != after.constEnd(); ++it) {
        if (run.before.value(it.key()) != *it)
            trail[it.key()] << note(
                QStringLiteral("%1's run %2 took %3").arg(device.name).arg(runsTotal).arg(it->version));
    }
    for (auto it = run.before.constBegin(); it != run.before.constEnd(); ++it) {
        if (!after.contains(it.key()))
            trail[it.key()] << note(QStringLiteral("%1's run %2 removed it").arg(device.name).arg(runsTotal));
    }
    for (auto it = run.upload.constBegin(); it != run.upload.constEnd(); ++it) {
        trail[it.key()] << note(QStringLiteral("%1's run %2 sent %3%4")
                                    .arg(device.name)
                                    .arg(runsTotal)
                                    .arg(it->version, it->deleted ? QStringLiteral(" deleted") : QString()));
    }
}

void TestSyncConvergence::startLoad(QEventLoop& loop, int* pending)
{
    // The second account rewrites many records at once: the service works on it for a while, and
    // every request that arrives meanwhile waits.
    ++loads;
    const QString version
        = QDateTime::currentDateTimeUtc().addSecs(loads).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    QByteArray rows;
    rows.reserve(loadRows * 64);
    for (int i = 0; i < loadRows; ++i) {
        if (i)
            rows += ',';
        rows += QStringLiteral("[\"bob-%1\",\"成员 %1 之 %2\",\"\",\"%1\",\"%3\"]")
                    .arg(i)
                    .arg(loads)
                    .arg(version)
                    .toUtf8();
    }
    const QByteArray data = R"([{"delete_columns":["id","version"],"delete_data":[],"table_name":"member",)"
                            R"("update_columns":["id","name","description","sort","version"],"update_data":[)"
        + rows + "]}]";
    const QString start = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    QNetworkRequest request(QUrl(pickService() + QStringLiteral("sync/syncpc2.php")));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/x-www-form-urlencoded"));
    request.setTransferTimeout(120000);
    QNetworkReply* reply = network.post(request,
        HttpHelper::encodeForm(
            { { QStringLiteral("version"), QStringLiteral("38") }, { QStringLiteral("username"), loadAccount },
                { QStringLiteral("password"), loadPassword }, { QStringLiteral("sync_time"), loadSyncTime },
                { QStringLiteral("client_time"), start }, { QStringLiteral("data"), QString::fromUtf8(data) } }));
    ++*pending;
    connect(reply, &QNetworkReply::finished, &loop, [this, reply, start, pending] {
        if (reply->error() == QNetworkReply::NoError && QJsonDocument::fromJson(reply->readAll()).isArray()) {
            loadSyncTime = start;
            ++loadsAnswered;
        }
        reply->deleteLater();
        --*pending;
    });
}

void TestSyncConvergence::runTogether(const QList<Device*>& chosen, bool load, bool restart, bool killSecond)
{
    std::vector<std::unique_ptr<Run>> runs;
    for (Device* device : chosen) {
        runs.push_back(std::make_unique<Run>());
        runs.back()->device = device;
    }
    QEventLoop loop;
    int pending = 0;
    QElapsedTimer started;
    bool loadPending = false;
    const auto startAll = [&] {
        started.start();
        for (auto& run : runs) {
            startRun(*run);
            if (QTest::currentTestFailed())
                return;
        }
        if (runs.size() > 1)
            runsTogether += int(runs.size());
        if (loadPending)
            runsBehindLoad += int(runs.size());
    };
    const auto allEnded
        = [&] { return std::all_of(runs.cbegin(), runs.cend(), [](const auto& run) { return run->ended; }); };
    QTimer poll;
    poll.setInterval(5);
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if ((pending == 0 && allEnded()) || QTest::currentTestFailed())
            loop.quit();
    });
    bool restarted = !restart;
    bool secondRestarted = !killSecond;
    allToSecond = killSecond;
    if (load) {
        startLoad(loop, &pending);
        loadPending = true;
        // The large upload first, then the devices' requests right behind it.
        QTimer::singleShot(100, &loop, startAll);
    } else {
        startAll();
    }
    if (restart) {
        ++pending;
        QTimer::singleShot(300, &loop, [&] {
            service.stop();
            restarted = service.start();
            service.useFromProgram();
            ++restarts;
            --pending;
        });
    }
    if (killSecond) {
        ++pending;
        QTimer::singleShot(300, &loop, [&] {
            second->kill();
            secondRestarted = second->start(service.storeLocation());
            ++kills;
            allToSecond = false;
            --pending;
        });
    }
    QTimer::singleShot(180000, &loop, [&] {
        qWarning("round %d: the runs did not end within three minutes", round);
        loop.quit();
    });
    poll.start();
    loop.exec();
    // Whatever has not ended must not reach this round's runs once they are gone.
    for (auto& run : runs) {
        if (run->process) {
            run->process->disconnect(this);
            run->process->kill();
            run->process->waitForFinished();
            delete run->process;
        }
        delete run->watcher;
    }
    if (QTest::currentTestFailed())
        return;
    QVERIFY2(restarted, qPrintable(service.errorText()));
    QVERIFY2(secondRestarted, qPrintable(second ? second->errorText() : QString()));
    QVERIFY2(allEnded(), "a synchronisation did not end");
    const qint64 took = started.elapsed();
    if (loadPending)
        slowestBehindLoadMs = qMax(slowestBehindLoadMs, took);
    for (auto& run : runs) {
        if (run->device->inProcess)
            use(*run->device);
        finishRun(*run);
        // Only the restart or the kill may fail a run: everything else must reach the service and back.
        QVERIFY2(run->completed || restart || killSecond,
            qPrintable(QStringLiteral("%1's run failed: %2").arg(run->device->name, run->outcome)));
    }
}

void TestSyncConvergence::devicesConverge()
{
    const int rounds = setting("QUORVANE_CONVERGENCE_ROUNDS", 160);
    QVERIFY2(rounds >= 8, "at least 8 rounds, for the clock steps and the restart");
    const quint32 seed = quint32(setting("QUORVANE_CONVERGENCE_SEED", 20261211));
    loadRows = setting("QUORVANE_CONVERGENCE_LOAD", 40000);
    qInfo("convergence: seed %u (QUORVANE_CONVERGENCE_SEED), %d rounds (QUORVANE_CONVERGENCE_ROUNDS), large uploads "
          "of %d rows (QUORVANE_CONVERGENCE_LOAD)",
        seed, rounds, loadRows);
    QElapsedTimer clock;
    clock.start();

    QVERIFY2(service.start(), qPrintable(service.errorText()));
    QVERIFY2(service.addUser(account, accountPassword), qPrintable(service.errorText()));
    QVERIFY2(service.addUser(loadAccount, loadPassword), qPrintable(service.errorText()));
    service.useFromProgram();
    if (ServiceFixture::usesPostgreSql()) {
        second = std::make_unique<ServiceProcess>(QStringLiteral(QUORVANE_SERVICE_EXECUTABLE));
        QVERIFY2(second->start(service.storeLocation()), qPrintable(second->errorText()));
        routes.seed(seed + 1);
    }
    HttpHelper::setTransferTimeout(60000);
    env = std::make_unique<TestEnv>();
    // Backups are another subject; hundreds of copies would only cost time.
    FileSetting::getInstance()->setValue(SettingKeys::BackupBeforeSync, false);
    FileSetting::getInstance()->setValue(SettingKeys::BackupAfterSync, false);
    QVERIFY(FileSetting::getInstance()->sync());

    Device& a = devices[0];
    a.name = QStringLiteral("A");
    a.book = env->dataDir() + QStringLiteral("A.db");
    a.inProcess = true;
    QVERIFY(TestBook::copyTemplate(a.book));
    use(a);
    QVERIFY(DBHelper::getInstance()->upgrade());
    QVERIFY(DBHelper::getInstance()->initDefaultData(QString()));
    DbSetting::getInstance()->setSyncUsername(account);
    DbSetting::getInstance()->setSyncPassword(accountPassword);
    QVERIFY(DbSetting::getInstance()->save());
    runTogether({ &a });
    for (int i = 1; i < 3; ++i) {
        Device& device = devices[i];
        device.name = QString(QLatin1Char('A' + i));
        device.folder = folders.filePath(device.name);
        device.book = device.folder + QStringLiteral("/data/") + device.name + QStringLiteral(".db");
        QVERIFY(QDir().mkpath(device.folder + QStringLiteral("/data")));
        QSettings ini(device.folder + QStringLiteral("/data/Quorvane.ini"), QSettings::IniFormat);
        ini.setValue(SettingKeys::BackupBeforeSync, false);
        ini.setValue(SettingKeys::BackupAfterSync, false);
        ini.sync();
        QString output;
        QCOMPARE(runSyncProcess(device.folder, device.name + QStringLiteral(".db"),
                     { QStringLiteral("--create"), QStringLiteral("--user"), account, QStringLiteral("--password"),
                         accountPassword, QStringLiteral("--base-url"), service.baseUrl() },
                     &output),
            0);
    }
    Device& b = devices[1];
    Device& c = devices[2];

    RandomWrites writes(seed);
    QRandomGenerator choices(seed);
    const int stepBack = rounds / 4;
    const int stepForward = rounds / 2;
    const int stepHome = 3 * rounds / 4;
    const int restartAt = rounds / 2 + 2;
    const int killAt = second ? rounds / 4 + 1 : -1;
    for (round = 0; round < rounds; ++round) {
        // Edits on every device, in an order of the seed's.
        int order[3] = { 0, 1, 2 };
        std::shuffle(std::begin(order), std::end(order), choices);
        for (int index : order) {
            for (int n = int(choices.bounded(4)); n > 0; --n) {
                edit(devices[index], writes, round);
                if (QTest::currentTestFailed())
                    return;
            }
        }
        const bool pair = round % 5 == 1 && round != restartAt && round != killAt;
        if (pair) {
            editInOneSecond(b, c, round);
            if (QTest::currentTestFailed())
                return;
        }
        if (round % 7 == 3) {
            editAroundOwnRun(a, round % 14 == 10, round);
            if (QTest::currentTestFailed())
                return;
        }

        // Who synchronises now: the pair's devices always, every device when the service restarts,
        // the others by chance.
        QList<Device*> chosen;
        for (Device& device : devices) {
            if (choices.bounded(100) < 55 || (pair && &device != &a) || round == restartAt || round == killAt)
                chosen << &device;
        }
        // Device A's clock is stepped between two of its runs.
        const qint64 step = round == stepBack ? -90000
            : round == stepForward            ? 3600000
            : round == stepHome               ? -3600000
                                              : 0;
        if (step != 0) {
            a.clockMs += step;
            ++clockSteps;
            if (!chosen.contains(&a))
                chosen << &a;
        }
        if (chosen.isEmpty())
            chosen << &devices[choices.bounded(3)];
        use(a);
        runTogether(chosen, round % 6 == 4 || round == restartAt || round == killAt, round == restartAt, round == killAt);
        if (QTest::currentTestFailed())
            return;
    }

    // Every device synchronises, one after another, until two passes in a row change nothing: a
    // pass that changes nothing may still have uploaded what the next device takes.
    int passes = 0;
    for (int quiet = 0; quiet < 2; ++passes) {
        QVERIFY2(passes < 10, "the devices do not settle");
        QList<QMap<QString, Record>> before;
        for (const Device& device : devices)
            before << SyncRecords::read(device.book);
        for (Device& device : devices) {
            runTogether({ &device });
            if (QTest::currentTestFailed())
                return;
        }
        bool changed = false;
        for (int i = 0; i < 3; ++i)
            changed = changed || SyncRecords::read(devices[i].book) != before.at(i);
        quiet = changed ? 0 : quiet + 1;
    }
    TestBook::closeDefault();
    DbSetting::setInstance(nullptr);
    current.clear();
    SqliteClock::setOffset(0);

    // The devices hold the same live records, versions included, and only deletions the service has;
    // the service holds the same live records, and what it holds deleted is live nowhere.
    const QMap<QString, Record> live = SyncRecords::read(a.book);
    const QMap<QString, Record> held = SyncRecords::held(service.storeLocation(), account);
    QStringList problems;
    for (const Device& device : devices) {
        problems << SyncRecords::differences(live, a.name, SyncRecords::read(device.book), device.name);
        for (const QString& recordKey : SyncRecords::tombstones(device.book)) {
            if (!held.value(recordKey).deleted)
                problems << QStringLiteral("%1: deleted on %2, but not at the service (%3)")
                                .arg(recordKey, device.name, held.value(recordKey).describe());
        }
    }
    problems << SyncRecords::differencesWithService(live, held);
    const int deletions
        = int(std::count_if(held.cbegin(), held.cend(), [](const Record& record) { return record.deleted; }));
    problems << SyncRecords::missingReferences(live);

    // No acknowledged edit is lost: each record is as a completed run sent it, or later.
    int uploads = 0;
    int overtaken = 0;
    int conflicts = 0;
    int recreated = 0;
    int lost = 0;
    for (auto it = acknowledged.constBegin(); it != acknowledged.constEnd(); ++it) {
        const Record end = held.value(it.key());
        const bool endLive = live.contains(it.key());
        QHash<QString, QSet<QString>> statesOfVersion;
        for (const Upload& upload : *it) {
            ++uploads;
            const Record& sent = upload.record;
            statesOfVersion[sent.version].insert(
                sent.deleted ? QStringLiteral("<deleted>") : SyncRecords::asSent(sent).describe());
            if (held.contains(it.key()) && end.version > sent.version) {
                ++overtaken;
                continue;
            }
            const bool kept = held.contains(it.key()) && end.version == sent.version
                && (sent.deleted ? end.deleted && !endLive : !end.deleted && live.value(it.key()) == sent);
            if (kept)
                continue;
            ++lost;
            problems << QStringLiteral("%1: lost the upload of %2's run %3 (%4); it is (%5)")
                            .arg(it.key(), upload.device)
                            .arg(upload.run)
                            .arg(sent.describe(), end.describe());
        }
        for (const QSet<QString>& states : std::as_const(statesOfVersion))
            conflicts += states.size() > 1 ? 1 : 0;
        // Brought back after a deletion: by a later change elsewhere, or for a bill that names it.
        const auto deletedAt
            = std::find_if(it->cbegin(), it->cend(), [](const Upload& upload) { return upload.record.deleted; });
        recreated += deletedAt != it->cend() && std::any_of(it->cbegin(), it->cend(), [&](const Upload& upload) {
            return !upload.record.deleted && upload.record.version > deletedAt->record.version;
        });
    }

    SyncRecords::tellTrails(problems, trail);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.mid(0, 30).join('\n')));
    QCOMPARE(lost, 0);
    // What the run is there for happened: edits within one second met at the service, a device's
    // clock was stepped, the service restarted, and requests waited behind the large uploads.
    QVERIFY(conflicts > 0);
    QCOMPARE(clockSteps, 3);
    QCOMPARE(restarts, 1);
    QVERIFY(loadsAnswered > 0);
    if (second) {
        QCOMPARE(kills, 1);
        QVERIFY(runsOnFirst > 0 && runsOnSecond > 0);
        qInfo("convergence: two services on one PostgreSQL database: %d runs on the first, %d on the second, "
              "which was killed once",
            runsOnFirst, runsOnSecond);
    }

    int edits = 0;
    const QString counts = SyncRecords::editSummary(editCounts, &edits);
    qInfo("convergence: seed %u: %d rounds; %d edits (%s), %d pairs of edits in one second on two devices, %d "
          "edits around a device's own run; %d runs (%d failed, all at a restart or a kill; %d together with another, %d "
          "queued behind %d large uploads of the second account, the slowest %lld ms); %d clock steps, %d service "
          "restart; %d passes to settle; %d uploads acknowledged, %d later overtaken, %d same-second conflicts "
          "settled, %d records back after a deletion, %d lost; %d live records alike on the three devices and the "
          "service, %d deletions; %.1f s",
        seed, rounds, edits, qPrintable(counts), oneSecondPairs, aroundOwnRun, runsTotal, runsFailed, runsTogether,
        runsBehindLoad, loads, slowestBehindLoadMs, clockSteps, restarts, passes, uploads, overtaken, conflicts,
        recreated, lost, int(live.size()), deletions, clock.elapsed() / 1000.0);
}

QTEST_GUILESS_MAIN(TestSyncConvergence)
#include "tst_syncconvergence.moc"
