// The work on whole book files, beside a plain copy of the same file: the reset of the open book
// (beside its SQLite floor), a manual backup and a restore.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>

#include "benchprogram.h"
#include "benchsupport.h"
#include "data/backuphelper.h"
#include "data/constants.h"
#include "data/dbhelper.h"

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
    result.rows.push_back({ "book file: reset to the default records", reset, {} });
    return result;
}

const bool registered = registerSteps(60, bookFiles);

} // namespace
