#pragma once

#include <QDate>
#include <QString>

// Writes a realistic book for benchmarks: the template with the default records, a few dozen
// further accounts, categories, sub-categories, borrowers and members, and bills of all seven
// kinds spread over the years before lastDay. The same options give the same book.
class BookGenerator
{
public:
    struct Options {
        int bills = 100000;
        int years = 5;
        quint32 seed = 20240601;
        QDate lastDay = QDate(2025, 12, 31);
    };

    // Creates (or replaces) the book at path. On failure returns false and sets error.
    static bool generate(const QString& path, const Options& options, QString* error);
};
