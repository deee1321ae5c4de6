// The import of a QIF file of as many transactions as the book has bills: read, checked and booked
// into a new book as quorvane-import does it, beside the same inserts run through SQLite alone in
// one transaction; and the import tool's peak memory beside the file's size.
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <cstdio>

#include "benchprogram.h"
#include "benchsupport.h"
#include "data/constants.h"
#include "data/dbhelper.h"
#include "import/importplan.h"
#include "import/importsource.h"

namespace {

// Two accounts' sections as a bookkeeping program exports them: purchases and income in many
// categories (two levels), a split in every tenth transaction, and a transfer every twentieth,
// listed in both sections a day apart.
QByteArray qifFile(int transactions)
{
    static const char* const categories[]
        = { "Food:Groceries", "Housing:Rent", "Transport:Bus", "Leisure:Cinema", "Health:Pharmacy", "Salary" };
    QByteArray checking = "!Account\nNChecking\nTBank\n^\n!Type:Bank\n";
    QByteArray savings = "!Account\nNSavings\nTBank\n^\n!Type:Bank\n";
    const QDate start(2010, 1, 1);
    int written = 0;
    for (int i = 0; written < transactions; ++i) {
        const QByteArray date = start.addDays(i / 25).toString(QStringLiteral("MM/dd/yyyy")).toLatin1();
        const int cents = 100 + (i * 7919) % 400000;
        const auto money = [](int value) {
            return QByteArray::number(value / 100) + '.' + QByteArray::number(100 + value % 100).mid(1);
        };
        const QByteArray amount = money(cents);
        if (i % 20 == 19 && written + 2 <= transactions) {
            const QByteArray next = start.addDays(i / 25 + 1).toString(QStringLiteral("MM/dd/yyyy")).toLatin1();
            checking += "D" + date + "\nT-" + amount + "\nPTo savings\nL[Savings]\n^\n";
            savings += "D" + next + "\nT" + amount + "\nPFrom checking\nL[Checking]\n^\n";
            written += 2;
        } else if (i % 10 == 9) {
            checking += "D" + date + "\nT-" + amount + "\nPMarket " + QByteArray::number(i % 300)
                + "\nMWeekly shop\nSFood:Groceries\n$-" + money(cents - cents / 3) + "\nSHousehold:Cleaning\n$-"
                + money(cents / 3) + "\n^\n";
            ++written;
        } else {
            const bool income = i % 13 == 0;
            checking += "D" + date + "\nT" + (income ? "" : "-") + amount + "\nPPayee " + QByteArray::number(i % 900)
                + "\nMNote " + QByteArray::number(i) + "\nL" + categories[income ? 5 : i % 5] + "\n^\n";
            ++written;
        }
    }
    return checking + savings;
}

// The peak resident size of tool importing file into a new book, in kB, as GNU time reads it from
// the kernel (the tool started from a small process: a fork of this large one would count its size);
// 0 when it failed or time is missing.
long peakOfImport(const QString& tool, const QString& book, const QString& file)
{
    QFile::remove(book);
    QProcess child;
    child.setStandardOutputFile(QProcess::nullDevice());
    child.start(QStringLiteral("/usr/bin/time"), { QStringLiteral("-f"), QStringLiteral("%M"), tool, book, file });
    if (!child.waitForFinished(600000) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        return 0;
    const QList<QByteArray> lines = child.readAllStandardError().trimmed().split('\n');
    return lines.isEmpty() ? 0 : lines.constLast().trimmed().toLong();
}

GroupResult importQif(const BenchBook& book)
{
    GroupResult result;
    useProgramFolder(book.root);
    const QString qif = book.root + QStringLiteral("/bills.qif");
    const QString empty = book.root + QStringLiteral("/empty-qif.db");
    const QString target = Constants::getInstance()->getDbDir() + benchBookName;
    const QString floorPath = book.root + QStringLiteral("/import-qif-floor.db");
    Constants::getInstance()->setBookName(QLatin1String(benchBookName));
    {
        QFile file(qif);
        if (!file.open(QIODevice::WriteOnly) || file.write(qifFile(book.bills)) < 0) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(qif));
            return result;
        }
    }
    forgetBook();
    QFile::remove(empty);
    if (!QFile::copy(QStringLiteral(":/rc/data/init.db"), empty)
        || !QFile::setPermissions(empty, QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || !DBHelper::getInstance()->initDefaultData(empty)) {
        std::fprintf(stderr, "cannot make %s\n", qPrintable(empty));
        return result;
    }

    // The whole import, as quorvane-import runs it: the file read and decoded, its transactions
    // checked against the book, the backup, then one transaction of inserts.
    Floor floor;
    std::vector<double> program;
    std::vector<double> floorTimes;
    int booked = 0;
    for (int i = 0; i < book.runs; ++i) {
        copyFresh(empty, target);
        copyFresh(empty, floorPath);
        forgetBook();
        DBHelper::openDefaultConnection(target);
        DBHelper::getInstance()->upgrade();
        Statements statements;
        QString error;
        QElapsedTimer timer;
        timer.start();
        ImportSource source;
        ImportPlan::Summary summary;
        bool ok = source.load(qif, &error) && source.parse({}, &error);
        if (ok) {
            ImportPlan plan;
            plan.build(source, ValueParser::DateOrder::Unknown, QString());
            StatementRecorder::start(&statements);
            ok = plan.book(&summary, &error);
            StatementRecorder::stop();
        }
        program.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (!ok)
            std::fprintf(stderr, "QIF import failed: %s\n", qPrintable(error));
        booked = summary.booked;
        floor.open(floorPath);
        floorTimes.push_back(floor.run(statements));
        floor.close();
    }
    forgetBook();
    result.rows.push_back({ "import of the book's size in QIF transactions: read, checked, booked",
        { median(program), median(floorTimes), true }, {} });

    // Peak memory of the tool, beyond that of the same tool importing one transaction.
    const QString tool = book.program.isEmpty()
        ? QString()
        : QFileInfo(book.program).dir().filePath(QStringLiteral("quorvane-import"));
    const qint64 fileKb = QFileInfo(qif).size() / 1024;
    if (!tool.isEmpty() && QFileInfo(tool).isExecutable()
        && QFileInfo(QStringLiteral("/usr/bin/time")).isExecutable()) {
        const QString one = book.root + QStringLiteral("/one.qif");
        QFile small(one);
        if (small.open(QIODevice::WriteOnly))
            small.write("!Type:Cash\nD2023-01-01\nT-1.00\n^\n");
        small.close();
        const long base = peakOfImport(tool, book.root + QStringLiteral("/qif-one.db"), one);
        const long peak = peakOfImport(tool, book.root + QStringLiteral("/qif-peak.db"), qif);
        Timing memory;
        memory.program = double(peak - base) / 1024.0;
        result.rows.push_back(
            { "import of the book's size in QIF transactions: peak memory beyond the tool's own", memory, "MiB" });
        char line[200];
        std::snprintf(line, sizeof line,
            "QIF: peak %.1f MiB of quorvane-import (its own %.1f MiB), %.1f times the file.", peak / 1024.0,
            base / 1024.0, double(peak - base) / double(std::max<qint64>(fileKb, 1)));
        result.notes.push_back(line);
    }
    result.notes.push_back(std::to_string(book.bills) + " QIF transactions (" + std::to_string(fileKb)
        + " kB): " + std::to_string(booked) + " bills booked into a new book (a split is two, a transfer listed in "
        + "both sections one).");
    return result;
}

const bool registered = registerSteps(101, "importqif", importQif);

} // namespace
