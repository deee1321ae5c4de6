// Synchronisation rounds: two books edit records of all six synchronised tables (insert, update,
// delete, through the record classes) and synchronise through a real quorvane-service in random
// order. At the end both books and the service hold the same live records, and every record is as
// the last write to it left it (the later version wins; a deletion is a write) - checked against a
// model of every write the test made, kept apart from the books.
//
// Versions have one-second resolution, and two writes of one record within a second are settled by
// which of them reaches the service later, which a model of the writes cannot foresee; so the
// process runs a clock of its own (tests/reliability/sqliteclock.h) that the books' version stamps
// and the synchronisation read: every edit and every synchronisation happens in a second of its own,
// without any waiting. The service keeps the system's clock. Writes within one second, clocks that
// are set back and forth and devices that synchronise at once are the convergence test's.
//
// The one designed exception to "the later version wins": a reference record (account, borrower,
// category, sub-category, member) that one book deletes while the other's bills still use it comes
// back, as the book that still uses it last had it, so that no bill points at nothing. Such a record
// may end live although its last write was a deletion, or with the content of one of its earlier
// writes; the figures count these.
//
// QUORVANE_SYNC_ROUNDS (default 1000) and QUORVANE_SYNC_SEED (default 20260102) choose the run.
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTest>

#include "data/dbhelper.h"
#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "data/mbill.h"
#include "data/settingkeys.h"
#include "data/sqlhelper.h"
#include "engine/httphelper.h"
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

QMap<QString, Record> readRecords(const QSqlDatabase& db, const QString& since = QString())
{
    return SyncRecords::read(db, since);
}

QMap<QString, Record> readRecords(const QString& path)
{
    return SyncRecords::read(path);
}

// The live records the service holds for the account.
QMap<QString, Record> serviceRecords(const QString& store, const QString& user)
{
    QMap<QString, Record> live;
    const QMap<QString, Record> all = SyncRecords::held(store, user);
    for (auto it = all.constBegin(); it != all.constEnd(); ++it) {
        if (!it->deleted)
            live.insert(it.key(), *it);
    }
    return live;
}

} // namespace

class TestSyncRounds : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void randomRounds();

private:
    void use(const QString& path);
    void edit(RandomWrites& writes);
    bool synchronise(const QString& path);

    QString current;
    // What happened to each record, in order: the edits and what each synchronisation changed of
    // it, for the messages of a failure.
    QHash<QString, QStringList> trail;
    // Every write the test made, per record, in order; the records a bill ever named.
    QHash<QString, QList<Record>> history;
    QSet<QString> named;
    QMap<QString, int> editCounts;
};

void TestSyncRounds::initTestCase()
{
    QVERIFY(SqliteClock::install());
    // Every step moves the clock a second on, faster than the system's: it starts two hours behind
    // and stays behind, as the service stores no version more than five minutes ahead of its own.
    SqliteClock::setOffset(-2 * 3600 * 1000);
}

void TestSyncRounds::use(const QString& path)
{
    if (current == path)
        return;
    QVERIFY(TestBook::openDefault(path));
    current = path;
}

bool TestSyncRounds::synchronise(const QString& path)
{
    use(path);
    const QString book = QFileInfo(path).baseName();
    const QMap<QString, Record> before = readRecords(QSqlDatabase::database());
    const QString at = SqliteClock::tick();
    const SyncOutcome outcome = runSync();
    if (!outcome.finished) {
        qWarning("synchronisation of %s failed: %d %s", qPrintable(path), outcome.code, qPrintable(outcome.message));
        return false;
    }
    const QMap<QString, Record> after = readRecords(QSqlDatabase::database());
    for (auto it = after.constBegin(); it != after.constEnd(); ++it) {
        if (before.value(it.key()) != *it)
            trail[it.key()] << QStringLiteral("%1 %2 sync took %3").arg(at, book, it->version);
    }
    for (auto it = before.constBegin(); it != before.constEnd(); ++it) {
        if (!after.contains(it.key()))
            trail[it.key()] << QStringLiteral("%1 %2 sync deleted it").arg(at, book);
    }
    return true;
}

void TestSyncRounds::edit(RandomWrites& writes)
{
    const QString since = SqliteClock::tick();
    const SyncRecords::Edit made = SyncRecords::randomEdit(writes);
    const RandomWrites::Outcome outcome = made.outcome;
    const QString& table = made.table;
    const QString& op = made.op;
    QVERIFY(outcome != RandomWrites::Outcome::Failed);
    if (outcome == RandomWrites::Outcome::Skipped)
        return;
    ++editCounts[table + QLatin1Char(' ') + op];

    // What the edit wrote: everything stamped from its second on (a sub-category moved under
    // another category takes its bills along).
    const QMap<QString, Record> written = readRecords(QSqlDatabase::database(), since);
    QVERIFY2(!written.isEmpty(), qPrintable(QStringLiteral("%1 %2 left no trace").arg(op, table)));
    for (auto it = written.constBegin(); it != written.constEnd(); ++it) {
        QCOMPARE(it->version, since);
        history[it.key()].append(*it);
        trail[it.key()] << QStringLiteral("%1 %2 %3")
                               .arg(since, QFileInfo(current).baseName(), it->deleted ? QStringLiteral("deleted") : op);
        if (tableOf(it.key()) == QLatin1String("bill") && !it->deleted) {
            for (const auto& [column, target] : SyncRecords::billReferences()) {
                if (!it->content.value(column).isEmpty())
                    named.insert(key(target, it->content.value(column)));
            }
        }
    }
}

void TestSyncRounds::randomRounds()
{
    const int rounds = setting("QUORVANE_SYNC_ROUNDS", 1000);
    const quint32 seed = quint32(setting("QUORVANE_SYNC_SEED", 20260102));
    qInfo("sync rounds: seed %u (QUORVANE_SYNC_SEED), %d rounds (QUORVANE_SYNC_ROUNDS)", seed, rounds);
    QElapsedTimer clock;
    clock.start();

    ServiceFixture service;
    QVERIFY2(service.start(), qPrintable(service.errorText()));
    QVERIFY2(service.addUser(QStringLiteral("rounds"), QStringLiteral("rounds pw")), qPrintable(service.errorText()));
    service.useFromProgram();
    HttpHelper::setTransferTimeout(60000);

    TestEnv env;
    // Backups are another subject; a thousand copies of each book would only cost time.
    FileSetting::getInstance()->setValue(SettingKeys::BackupBeforeSync, false);
    FileSetting::getInstance()->setValue(SettingKeys::BackupAfterSync, false);
    QVERIFY(FileSetting::getInstance()->sync());

    // Book B made and synchronised the first time by quorvane-sync, book A by the program's classes.
    const QString bookA = env.dataDir() + QStringLiteral("A.db");
    const QString bookB = env.dataDir() + QStringLiteral("B.db");
    QString output;
    QCOMPARE(runSyncProcess(env.appDir(), QStringLiteral("B.db"),
                 { "--create", "--user", "rounds", "--password", "rounds pw" }, &output),
        0);
    // The book the command line made is its owner's alone.
    QCOMPARE(QFile::permissions(bookB) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QVERIFY(TestBook::copyTemplate(bookA));
    use(bookA);
    QVERIFY(DBHelper::getInstance()->upgrade());
    QVERIFY(DBHelper::getInstance()->initDefaultData(QString()));
    DbSetting::getInstance()->setSyncUsername(QStringLiteral("rounds"));
    DbSetting::getInstance()->setSyncPassword(QStringLiteral("rounds pw"));
    QVERIFY(DbSetting::getInstance()->save());
    QVERIFY(synchronise(bookA));

    // Both start with the default records under the account's ids: the model's first writes.
    const QMap<QString, Record> start = readRecords(QSqlDatabase::database());
    QCOMPARE(readRecords(bookB), start);
    for (auto it = start.constBegin(); it != start.constEnd(); ++it) {
        QCOMPARE(it->version, SyncRecords::defaultVersion());
        history[it.key()].append(*it);
    }

    RandomWrites writes(seed);
    int syncs = 0;
    for (int round = 0; round < rounds; ++round) {
        use(writes.chance(50) ? bookA : bookB);
        const int roll = writes.between(1, 10);
        for (int i = roll == 1 ? 0 : roll <= 5 ? 1 : roll <= 8 ? 2 : 3; i > 0; --i) {
            edit(writes);
            if (QTest::currentTestFailed())
                return;
        }
        QVERIFY2(synchronise(writes.chance(50) ? bookA : bookB), qPrintable(QStringLiteral("round %1").arg(round)));
        ++syncs;
    }

    // Last synchronisations of both, A then B, until two passes in a row change neither book: a
    // pass that changes nothing may still have uploaded B's last changes, which A takes in the next.
    int passes = 0;
    for (int quiet = 0; quiet < 2; ++passes) {
        QVERIFY2(passes < 8, "the books do not settle");
        const QMap<QString, Record> beforeA = readRecords(bookA);
        const QMap<QString, Record> beforeB = readRecords(bookB);
        QVERIFY(synchronise(bookA));
        QVERIFY(synchronise(bookB));
        syncs += 2;
        const bool changed = readRecords(bookA) != beforeA || readRecords(bookB) != beforeB;
        quiet = changed ? 0 : quiet + 1;
    }
    TestBook::closeDefault();
    DbSetting::setInstance(nullptr);
    current.clear();

    // Both books and the service hold the same live records.
    const QMap<QString, Record> liveA = readRecords(bookA);
    const QMap<QString, Record> liveB = readRecords(bookB);
    const QMap<QString, Record> held = serviceRecords(service.storeLocation(), QStringLiteral("rounds"));
    QStringList problems = SyncRecords::differences(liveA, QStringLiteral("A"), liveB, QStringLiteral("B"));
    problems << SyncRecords::differencesWithService(liveA, held);

    // Every record as its last write left it.
    int exact = 0;
    int revived = 0;
    int revivedOver = 0;
    for (auto it = history.constBegin(); it != history.constEnd(); ++it) {
        const QList<Record>& writesOf = *it;
        const Record* last = &writesOf.first();
        for (const Record& record : writesOf) {
            if (record.version > last->version)
                last = &record;
        }
        const bool live = liveA.contains(it.key());
        const Record found = liveA.value(it.key());
        if (last->deleted ? !live : (live && found == *last)) {
            ++exact;
            continue;
        }
        // A reference record deleted while a bill named it may be back, as it was at one of its writes.
        const bool mayComeBack = tableOf(it.key()) != QLatin1String("bill") && named.contains(it.key())
            && std::any_of(writesOf.cbegin(), writesOf.cend(), [](const Record& record) { return record.deleted; });
        const bool earlierContent = live && std::any_of(writesOf.cbegin(), writesOf.cend(), [&](const Record& record) {
            return !record.deleted && record.content == found.content;
        });
        if (mayComeBack && earlierContent) {
            ++(last->deleted ? revived : revivedOver);
            continue;
        }
        problems << QStringLiteral("%1: is (%2), its last write (%3)")
                        .arg(it.key(), live ? found.describe() : QStringLiteral("absent"), last->describe());
    }
    for (auto it = liveA.constBegin(); it != liveA.constEnd(); ++it) {
        if (!history.contains(it.key()))
            problems << QStringLiteral("%1: written by nobody (%2)").arg(it.key(), it->describe());
    }
    problems << SyncRecords::missingReferences(liveA);
    SyncRecords::tellTrails(problems, trail);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.mid(0, 30).join('\n')));

    int edits = 0;
    const QString counts = SyncRecords::editSummary(editCounts, &edits);
    qInfo("sync rounds: seed %u: %d rounds, %d edits (%s), %d synchronisations (%d passes to settle); %d records "
          "compared in both books and the service (%d live), %d as their last write left them, %d deleted ones back "
          "for a bill, %d back with an earlier content; %.1f s",
        seed, rounds, edits, qPrintable(counts), syncs, passes, int(history.size()), int(liveA.size()), exact, revived,
        revivedOver, clock.elapsed() / 1000.0);
}

QTEST_GUILESS_MAIN(TestSyncRounds)
#include "tst_syncrounds.moc"
