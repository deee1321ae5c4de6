// The import of a CSV file as large as the book: the bill list's CSV export of the generated book,
// read into an empty book the way the import dialog reads it (its first rows shown, then the whole
// file checked) and booked, each beside the same statements run through SQLite alone.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <cstdio>

#include "benchprogram.h"
#include "benchsupport.h"
#include "bills/exporthelper.h"
#include "data/constants.h"
#include "data/dbhelper.h"
#include "data/mbill.h"
#include "datamgmt/dimport.h"
#include "import/importplan.h"
#include "import/importsource.h"

namespace {

// A new book with its default records at path.
bool makeEmptyBook(const QString& path)
{
    QFile::remove(path);
    return QFile::copy(QStringLiteral(":/rc/data/init.db"), path)
        && QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        && DBHelper::getInstance()->initDefaultData(path);
}

bool openBook(const QString& path)
{
    forgetBook();
    return DBHelper::openDefaultConnection(path) && DBHelper::getInstance()->upgrade();
}

GroupResult importRows(const BenchBook& book)
{
    GroupResult result;
    useProgramFolder(book.root);
    const QString dir = Constants::getInstance()->getDbDir();
    const QString csv = book.root + QStringLiteral("/bills.csv");
    const QString empty = book.root + QStringLiteral("/empty.db");
    const QString target = dir + benchBookName;
    const QString floorPath = book.root + QStringLiteral("/import-floor.db");
    Constants::getInstance()->setBookName(QLatin1String(benchBookName));

    // The file: every bill of the generated book, exported as the bill list exports it.
    copyFresh(book.generated, target);
    openBook(target);
    QString error;
    if (!ExportHelper::exportBillsCsv(csv, *MBill::get(QStringLiteral(" 1=1 ")), &error)) {
        std::fprintf(stderr, "cannot export %s: %s\n", qPrintable(csv), qPrintable(error));
        return result;
    }
    forgetBook();
    makeEmptyBook(empty);

    // The dialog opening the file: its first rows shown, then (the event it queued) the whole file.
    Floor floor;
    copyFresh(empty, floorPath);
    floor.open(floorPath);
    std::unique_ptr<DImport> dialog;
    const auto freshDialog = [&] {
        dialog.reset();
        copyFresh(empty, target);
        openBook(target);
        dialog = std::make_unique<DImport>();
    };
    result.rows.push_back({ "import of every bill as CSV: first rows shown",
        timeStep(book.runs, floor, freshDialog, [&] { dialog->openFile(csv); }), {} });
    result.rows.push_back({ "import of every bill as CSV: whole file checked",
        timeStep(
            book.runs, floor,
            [&] {
                freshDialog();
                dialog->openFile(csv);
            },
            [&] {
                auto* importButton = dialog->findChild<QPushButton*>(QStringLiteral("pbImport"));
                while (!importButton->isEnabled())
                    QCoreApplication::processEvents();
            }),
        {} });
    dialog.reset();
    floor.close();

    // Booking: the plan the dialog books, on a fresh copy of the empty book each time, beside the
    // same statements on a fresh copy of its own.
    std::vector<double> program;
    std::vector<double> floorTimes;
    int booked = 0;
    for (int i = 0; i < book.runs; ++i) {
        copyFresh(empty, target);
        copyFresh(empty, floorPath);
        openBook(target);
        ImportSource source;
        source.load(csv, &error);
        source.parse({}, &error);
        ImportPlan plan;
        plan.build(source, ValueParser::DateOrder::Unknown, QString());
        Statements statements;
        StatementRecorder::start(&statements);
        ImportPlan::Summary summary;
        QElapsedTimer timer;
        timer.start();
        if (!plan.book(&summary, &error))
            std::fprintf(stderr, "import failed: %s\n", qPrintable(error));
        program.push_back(double(timer.nsecsElapsed()) / 1e6);
        StatementRecorder::stop();
        booked = summary.booked;
        floor.open(floorPath);
        floorTimes.push_back(floor.run(statements));
        floor.close();
    }
    result.rows.push_back({ "import of every bill as CSV: booked", { median(program), median(floorTimes), true }, {} });
    // Every row is booked: bills alike in day, amount, account and title are booked as often as the file has them.
    result.notes.push_back(std::to_string(book.bills) + " bills: the CSV file holds " + std::to_string(book.bills)
        + " rows (" + std::to_string(QFile(csv).size() / 1024) + " kB), " + std::to_string(booked)
        + " booked into a new book (the backup before, one transaction).");
    forgetBook();
    return result;
}

const bool registered = registerSteps(100, "import", importRows);

} // namespace
