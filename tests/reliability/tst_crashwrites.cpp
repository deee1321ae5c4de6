// Crashes during writes: quorvane-crashdriver writes to a book through the program's classes and is
// killed with SIGKILL at random moments; after each kill the book must be sound and hold every write
// the driver acknowledged, and the one write under way must be there whole or not at all.
//
// What an acknowledgement proves: the driver prints "ACK" only after the write's call returned
// success, that is after SQLite committed it to the file. A kill cannot take back a committed write
// (the system keeps what a process wrote), so after every kill the book must be exactly the model:
// the state the test started from moved on by every acknowledged write. The write announced by
// "BEGIN" without its "ACK" may have committed just before the kill, or not at all: the book may be
// the model moved on by that write as a whole, never by part of it. The check runs as the next start
// of the program does: the login probe and the start-up backup first, then the book opened as the
// program opens it; the probe must read the stored password and the backup must hold what the book
// holds once opened.
//
// QUORVANE_CRASH_KILLS (default 110) and QUORVANE_CRASH_SEED (default 20260101) choose the run;
// QUORVANE_CRASH_SECONDS (default 150) bounds it.
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QThread>

#include "bookstate.h"
#include "data/backuphelper.h"
#include "data/bookprobe.h"
#include "data/constants.h"
#include "data/dbhelper.h"
#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "data/sqlhelper.h"
#include "kobelfixture.h"
#include "reliabilitykit.h"
#include "servicefixture.h"
#include "shell/startup.h"
#include "testenv.h"

namespace {

using ReliabilityKit::setting;

const QFileDevice::Permissions notOwner = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
    | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;

QString integrity(const QString& path)
{
    QString result = QStringLiteral("does not open");
    withBookConnection(path, QStringLiteral("integrity"), BookAccess::ReadOnly, [&](QSqlDatabase& db) {
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("pragma integrity_check"))) {
            result = QStringLiteral("check failed");
            return false;
        }
        QStringList lines;
        while (query.next())
            lines << query.value(0).toString();
        result = lines.join(QLatin1Char('\n'));
        return true;
    });
    return result;
}

// Runs quorvane-crashdriver --torn on path: the process dies half-way through a large write.
bool tear(const QString& path)
{
    QProcess driver;
    driver.start(QStringLiteral(QUORVANE_CRASH_DRIVER), { QStringLiteral("--torn"), path });
    return driver.waitForFinished(60000) && driver.exitStatus() == QProcess::CrashExit
        && QFile::exists(path + QStringLiteral("-journal"));
}

// A book at path with the default records, a few bills and a login password, closed again.
bool makeBook(const QString& path, const QString& password)
{
    if (!TestBook::copyTemplate(path) || !TestBook::openDefault(path) || !DBHelper::getInstance()->upgrade()
        || !DBHelper::getInstance()->initDefaultData(QString()))
        return false;
    for (int i = 1; i <= 5; ++i)
        addBillRow(QStringLiteral("expense"), -i, QDate(2024, 3, i), { { "account_id", "01" } });
    DbSetting::getInstance()->setPassword(password);
    const bool saved = DbSetting::getInstance()->save();
    DbSetting::setInstance(nullptr);
    TestBook::closeDefault();
    return saved;
}

struct Figures {
    int kills = 0;
    int killsInWrite = 0;
    int inFlightApplied = 0;
    int acknowledged = 0;
    int integrityFailures = 0;
    int lost = 0;
    int backupsChecked = 0;
    QMap<QString, int> acknowledgedByOp;
    QMap<QString, int> killedInOp;
};

} // namespace

class TestCrashWrites : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void randomKills();

    void cutOffWriteIsBackedUpAsCommitted();
    void cutOffWriteKeepsTheLoginPassword();
    void bookThatCannotBeReadIsNeitherUnlockedNorCopied();
    void cutOffStagingReachesNoLaterImport_data();
    void cutOffStagingReachesNoLaterImport();

private:
    // Moves state on by the announced write; id is the record's (for an insert, the new one's). A
    // synchronisation that gives the defaults the account's ids commits that step on its own: the
    // state between its steps goes to steps. False for a write it does not know.
    bool apply(BookState& state, const QJsonObject& write, const QString& id, const QString& prefix,
        QList<BookState>* steps) const;

    // The book's state after each kind of whole-book write, computed once on books of their own.
    BookState defaults;
    QList<BookState> imports;
    QTemporaryDir files;
    QStringList kobelFiles;
};

void TestCrashWrites::initTestCase()
{
    QVERIFY(files.isValid());
    for (const auto variant : { KobelFixture::Complete, KobelFixture::DefaultIds }) {
        const QString path = files.filePath(QStringLiteral("kobel%1.db").arg(kobelFiles.size()));
        QVERIFY(KobelFixture::make(path, variant));
        kobelFiles << path;
    }
    {
        TestEnv env;
        TestBook book(env.dataDir() + QStringLiteral("Quorvane.db"));
        QVERIFY(book.isOpen());
        QVERIFY(DBHelper::getInstance()->upgrade());
        QVERIFY(DBHelper::getInstance()->initDefaultData(QString()));
        defaults = BookState::read(QSqlDatabase::database());
    }
    for (const QString& file : std::as_const(kobelFiles)) {
        TestEnv env;
        const QString path = env.dataDir() + QStringLiteral("Quorvane.db");
        QVERIFY(TestBook::copyTemplate(path));
        QVERIFY(BackupHelper::kobel(file));
        imports << BookState::read(path);
        QVERIFY(imports.last().liveRows() > 0);
    }
}

bool TestCrashWrites::apply(
    BookState& state, const QJsonObject& write, const QString& id, const QString& prefix, QList<BookState>* steps) const
{
    const QString op = write.value("op").toString();
    const QString table = write.value("table").toString();
    if (op == "insert") {
        state.insert(table, id, write.value("row").toObject());
    } else if (op == "update") {
        state.update(table, id, write.value("row").toObject());
    } else if (op == "delete") {
        state.remove(table, id);
    } else if (op == "quick") {
        state.quickChange(write.value("type").toString(), write.value("ids").toArray(), write.value("value").toString(),
            write.value("sub").toString());
    } else if (op == "settings") {
        state.password = write.value("password").toString();
    } else if (op == "reset") {
        const QString password = state.password;
        state = defaults;
        state.password = password;
    } else if (op == "import") {
        state = imports.at(write.value("variant").toInt());
    } else if (op == "sync") {
        if (write.value("migrate").toBool()) {
            state.migrate(prefix);
            if (steps)
                *steps << state;
        }
        state.applyReply(write.value("reply").toArray());
    } else {
        return false;
    }
    return true;
}

void TestCrashWrites::randomKills()
{
    const int wantedKills = setting("QUORVANE_CRASH_KILLS", 110);
    const quint32 seed = quint32(setting("QUORVANE_CRASH_SEED", 20260101));
    const int seconds = setting("QUORVANE_CRASH_SECONDS", 150);
    qInfo("crash writes: seed %u (QUORVANE_CRASH_SEED), %d kills (QUORVANE_CRASH_KILLS)", seed, wantedKills);
    QRandomGenerator random(seed);
    // A umask that lets every permission through, for the driver it starts as well: what the files end
    // up with is then the program's own doing.
    const ScopedUmask careless(0);

    ServiceFixture service;
    QVERIFY2(service.start(), qPrintable(service.errorText()));
    QVERIFY2(service.addUser(QStringLiteral("crash"), QStringLiteral("crash pw")), qPrintable(service.errorText()));
    QString userId;
    service.withStore(QStringLiteral("users"), [&](QSqlDatabase& db) {
        userId = sqlValue(db, QStringLiteral("select user_id from users where name='crash'"), {}, QString()).toString();
        return true;
    });
    QCOMPARE(userId.size(), 36);
    const QString prefix = userId.left(34);

    TestEnv env;
    const QString book = env.dataDir() + QStringLiteral("Quorvane.db");
    QVERIFY(makeBook(book, QStringLiteral("start pw")));
    {
        // A book already synchronised: the account stored, its defaults under the account's ids.
        QVERIFY(TestBook::openDefault(book));
        DbSetting* account = DbSetting::getInstance();
        account->setSyncUsername(QStringLiteral("crash"));
        account->setSyncPassword(QStringLiteral("crash pw"));
        QVERIFY(account->save());
        DbSetting::setInstance(nullptr);
        TestBook::closeDefault();
    }
    BookState model = BookState::read(book);
    QCOMPARE(model.password, QStringLiteral("start pw"));
    FileSetting::getInstance()->setValue(SettingKeys::BackupBeforeSync, true);
    FileSetting::getInstance()->setValue(SettingKeys::BackupAfterSync, true);
    QVERIFY(FileSetting::getInstance()->sync());
    const QString backupDir = Constants::getInstance()->getBackupDir();
    QSet<QString> backupsSeen;

    Figures figures;
    QElapsedTimer clock;
    clock.start();
    const QString errorLog = env.root() + QStringLiteral("/driver.err");
    for (int life = 0; figures.kills < wantedKills; ++life) {
        if (clock.elapsed() > seconds * 1000) {
            qWarning("crash writes: stopped after %d s with %d kills", seconds, figures.kills);
            break;
        }
        QProcess driver;
        driver.setStandardErrorFile(errorLog, QIODevice::Append);
        QStringList arguments { "--folder", env.appDir(), "--seed", QString::number(seed * 100003u + quint32(life)),
            "--service", service.baseUrl(), "--user", "crash", "--password", "crash pw", "--config",
            service.folder() + "/config.json", "--prefix", prefix };
        for (const QString& file : std::as_const(kobelFiles))
            arguments << "--kobel" << file;
        driver.start(QStringLiteral(QUORVANE_CRASH_DRIVER), arguments);
        QVERIFY2(driver.waitForStarted(30000), qPrintable(driver.errorString()));

        // The moment of the kill: after a random number of the driver's lines (0: while it starts),
        // and a random part of a write's time later; every fourth time inside one of the writes of
        // many statements (the reset, the import, a merge, a bulk change), which take longer.
        const int killAfter = int(random.bounded(0, 70));
        const bool longWrite = random.bounded(4) == 0;
        const int delayMicroseconds = int(random.bounded(0, longWrite ? 60000 : 9000));
        const auto reached = [&](const QList<QByteArray>& lines) {
            if (!longWrite)
                return lines.size() >= killAfter;
            if (lines.size() > killAfter + 400)
                return true;
            if (lines.size() < killAfter || lines.isEmpty() || !lines.last().startsWith("BEGIN "))
                return false;
            const QString op = QJsonDocument::fromJson(lines.last().mid(6)).object().value("op").toString();
            return QStringList { "reset", "import", "sync", "quick" }.contains(op);
        };
        QByteArray pending;
        QList<QByteArray> lines;
        // Line by line, so that the kill comes right after the line that decides it.
        const auto takeLine = [&] {
            if (pending.indexOf('\n') < 0)
                pending += driver.readAllStandardOutput();
            const qsizetype end = pending.indexOf('\n');
            if (end < 0)
                return false;
            lines << pending.left(end);
            pending.remove(0, end + 1);
            return true;
        };
        const auto takeLines = [&] {
            while (takeLine()) { }
        };
        while (!reached(lines)) {
            if (takeLine())
                continue;
            if (!driver.waitForReadyRead(60000)) {
                if (takeLine())
                    continue;
                QFile log(errorLog);
                log.open(QIODevice::ReadOnly);
                QFAIL(qPrintable(QStringLiteral("the driver stopped talking (%1 lines, exit %2): %3")
                                     .arg(lines.size())
                                     .arg(driver.exitCode())
                                     .arg(QString::fromUtf8(log.readAll().right(3000)))));
            }
        }
        // Not a wait for anything: the kill is meant to land at an arbitrary point of the write.
        QThread::usleep(ulong(delayMicroseconds));
        driver.kill();
        QVERIFY(driver.waitForFinished(30000));
        takeLines();
        ++figures.kills;

        // The lines the driver wrote before it died, in order.
        QJsonObject announced;
        bool inFlight = false;
        for (const QByteArray& line : std::as_const(lines)) {
            if (line == "READY")
                continue;
            const qsizetype space = line.indexOf(' ');
            const QByteArray word = line.left(space);
            const QJsonObject body = QJsonDocument::fromJson(line.mid(space + 1)).object();
            if (word == "FAIL")
                QFAIL(qPrintable(QStringLiteral("the driver's write failed: ") + QString::fromUtf8(line)));
            if (word == "BEGIN") {
                QVERIFY2(!inFlight, "two writes began without an acknowledgement between them");
                announced = body;
                inFlight = true;
                continue;
            }
            QCOMPARE(word, QByteArray("ACK"));
            QVERIFY(inFlight);
            QCOMPARE(body.value("seq").toInt(), announced.value("seq").toInt());
            inFlight = false;
            ++figures.acknowledged;
            ++figures.acknowledgedByOp[announced.value("op").toString()];
            // The acknowledged write moves the model on.
            const QString id = body.contains("id") ? body.value("id").toString() : announced.value("id").toString();
            QVERIFY2(apply(model, announced, id, prefix, nullptr),
                qPrintable("unknown write " + announced.value("op").toString()));
        }

        // What the write under way may have left: nothing, or all of it (a synchronisation that
        // gives the defaults the account's ids commits that step on its own).
        QList<BookState> allowed { model };
        if (inFlight) {
            ++figures.killsInWrite;
            const QString op = announced.value("op").toString();
            ++figures.killedInOp[op];
            BookState after = model;
            apply(after, announced, op == "insert" ? BookState::AnyId : announced.value("id").toString(), prefix,
                &allowed);
            allowed << after;
        }

        // The next start: the login probe and the start-up backup (in either order), then the book
        // opened as the program opens it.
        const QString startBackup = QStringLiteral("start%1.db").arg(life);
        BookProbe::Result probe;
        if (random.bounded(2) == 0) {
            probe = BookProbe::probe(book, QStringLiteral("probe"));
            QVERIFY(BackupHelper::backup(startBackup));
        } else {
            QVERIFY(BackupHelper::backup(startBackup));
            probe = BookProbe::probe(book, QStringLiteral("probe"));
        }
        QVERIFY2(TestBook::openDefault(book), "the book does not open after the kill");
        QVERIFY(DBHelper::getInstance()->upgrade());
        const QString check = sqlValue(QSqlDatabase::database(), "pragma integrity_check", {}, QString()).toString();
        const BookState found = BookState::read(QSqlDatabase::database());
        DbSetting::setInstance(nullptr);
        TestBook::closeDefault();
        if (check != QLatin1String("ok")) {
            ++figures.integrityFailures;
            QFAIL(qPrintable(QStringLiteral("kill %1: integrity check: %2").arg(figures.kills).arg(check)));
        }

        int matched = -1;
        for (int i = 0; i < allowed.size() && matched < 0; ++i) {
            if (allowed.at(i).differences(found).isEmpty())
                matched = i;
        }
        if (matched < 0) {
            ++figures.lost;
            QFAIL(qPrintable(
                QStringLiteral("kill %1 (seed %2, life %3), write under way: %4\n%5")
                    .arg(figures.kills)
                    .arg(seed)
                    .arg(life)
                    .arg(inFlight ? QString::fromUtf8(QJsonDocument(announced).toJson(QJsonDocument::Compact)).left(400)
                                  : QStringLiteral("none"))
                    .arg(model.differences(found).mid(0, 20).join('\n'))));
        }
        if (matched > 0)
            ++figures.inFlightApplied;

        QVERIFY2(probe.opened, qPrintable(probe.errorText));
        QCOMPARE(probe.password, found.password);
        // The start-up backup holds the book as the program then opened it.
        QCOMPARE(integrity(backupDir + startBackup), QStringLiteral("ok"));
        const QStringList backupDifferences = found.differences(BookState::read(backupDir + startBackup));
        QVERIFY2(backupDifferences.isEmpty(), qPrintable(backupDifferences.join('\n')));

        // Every backup the driver made is a sound book, owner-only like everything in the folders.
        const QStringList backups = QDir(backupDir).entryList({ "*.db" }, QDir::Files);
        for (const QString& name : backups) {
            if (backupsSeen.contains(name))
                continue;
            backupsSeen.insert(name);
            ++figures.backupsChecked;
            QCOMPARE(integrity(backupDir + name), QStringLiteral("ok"));
        }
        model = found;
    }

    // Books, backups, the settings file and whatever a kill left beside them: owner-only, although
    // the umask let everything through.
    for (const QString& dir : { env.dataDir(), backupDir }) {
        for (const QFileInfo& file : QDir(dir).entryInfoList(QDir::Files | QDir::Hidden)) {
            QVERIFY2(!(file.permissions() & notOwner), qPrintable(file.filePath() + " can be read by others"));
        }
    }
    QVERIFY2(figures.kills >= qMin(wantedKills, 100), "fewer kills than asked for");
    QVERIFY(figures.killsInWrite > 0);

    QStringList byOp;
    for (auto it = figures.acknowledgedByOp.constBegin(); it != figures.acknowledgedByOp.constEnd(); ++it)
        byOp << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
    QStringList inOp;
    for (auto it = figures.killedInOp.constBegin(); it != figures.killedInOp.constEnd(); ++it)
        inOp << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
    qInfo("crash writes: seed %u: %d kills, %d of them during a write (%s), %d acknowledged writes (%s); the write "
          "under way was found whole %d times and absent %d times; %d integrity failures, %d writes lost; %d "
          "backups checked; %.1f s",
        seed, figures.kills, figures.killsInWrite, qPrintable(inOp.join(", ")), figures.acknowledged,
        qPrintable(byOp.join(", ")), figures.inFlightApplied, figures.killsInWrite - figures.inFlightApplied,
        figures.integrityFailures, figures.lost, figures.backupsChecked, clock.elapsed() / 1000.0);
}

void TestCrashWrites::cutOffWriteIsBackedUpAsCommitted()
{
    TestEnv env;
    const QString book = env.dataDir() + QStringLiteral("Quorvane.db");
    QVERIFY(makeBook(book, QString()));
    const BookState committed = BookState::read(book);
    QVERIFY(tear(book));

    // The start-up backup runs before the book is opened.
    QVERIFY(BackupHelper::backup(QStringLiteral("start.db")));
    const QString backup = Constants::getInstance()->getBackupDir() + QStringLiteral("start.db");
    QCOMPARE(integrity(backup), QStringLiteral("ok"));
    QCOMPARE(valueIn(backup, "select count(*) from sqlite_master where name='torn_rows'").toInt(), 0);
    const QStringList differences = committed.differences(BookState::read(backup));
    QVERIFY2(differences.isEmpty(), qPrintable(differences.join('\n')));
}

void TestCrashWrites::cutOffWriteKeepsTheLoginPassword()
{
    TestEnv env;
    const QString book = env.dataDir() + QStringLiteral("Quorvane.db");
    QVERIFY(makeBook(book, QStringLiteral("秘密 pw")));
    QVERIFY(tear(book));

    const BookProbe::Result probe = BookProbe::probe(book, QStringLiteral("probe"));
    QVERIFY2(probe.opened, qPrintable(probe.errorText));
    QCOMPARE(probe.password, QStringLiteral("秘密 pw"));
    const Startup::Choice choice = Startup::chooseBook(env.dataDir(), { QStringLiteral("Quorvane.db") }, QString());
    QVERIFY(choice.login);
    QVERIFY(choice.currentBook.isEmpty());
}

void TestCrashWrites::bookThatCannotBeReadIsNeitherUnlockedNorCopied()
{
    TestEnv env;
    const QString book = env.dataDir() + QStringLiteral("Quorvane.db");
    QVERIFY(makeBook(book, QStringLiteral("pw")));
    // A journal SQLite can neither play back nor remove: every read of the book fails.
    QVERIFY(QDir().mkdir(book + QStringLiteral("-journal")));

    const BookProbe::Result probe = BookProbe::probe(book, QStringLiteral("probe"));
    QVERIFY(!probe.opened);
    QVERIFY(!probe.errorText.isEmpty());
    const Startup::Choice choice = Startup::chooseBook(env.dataDir(), { QStringLiteral("Quorvane.db") }, QString());
    QVERIFY(choice.login);
    QVERIFY(choice.probeFailed);
    QVERIFY(choice.currentBook.isEmpty());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot be undone")));
    QVERIFY(!BackupHelper::backup(QStringLiteral("start.db")));
    QVERIFY(!QFile::exists(Constants::getInstance()->getBackupDir() + QStringLiteral("start.db")));
}

void TestCrashWrites::cutOffStagingReachesNoLaterImport_data()
{
    QTest::addColumn<QString>("word");
    QTest::newRow("import") << "kobel";
    QTest::newRow("restore") << "restore";
}

void TestCrashWrites::cutOffStagingReachesNoLaterImport()
{
    QFETCH(QString, word);
    TestEnv env;
    const QString book = env.dataDir() + QStringLiteral("Quorvane.db");
    QVERIFY(makeBook(book, QString()));

    // An earlier run broke off while it converted its copy of another file beside the book.
    const bool import = word == QLatin1String("kobel");
    const QString staged = book + (import ? QStringLiteral(".importing") : QStringLiteral(".restoring"));
    const QString earlier = files.filePath(QStringLiteral("earlier-%1.db").arg(word));
    QVERIFY(import ? KobelFixture::make(earlier, KobelFixture::Complete) : makeBook(earlier, QString()));
    QVERIFY(QFile::copy(earlier, staged));
    QVERIFY(tear(staged));

    // This run brings a different file.
    BookState expected;
    if (import) {
        QVERIFY(BackupHelper::kobel(kobelFiles.at(1)));
        expected = imports.at(1);
    } else {
        const QString other = files.filePath(QStringLiteral("other.db"));
        QFile::remove(other);
        QVERIFY(makeBook(other, QStringLiteral("other pw")));
        expected = BookState::read(other);
        QVERIFY(BackupHelper::restore(other));
    }
    QCOMPARE(integrity(book), QStringLiteral("ok"));
    QCOMPARE(valueIn(book, "select count(*) from sqlite_master where name='torn_rows'").toInt(), 0);
    const QStringList differences = expected.differences(BookState::read(book));
    QVERIFY2(differences.isEmpty(), qPrintable(differences.join('\n')));
}

QTEST_MAIN(TestCrashWrites)
#include "tst_crashwrites.moc"
