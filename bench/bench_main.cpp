// Times the program on generated books beside SQLite's C API: every registered group of steps
// (bench_*.cpp) runs on a book of each size, and one table shows them all, each figure beside the
// time of the same SQL statements run through SQLite alone on a copy of the same book.
#include <QApplication>
#include <QCommandLineParser>
#include <QDate>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <map>

#include "bench_analysis.h"
#include "benchsupport.h"
#include "benchsync.h"
#include "bookgenerator.h"

int main(int argc, char* argv[])
{
    // The steps run offscreen; a program measured in a process of its own gets the display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Before any connection opens, so that every statement of the program is seen.
    StatementRecorder::install();
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\nqt.qpa.*=false"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Times the program's main road on generated books beside SQLite's C API."));
    parser.addHelpOption();
    const QCommandLineOption sizesOption(QStringLiteral("sizes"),
        QStringLiteral("Comma-separated numbers of bills, one book each."), QStringLiteral("list"),
        QStringLiteral("10000,100000"));
    const QCommandLineOption yearsOption(
        QStringLiteral("years"), QStringLiteral("Years the bills span, up to today."), QStringLiteral("n"), "5");
    const QCommandLineOption runsOption(
        QStringLiteral("runs"), QStringLiteral("Runs per figure (median)."), QStringLiteral("n"), "7");
    const QCommandLineOption programOption(QStringLiteral("program"),
        QStringLiteral("Also measure the start-up of this build of the program, started on its own."),
        QStringLiteral("path"));
    const QCommandLineOption sqlOption(
        QStringLiteral("show-sql"), QStringLiteral("Print the statements of every step on stderr."));
    const QCommandLineOption onlyOption(QStringLiteral("only"),
        QStringLiteral(
            "Comma-separated groups to run, of mainroad, startup, bookfiles, import, importqif, sync and analysis "
            "(all when not given)."),
        QStringLiteral("list"));
    parser.addOptions({ sizesOption, yearsOption, runsOption, programOption, sqlOption, onlyOption });
    const std::vector<ChildModeEntry> childModes = registeredChildModes();
    for (const ChildModeEntry& mode : childModes)
        parser.addOption(QCommandLineOption(mode.option, mode.description, QStringLiteral("value")));
    parser.process(app);
    showStatements(parser.isSet(sqlOption));
    for (const ChildModeEntry& mode : childModes) {
        if (parser.isSet(mode.option))
            return mode.mode(parser.value(mode.option));
    }

    const int runs = std::max(1, parser.value(runsOption).toInt());
    const int years = std::max(1, parser.value(yearsOption).toInt());
    std::vector<int> sizes;
    for (const QString& size : parser.value(sizesOption).split(QLatin1Char(','), Qt::SkipEmptyParts))
        sizes.push_back(size.toInt());
    const QStringList only = parser.value(onlyOption).split(QLatin1Char(','), Qt::SkipEmptyParts);
    const auto wanted = [&only](const QString& name) { return only.isEmpty() || only.contains(name); };
    std::vector<StepGroup> groups;
    for (const NamedGroup& group : registeredSteps()) {
        if (wanted(group.name))
            groups.push_back(group.group);
    }

    const QString loadBefore = loadAverage();
    QTemporaryDir home;
    // Rows by name in the order they first came, each with a figure per book size.
    std::vector<TableRow> rows;
    std::map<std::string, size_t> rowAt;
    std::vector<std::string> notes;
    for (size_t size = 0; size < sizes.size(); ++size) {
        BookGenerator::Options options;
        options.bills = sizes[size];
        options.years = years;
        BenchBook book;
        book.bills = sizes[size];
        book.years = years;
        book.generated = home.filePath(QStringLiteral("%1.db").arg(book.bills));
        book.runs = runs;
        book.benchProgram = QCoreApplication::applicationFilePath();
        book.program = parser.value(programOption);
        QString error;
        if (!BookGenerator::generate(book.generated, options, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        for (size_t group = 0; group < groups.size(); ++group) {
            book.root = home.filePath(QStringLiteral("%1-%2").arg(book.bills).arg(group));
            const GroupResult result = groups[group](book);
            for (const StepResult& step : result.rows) {
                auto at = rowAt.find(step.name);
                if (at == rowAt.end()) {
                    at = rowAt.emplace(step.name, rows.size()).first;
                    rows.push_back({ step.name, std::vector<Timing>(sizes.size()), step.unit });
                }
                rows[at->second].timings[size] = step.timing;
            }
            notes.insert(notes.end(), result.notes.begin(), result.notes.end());
        }
        std::fprintf(stderr, "%d bills done\n", book.bills);
    }

    std::printf("\nBills over %d years up to %s; median of %d runs; the SQLite column runs the statements the "
                "program ran, on a copy of the same book. Load average (1, 5, 15 min) %s at the start, %s at the "
                "end; %d processors.\n\n",
        years, qPrintable(QDate::currentDate().toString(Qt::ISODate)), runs, qPrintable(loadBefore),
        qPrintable(loadAverage()), QThread::idealThreadCount());
    printTable(sizes, rows);
    std::printf("\n");
    for (const std::string& note : notes)
        std::printf("- %s\n", note.c_str());
    if (wanted(QStringLiteral("sync")))
        benchSync(home.filePath(QStringLiteral("%1.db").arg(sizes.back())), sizes.back(), runs);
    if (wanted(QStringLiteral("analysis")))
        benchAnalyses(
            sizes, [&home](int bills) { return home.filePath(QStringLiteral("%1.db").arg(bills)); }, runs);
    return 0;
}
