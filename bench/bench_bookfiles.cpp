// The work on whole book files, beside a plain copy of the same file: the reset of the open book
// (beside its SQLite floor), a manual backup, a restore and the import of the other program's data
// file holding the same records.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>

#include "benchprogram.h"
#include "benchsupport.h"
#include "data/backuphelper.h"
#include "data/constants.h"
#include "data/dbhelper.h"
#include "data/sqlhelper.h"

namespace {

QString currentBook()
{
    return Constants::getInstance()->getDbDir() + QLatin1String(benchBookName);
}

bool openCurrentBook()
{
    return DBHelper::openDefaultConnection(currentBook()) && DBHelper::getInstance()->upgrade();
}

void emptyBackups()
{
    QDir backups(Constants::getInstance()->getBackupDir());
    for (const QString& name : backups.entryList(QDir::Files))
        backups.remove(name);
}

// The other program's data file with the records of the book at generated: its kbl_ tables with
// the kinds of accounts and bills in its own words, a category for each sub-category of the book.
bool makeKobelFile(const QString& generated, const QString& path)
{
    QFile::remove(path);
    return withBookConnection(path, QStringLiteral("kobel-file"), BookAccess::ReadWrite, [&](QSqlDatabase& db) {
        if (!execWrite(db, QStringLiteral("attach database ? as book"), { generated }))
            return false;
        for (const char* statement : {
                 "create table android_metadata (locale text)",
                 "insert into android_metadata values ('zh_CN')",
                 "create table kbl_accounts (account_id text primary key, name text, kind text, amount real, "
                 "description text, sort integer)",
                 "create table kbl_bills (bill_id text primary key, title text, amount real, description text, "
                 "date text, month integer, catelog_id text, account_id text, to_account_id text, borrower_id "
                 "text, kind text)",
                 "create table kbl_catelogs (catelog_id text primary key, name text, kind text, sort integer)",
                 "create table kbl_borrowers (borrower_id text primary key, name text, kind text, sort integer)",
                 "create table kbl_settings (key text, value text)",
                 "insert into kbl_accounts select id, name, case kind when 'credit' then 'creditcard' when 'card' "
                 "then 'bankcard' else kind end, amount, description, sort from book.tbl_account",
                 "insert into kbl_catelogs select id, name, kind, sort from book.tbl_sub_category",
                 "insert into kbl_borrowers select id, name, kind, sort from book.tbl_borrower",
                 "insert into kbl_bills select id, title, amount, description, date, month, sub_category_id, "
                 "account_id, to_account_id, borrower_id, case kind when 'refund' then 'repayin' when 'repay' "
                 "then 'repayout' else kind end from book.tbl_bill order by date, id",
             }) {
            if (!execWrite(db, QLatin1String(statement), {}))
                return false;
        }
        return execWrite(db, QStringLiteral("detach database book"), {});
    });
}

// Times work runs times after prepare (not timed), without a floor.
Timing timed(int runs, const std::function<void()>& prepare, const std::function<bool()>& work)
{
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        prepare();
        QElapsedTimer timer;
        timer.start();
        if (!work())
            std::fprintf(stderr, "a book file step failed (run %d)\n", run + 1);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    return { median(times), 0, false };
}

GroupResult bookFiles(const BenchBook& book)
{
    GroupResult result;
    useProgramFolder(book.root + QStringLiteral("/files"));
    Constants::getInstance()->setBookName(QLatin1String(benchBookName));
    const QString copyTarget = book.root + QStringLiteral("/files/copy.db");
    const QString floorBook = book.root + QStringLiteral("/files/floor.db");
    const QString restored = book.root + QStringLiteral("/files/restored.db");

    // Each run starts on a fresh copy of the book, open, with no backups beside it.
    const auto freshBook = [&] {
        forgetBook();
        emptyBackups();
        copyFresh(book.generated, currentBook());
        openCurrentBook();
    };
    const Timing copy = timed(
        book.runs, [&] { QFile::remove(copyTarget); }, [&] { return QFile::copy(book.generated, copyTarget); });

    // A manual backup of the open book.
    const Timing backup = timed(book.runs, freshBook, [] { return BackupHelper::backup(QStringLiteral("manual.db")); });

    // The restore of a book file in the open book's place (its safety backup included).
    copyFresh(book.generated, restored);
    const Timing restore = timed(book.runs, freshBook, [&] { return BackupHelper::restore(restored); });

    // The import of the other program's file in the open book's place (its safety backup included).
    const QString kobelFile = book.root + QStringLiteral("/files/kobel.db");
    Timing kobel;
    if (makeKobelFile(book.generated, kobelFile)) {
        kobel = timed(book.runs, freshBook, [&] { return BackupHelper::kobel(kobelFile); });
        result.notes.push_back(std::to_string(book.bills) + " bills: the other program's file is "
            + std::to_string(QFile(kobelFile).size() / 1024) + " kB, the book file "
            + std::to_string(QFile(book.generated).size() / 1024) + " kB.");
    } else {
        std::fprintf(stderr, "the other program's file was not made\n");
    }

    // The reset of the open book to its default records; the floor runs the same statements on a
    // copy of the same book.
    Floor floor;
    const Timing reset = timeStep(
        book.runs, floor,
        [&] {
            floor.close();
            forgetBook();
            copyFresh(book.generated, currentBook());
            copyFresh(book.generated, floorBook);
            openCurrentBook();
            floor.open(floorBook);
        },
        [] {
            if (!BackupHelper::resetBook())
                std::fprintf(stderr, "the reset failed\n");
        });
    floor.close();
    forgetBook();

    result.rows.push_back({ "book file: plain copy of the file", copy, {} });
    result.rows.push_back({ "book file: manual backup", backup, {} });
    result.rows.push_back({ "book file: restore (safety backup included)", restore, {} });
    result.rows.push_back({ "book file: import of the other program's file (safety backup included)", kobel, {} });
    result.rows.push_back({ "book file: reset to the default records", reset, {} });
    return result;
}

const bool registered = registerSteps(60, "bookfiles", bookFiles);

} // namespace
