#pragma once

#include <QDate>
#include <QString>

class QCommandLineParser;

// Writes a realistic book for benchmarks: the template with the default records, a few dozen
// further accounts, categories, sub-categories, borrowers and members, and bills of all seven
// kinds spread over the years up to lastDay. The same options and last day give the same book, but
// that no version is later than the moment it is written: bills of today after that moment take it.
class BookGenerator {
public:
    struct Options {
        int bills = 100000;
        int years = 5;
        quint32 seed = 20240601;
        // Today by default, so that the current month has bills.
        QDate lastDay = QDate::currentDate();
    };

    // Creates (or replaces) the book at path. On failure returns false and sets error.
    static bool generate(const QString& path, const Options& options, QString* error);

    // The --bills, --years and --seed options of the tools that generate books, and their values;
    // readOptions is false (with error) for values out of range.
    static void addOptions(QCommandLineParser& parser);
    static bool readOptions(const QCommandLineParser& parser, Options* options, QString* error);
};
