// A computer whose clock is wrong: three books of one account synchronise through a real
// quorvane-service while book A's clock is a week behind for several runs, then a week ahead, then
// right again, and books B and C (right clocks) create, change and delete bills and the records the
// bills name. Each book changes only what it created, so the end is known: after two quiet rounds
// every book, a book made afterwards and the service hold the same records, every record is as its
// last change left it (a deletion included), no bill names a record that is gone, and A's runs with
// the wrong clock, and only those, told of it.
//
// The books' version stamps and the runs read a clock of the test's (sqliteclock.h), set for the book
// in use and moved a second on before every change and every run, so that each has a second of its
// own however fast the machine is (two changes of one record within a second are another test's);
// the service keeps the system's clock.
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>
#include <QUuid>

#include "data/constants.h"
#include "data/dbhelper.h"
#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "data/sqlhelper.h"
#include "engine/httphelper.h"
#include "engine/synchelper.h"
#include "servicefixture.h"
#include "sqliteclock.h"
#include "syncrecords.h"
#include "testenv.h"

namespace {

using SyncRecords::key;
using SyncRecords::Record;

const QString user = QStringLiteral("household");
const QString password = QStringLiteral("household pw");
const qint64 week = qint64(7) * 86400 * 1000;

struct Book {
    QString name;
    QString path;
    qint64 clockMs = 0;
    // Runs with a wrong clock, and the runs that warned.
    int wrongRuns = 0;
    int warnings = 0;
    int warningsWithRightClock = 0;
    QStringList bills; // live bills it made, oldest first
    QStringList references; // records it made that its bills name ("borrower/id", "account/id")
};

// What a record must be at the end: gone, or with this description.
struct Expected {
    bool deleted = false;
    QString description;
};

QString newId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

} // namespace

class TestSyncClock : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void booksAgreeWhateverOneClockDid();

private:
    void use(Book& book);
    void synchronise(Book& book);
    // A round of changes on book: a record its bills use and a bill naming it, a change of its last
    // bill, and the deletion of its oldest one.
    void edit(Book& book, const QString& tag);
    void makeBook(Book& book, const QString& name);

    // Moves every book's clock a second on.
    void step();

    ServiceFixture service;
    QString current;
    qint64 drift = 0;
    qint64 currentClockMs = 0;
    QMap<QString, Expected> expected;
};

void TestSyncClock::initTestCase()
{
    QVERIFY(SqliteClock::install());
    SqliteClock::setOffset(0);
    QVERIFY2(service.start(), qPrintable(service.errorText()));
    QVERIFY2(service.addUser(user, password), qPrintable(service.errorText()));
    service.useFromProgram();
    HttpHelper::setTransferTimeout(60000);
}

void TestSyncClock::use(Book& book)
{
    if (current != book.path) {
        QVERIFY(TestBook::openDefault(book.path));
        current = book.path;
    }
    currentClockMs = book.clockMs;
    SqliteClock::setOffset(book.clockMs + drift);
}

void TestSyncClock::step()
{
    drift += 1000;
    SqliteClock::setOffset(currentClockMs + drift);
}

void TestSyncClock::makeBook(Book& book, const QString& name)
{
    book.name = name;
    book.path = Constants::getInstance()->getDbDir() + name + QStringLiteral(".db");
    QVERIFY(TestBook::copyTemplate(book.path));
    use(book);
    QVERIFY(DBHelper::getInstance()->upgrade());
    QVERIFY(DBHelper::getInstance()->initDefaultData(QString()));
    DbSetting::getInstance()->setSyncUsername(user);
    DbSetting::getInstance()->setSyncPassword(password);
    QVERIFY(DbSetting::getInstance()->save());
}

void TestSyncClock::synchronise(Book& book)
{
    use(book);
    step();
    QSignalSpy warning(SyncHelper::getInstance(), &SyncHelper::clockWarning);
    const SyncOutcome outcome = runSync();
    QVERIFY2(outcome.finished, qPrintable(book.name + QStringLiteral(": ") + outcome.message));
    const qint64 off = book.clockMs + drift;
    const bool wrong = std::abs(off) > SyncHelper::clockTolerance * 1000;
    book.wrongRuns += wrong ? 1 : 0;
    if (wrong) {
        QCOMPARE(warning.count(), 1);
        QVERIFY(std::abs(warning.first().first().toLongLong() * 1000 - off) < 3000);
        ++book.warnings;
    } else {
        book.warningsWithRightClock += int(warning.count());
    }
}

void TestSyncClock::edit(Book& book, const QString& tag)
{
    use(book);
    step();
    const QSqlDatabase db = QSqlDatabase::database();
    const QString account
        = sqlValue(db, QStringLiteral("select id from tbl_account order by id limit 1"), {}, QString()).toString();
    QVERIFY(!account.isEmpty());

    // Every other round a new borrower, else a new account, that the new bill names.
    const QString reference = newId();
    const bool borrower = book.references.size() % 2 == 0;
    if (borrower) {
        QVERIFY(execWrite(db, QStringLiteral("insert into tbl_borrower (id, name, description, sort) values (?,?,?,0)"),
            { reference, tag, tag }));
        book.references << key(QStringLiteral("borrower"), reference);
    } else {
        QVERIFY(execWrite(db,
            QStringLiteral(
                "insert into tbl_account (id, name, kind, amount, description, sort) values (?,?,'cash',0,?,0)"),
            { reference, tag, tag }));
        book.references << key(QStringLiteral("account"), reference);
    }
    expected.insert(book.references.constLast(), { false, tag });

    const QString bill = newId();
    QVERIFY(execWrite(db,
        QStringLiteral("insert into tbl_bill (id, title, amount, description, date, month, kind, account_id, "
                       "borrower_id, to_account_id, category_id, sub_category_id, member_id) values "
                       "(?, 't', -12.5, ?, '2026-12-01', 202612, 'expense', ?, ?, '', '', '', '')"),
        { bill, tag, borrower ? account : reference, borrower ? reference : QString() }));
    expected.insert(key(QStringLiteral("bill"), bill), { false, tag });

    // The bill before it changes, the oldest goes.
    if (!book.bills.isEmpty()) {
        const QString changed = book.bills.constLast();
        QVERIFY(execWrite(db, QStringLiteral("update tbl_bill set description=? where id=?"),
            { tag + QStringLiteral(" changed"), changed }));
        expected[key(QStringLiteral("bill"), changed)].description = tag + QStringLiteral(" changed");
    }
    if (book.bills.size() >= 2) {
        const QString gone = book.bills.takeFirst();
        QVERIFY(deleteWithTombstone(QStringLiteral("tbl_bill"), gone));
        expected[key(QStringLiteral("bill"), gone)] = { true, QString() };
    }
    book.bills << bill;
    TestBook::resetRecordCaches();
}

void TestSyncClock::booksAgreeWhateverOneClockDid()
{
    TestEnv env;
    FileSetting::getInstance()->setValue(SettingKeys::BackupBeforeSync, false);
    FileSetting::getInstance()->setValue(SettingKeys::BackupAfterSync, false);
    QVERIFY(FileSetting::getInstance()->sync());

    Book books[3];
    Book& a = books[0];
    Book& b = books[1];
    Book& c = books[2];
    makeBook(a, QStringLiteral("A"));
    makeBook(b, QStringLiteral("B"));
    makeBook(c, QStringLiteral("C"));
    for (int pass = 0; pass < 2; ++pass) {
        for (Book& book : books)
            synchronise(book);
    }
    if (QTest::currentTestFailed())
        return;

    // A's clock a week behind, then a week ahead, then right again; three rounds each, two at the end.
    const struct {
        const char* phase;
        qint64 clockMs;
        int rounds;
    } phases[] = { { "behind", -week, 3 }, { "ahead", week, 3 }, { "right", 0, 2 } };
    int round = 0;
    for (const auto& phase : phases) {
        a.clockMs = phase.clockMs;
        for (int i = 0; i < phase.rounds; ++i, ++round) {
            for (Book& book : books) {
                edit(book, QStringLiteral("%1 %2 %3").arg(book.name, QLatin1String(phase.phase)).arg(round));
                if (QTest::currentTestFailed())
                    return;
            }
            // Each round in another order.
            for (int j = 0; j < 3; ++j) {
                synchronise(books[(round + j) % 3]);
                if (QTest::currentTestFailed())
                    return;
            }
        }
    }

    // Two quiet rounds, then a new book of the account.
    for (int pass = 0; pass < 2; ++pass) {
        for (Book& book : books)
            synchronise(book);
    }
    Book d;
    makeBook(d, QStringLiteral("D"));
    synchronise(d);
    if (QTest::currentTestFailed())
        return;
    TestBook::closeDefault();
    DbSetting::setInstance(nullptr);
    current.clear();

    // The wrong clock was told on each of its runs, and nowhere else.
    QCOMPARE(a.warnings, a.wrongRuns);
    QCOMPARE(a.wrongRuns, 6);
    for (const Book& book : { a, b, c, d })
        QCOMPARE(book.warningsWithRightClock, 0);

    // Every book, the new one and the service alike.
    const QMap<QString, Record> live = SyncRecords::read(a.path);
    for (const Book* book : { &b, &c, &d }) {
        const QStringList differences
            = SyncRecords::differences(live, a.name, SyncRecords::read(book->path), book->name);
        QVERIFY2(differences.isEmpty(), qPrintable(differences.mid(0, 20).join('\n')));
    }
    const QMap<QString, Record> held = SyncRecords::held(service.storeLocation(), user);
    const QStringList atService = SyncRecords::differencesWithService(live, held);
    QVERIFY2(atService.isEmpty(), qPrintable(atService.mid(0, 20).join('\n')));
    const QStringList dangling = SyncRecords::missingReferences(live);
    QVERIFY2(dangling.isEmpty(), qPrintable(dangling.mid(0, 20).join('\n')));

    // No change missing, no deletion undone.
    QStringList problems;
    for (auto it = expected.constBegin(); it != expected.constEnd(); ++it) {
        if (it->deleted) {
            if (live.contains(it.key()) || !held.value(it.key()).deleted)
                problems << it.key() + QStringLiteral(": deleted, but live again");
        } else if (!live.contains(it.key())) {
            problems << it.key() + QStringLiteral(": missing, expected ") + it->description;
        } else if (live.value(it.key()).content.value(QStringLiteral("description")) != it->description) {
            problems << it.key() + QStringLiteral(": ") + live.value(it.key()).describe()
                    + QStringLiteral(", expected ") + it->description;
        }
    }
    QVERIFY2(problems.isEmpty(), qPrintable(problems.mid(0, 20).join('\n')));
    // Nothing stamped ahead of the service's clock stayed anywhere.
    const QString horizon = QDateTime::currentDateTimeUtc()
                                .addSecs(SyncHelper::clockTolerance)
                                .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    for (auto it = live.constBegin(); it != live.constEnd(); ++it)
        QVERIFY2(it->version <= horizon, qPrintable(it.key() + QStringLiteral(": ") + it->version));
    qInfo("clock: %d records checked, %d live alike on four books and the service", int(expected.size()),
        int(live.size()));
}

QTEST_GUILESS_MAIN(TestSyncClock)
#include "tst_syncclock.moc"
