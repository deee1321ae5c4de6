// Crashes during the work on book files: quorvane-bookdriver creates, renames, deletes, restores into
// and imports into the books of a folder of 10,000-bill books through the program's own classes, and
// now and then leaves a book with a write cut off by a crash. The test kills it with SIGKILL at
// random moments. After every kill each book in the folder, and each deleted book, passes SQLite's
// integrity check, and the folder as a whole is exactly as the driver's acknowledged operations left
// it, the operation under way wholly done or not at all: no other book changed.
#include <numeric>

#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include "data/backuphelper.h"
#include "data/bookfile.h"
#include "data/booklist.h"
#include "data/constants.h"
#include "data/dbhelper.h"
#include "data/sqlhelper.h"
#include "kobelfixture.h"
#include "reliabilitykit.h"
#include "testenv.h"

using ReliabilityKit::setting;

namespace {

const int Bills = 10000;

// What identifies a book's content here: its mark, its bills and their sum. "" when the file does
// not open as a sound book; opened writable, so that a cut-off write is rolled back as any program
// opening the book would.
QString contentOf(const QString& path, QString* integrity)
{
    QString content;
    *integrity = QStringLiteral("does not open");
    withBookConnection(path, QStringLiteral("content"), BookAccess::ReadWrite, [&](QSqlDatabase& db) {
        *integrity = sqlValue(db, QStringLiteral("pragma integrity_check"), {}, QStringLiteral("failed")).toString();
        QSqlQuery query(db);
        if (*integrity != QLatin1String("ok")
            || !query.exec(QStringLiteral("select (select name from tbl_member where id='mark'), count(*), "
                                          "total(amount) from tbl_bill"))
            || !query.next())
            return false;
        content = QStringLiteral("%1|%2|%3")
                      .arg(query.value(0).toString())
                      .arg(query.value(1).toInt())
                      .arg(query.value(2).toDouble(), 0, 'f', 2);
        return true;
    });
    return content;
}

// A book with the default records, mark as the name of a member and Bills bills.
bool makeBigBook(const QString& path, const QString& mark, int factor)
{
    return BookFile::create(path)
        && withBookConnection(path, QStringLiteral("fill"), BookAccess::ReadWrite, [&](QSqlDatabase& db) {
               return execWrite(db, QStringLiteral("insert into tbl_member (id, name) values ('mark', ?)"), { mark })
                   && execWrite(db,
                       QStringLiteral(
                           "with recursive n(i) as (select 1 union all select i + 1 from n where i < ?) "
                           "insert into tbl_bill (id, title, amount, description, date, month, account_id, "
                           "category_id, sub_category_id, kind) select 'b' || i, 'bill ' || i, -(i % 97) * ?, "
                           "'', '2024-0' || (1 + i % 9) || '-1' || (i % 10), 202401 + i % 9, '01', '01', '01', "
                           "'expense' from n"),
                       { Bills, factor });
           });
}

// The other program's file with Bills bills more than the fixture's.
bool makeBigKobel(const QString& path, int factor)
{
    return KobelFixture::make(path, KobelFixture::Complete)
        && withBookConnection(path, QStringLiteral("fill"), BookAccess::ReadWrite, [&](QSqlDatabase& db) {
               return execWrite(db,
                   QStringLiteral(
                       "with recursive n(i) as (select 1 union all select i + 1 from n where i < ?) "
                       "insert into kbl_bills (bill_id, title, amount, description, date, month, catelog_id, "
                       "account_id, to_account_id, borrower_id, kind) select 'k' || i, 'bill ' || i, "
                       "(i % 89) * ?, '', '2023-05-1' || (i % 10), 202305, (select min(catelog_id) from "
                       "kbl_catelogs), (select min(account_id) from kbl_accounts), null, null, 'expense' "
                       "from n"),
                   { Bills, factor });
           });
}

// The folder as the test sees it: "data/<book>" and "backup/<book>.deleted" with their content.
using Folder = QMap<QString, QString>;

} // namespace

class TestCrashBooks : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void randomKills();

private:
    // The folder as it is on disk; a book that fails its integrity check fails the test.
    Folder read(const QString& dataDir, const QString& backupDir);
    // The folder after op.
    Folder apply(Folder folder, const QJsonObject& op) const;

    QTemporaryDir files;
    QStringList sources;
    QStringList kobelFiles;
    // The content of each source once restored, and of each import.
    QStringList restored;
    QStringList imported;
    QString created;
};

void TestCrashBooks::initTestCase()
{
    QVERIFY(files.isValid());
    QString integrity;
    for (int i = 0; i < 2; ++i) {
        sources << files.filePath(QStringLiteral("source%1.db").arg(i));
        QVERIFY(makeBigBook(sources.last(), QStringLiteral("source %1").arg(i), i + 1));
        restored << contentOf(sources.last(), &integrity);
        kobelFiles << files.filePath(QStringLiteral("kobel%1.db").arg(i));
        QVERIFY(makeBigKobel(kobelFiles.last(), i + 1));
    }
    for (const QString& file : std::as_const(kobelFiles)) {
        TestEnv env;
        const QString path = env.dataDir() + Constants::getInstance()->getBookName();
        QVERIFY(BookFile::create(path));
        QVERIFY(BackupHelper::kobel(file));
        imported << contentOf(path, &integrity);
        QVERIFY(imported.last().contains(QString::number(Bills + KobelFixture::BillCount)));
    }
    TestEnv env;
    const QString path = env.dataDir() + QStringLiteral("new.db");
    QVERIFY(BookFile::create(path));
    created = contentOf(path, &integrity);
    QCOMPARE(created, QStringLiteral("|0|0.00"));
}

Folder TestCrashBooks::read(const QString& dataDir, const QString& backupDir)
{
    Folder folder;
    const auto add = [&folder](const QString& key, const QString& path) {
        QString integrity;
        const QString content = contentOf(path, &integrity);
        if (content.isEmpty())
            qWarning("%s: %s", qPrintable(key), qPrintable(integrity));
        folder.insert(key, content);
    };
    for (const QString& book : BookList::files(dataDir))
        add(QStringLiteral("data/") + book, dataDir + book);
    for (const QString& deleted : QDir(backupDir).entryList({ QStringLiteral("*.db.deleted") }, QDir::Files))
        add(QStringLiteral("backup/") + deleted, backupDir + deleted);
    return folder;
}

Folder TestCrashBooks::apply(Folder folder, const QJsonObject& op) const
{
    const QString kind = op.value("op").toString();
    if (kind == "create") {
        folder.insert("data/" + op.value("file").toString(), created);
    } else if (kind == "rename") {
        folder.insert("data/" + op.value("to").toString(), folder.take("data/" + op.value("from").toString()));
    } else if (kind == "delete") {
        const QString file = op.value("file").toString();
        folder.insert("backup/" + file + ".deleted", folder.take("data/" + file));
    } else if (kind == "restore") {
        folder.insert("data/target.db", restored.at(op.value("source").toInt()));
    } else if (kind == "import") {
        folder.insert("data/target.db", imported.at(op.value("variant").toInt()));
    }
    // A cut-off write leaves the book as it was.
    return folder;
}

void TestCrashBooks::randomKills()
{
    const int wantedKills = setting("QUORVANE_BOOKCRASH_KILLS", 50);
    const quint32 seed = quint32(setting("QUORVANE_BOOKCRASH_SEED", 20261211));
    const int seconds = setting("QUORVANE_BOOKCRASH_SECONDS", 150);
    qInfo("crash books: seed %u (QUORVANE_BOOKCRASH_SEED), %d kills (QUORVANE_BOOKCRASH_KILLS)", seed, wantedKills);
    QRandomGenerator random(seed);

    TestEnv env;
    const QString dataDir = env.dataDir();
    const QString backupDir = Constants::getInstance()->getBackupDir();
    QVERIFY(QFile::copy(sources.at(0), dataDir + "target.db"));
    for (const char* name : { "a.db", "b.db", "c.db" })
        QVERIFY(QFile::copy(sources.at(1), dataDir + QLatin1String(name)));
    Folder model = read(dataDir, backupDir);
    QCOMPARE(model.size(), 4);

    const QStringList kinds = { "create", "rename", "delete", "restore", "import" };
    QMap<QString, double> meanMs;
    QMap<QString, int> acknowledged;
    QMap<QString, int> killedIn;
    int kills = 0;
    int wholeAfterKill = 0;
    int backupsChecked = 0;
    QSet<QString> backupsSeen;
    QElapsedTimer clock;
    clock.start();
    for (int life = 0; kills < wantedKills; ++life) {
        if (clock.elapsed() > seconds * 1000) {
            qWarning("crash books: stopped after %d s with %d kills", seconds, kills);
            break;
        }
        QProcess driver;
        QStringList arguments { "--folder", env.appDir(), "--seed", QString::number(seed * 1009u + quint32(life)) };
        for (const QString& source : std::as_const(sources))
            arguments << "--source" << source;
        for (const QString& file : std::as_const(kobelFiles))
            arguments << "--kobel" << file;
        driver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        driver.start(QStringLiteral(QUORVANE_BOOK_DRIVER), arguments);
        QVERIFY2(driver.waitForStarted(30000), qPrintable(driver.errorString()));

        // Each life is killed in another kind of operation, a random part of that operation's time
        // after it began (its time as measured in the lives before).
        const QString wanted = kinds.at(life % kinds.size());
        QList<QByteArray> lines;
        QByteArray pending;
        QElapsedTimer began;
        QString beganOp;
        bool reached = false;
        const auto takeLines = [&] {
            pending += driver.readAllStandardOutput();
            for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
                const QByteArray line = pending.left(end);
                pending.remove(0, end + 1);
                lines << line;
                const QJsonObject body = QJsonDocument::fromJson(line.mid(line.indexOf(' ') + 1)).object();
                if (line.startsWith("BEGIN ")) {
                    beganOp = body.value("op").toString();
                    began.start();
                    reached = reached || beganOp == wanted;
                } else if (line.startsWith("ACK ") && !reached) {
                    double& mean = meanMs[beganOp];
                    mean = mean == 0 ? double(began.nsecsElapsed()) / 1e6
                                     : 0.7 * mean + 0.3 * began.nsecsElapsed() / 1e6;
                }
            }
        };
        while (!reached && lines.size() < 400 && driver.state() == QProcess::Running) {
            driver.waitForReadyRead(2);
            takeLines();
        }
        const double window = qMax(1.0, 1.5 * meanMs.value(wanted));
        QThread::usleep(ulong(random.bounded(window * 1000.0)));
        // (A driver that cut a write off has killed itself already.)
        driver.kill();
        driver.waitForFinished(30000);
        QCOMPARE(driver.state(), QProcess::NotRunning);
        takeLines();
        ++kills;

        QJsonObject underWay;
        for (const QByteArray& line : std::as_const(lines)) {
            if (line == "READY")
                continue;
            const QByteArray word = line.left(line.indexOf(' '));
            const QJsonObject body = QJsonDocument::fromJson(line.mid(line.indexOf(' ') + 1)).object();
            if (word == "FAIL")
                QFAIL(qPrintable("the driver's operation failed: " + QString::fromUtf8(line)));
            if (word == "BEGIN") {
                QVERIFY2(underWay.isEmpty(), "two operations began without an acknowledgement between them");
                underWay = body;
                continue;
            }
            QCOMPARE(word, QByteArray("ACK"));
            QCOMPARE(body.value("seq").toInt(), underWay.value("seq").toInt());
            model = apply(model, underWay);
            acknowledged[underWay.value("op").toString()]++;
            underWay = QJsonObject();
        }

        const Folder found = read(dataDir, backupDir);
        const Folder done = underWay.isEmpty() ? model : apply(model, underWay);
        if (!underWay.isEmpty())
            killedIn[underWay.value("op").toString()]++;
        if (found != model && found != done) {
            QStringList differences;
            for (const QString& key : found.keys() + model.keys() + done.keys()) {
                if (found.value(key) != model.value(key) || found.value(key) != done.value(key))
                    differences << QStringLiteral("%1: found %2, before %3, after %4")
                                       .arg(key, found.value(key, "-"), model.value(key, "-"), done.value(key, "-"));
            }
            differences.removeDuplicates();
            QFAIL(qPrintable(QStringLiteral("kill %1 (life %2) during %3:\n%4")
                                 .arg(kills)
                                 .arg(life)
                                 .arg(QString::fromUtf8(QJsonDocument(underWay).toJson(QJsonDocument::Compact)),
                                     differences.join('\n'))));
        }
        if (found == done && found != model)
            ++wholeAfterKill;
        model = found;
        // A deleted book is the driver's no more: once found whole and unchanged it goes, so that each
        // kill reads the same few books however many were deleted before.
        for (const QString& key : found.keys()) {
            if (key.startsWith(QLatin1String("backup/"))) {
                QVERIFY(QFile::remove(backupDir + key.mid(7)));
                model.remove(key);
            }
        }

        // The safety copies the restore and the import leave are sound books; checked once, then
        // removed, so that the folder does not grow by a book a restore.
        for (const QString& backup : QDir(backupDir).entryList({ QStringLiteral("*.db") }, QDir::Files)) {
            if (backupsSeen.contains(backup))
                continue;
            backupsSeen.insert(backup);
            QString integrity;
            QVERIFY2(!contentOf(backupDir + backup, &integrity).isEmpty(), qPrintable(backup + ": " + integrity));
            ++backupsChecked;
            QFile::remove(backupDir + backup);
        }
    }
    QVERIFY2(kills >= qMin(wantedKills, 30), "fewer kills than asked for");

    QStringList done;
    for (auto it = acknowledged.constBegin(); it != acknowledged.constEnd(); ++it)
        done << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
    QStringList during;
    for (auto it = killedIn.constBegin(); it != killedIn.constEnd(); ++it)
        during << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
    qInfo("crash books: seed %u: %d kills, %d of them during an operation (%s), the operation under way found done "
          "%d times; %d acknowledged operations (%s); %d books in the end, %d safety copies checked; %.1f s",
        seed, kills, int(std::accumulate(killedIn.cbegin(), killedIn.cend(), 0)), qPrintable(during.join(", ")),
        wholeAfterKill, int(std::accumulate(acknowledged.cbegin(), acknowledged.cend(), 0)),
        qPrintable(done.join(", ")), int(model.size()), backupsChecked, clock.elapsed() / 1000.0);
}

QTEST_GUILESS_MAIN(TestCrashBooks)
#include "tst_crashbooks.moc"
