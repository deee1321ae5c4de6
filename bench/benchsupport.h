#pragma once

#include <QCommandLineOption>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <sqlite3.h>
#include <vector>

class QCoreApplication;

// What the benchmarks share: the book they run on, the timing loop, the SQL floor they compare
// with and the table they print.

// The book of a benchmark: generated from the generator's options (or an existing one given with
// --book), open on Qt's default connection for the program's code and through SQLite's C API for
// the floor.
class BenchBook {
public:
    BenchBook();
    ~BenchBook();
    BenchBook(const BenchBook&) = delete;
    BenchBook& operator=(const BenchBook&) = delete;

    // Reads the command line (--bills, --years, --seed, --runs, --book, --help), generates or takes
    // the book and opens it both ways; false after a message on stderr.
    bool open(const QCoreApplication& app, const QString& description);

    int runs() const { return runCount; }
    sqlite3* floor() const { return db; }

private:
    QCommandLineOption runsOption;
    QCommandLineOption bookOption;
    QTemporaryDir dir;
    int runCount = 7;
    sqlite3* db = nullptr;
};

struct BenchRow {
    const char* name;
    double program;
    double floor;
};

// The operations beside their floor and the ratio, under a header naming the program's column.
void printRows(const char* programColumn, const std::vector<BenchRow>& rows);

// The median time in milliseconds of runs calls of work, each after a call of prepare (not timed).
double medianMs(int runs, const std::function<void()>& prepare, const std::function<void()>& work);

// Steps through every row of sql reading each column as the data layer would: 'd' double, 'i' int,
// anything else text. Ends the program when the statement does not prepare.
void readAll(sqlite3* db, const char* sql, const std::vector<char>& types);
// The rows of the bill query with this condition, in the data layer's order, with an optional
// limit clause after it.
void readBills(sqlite3* db, const QString& condition, const QString& limit = QString());

// MBill::insert of one bill of 2025-12-31 with its change chain.
void insertBenchBill();
// The floor of the same: the insert and the queries that the change chain runs after it.
void insertBenchBillFloor(sqlite3* db);
// The floors of MAccount::calculateBalance and MBill::getMonthList.
void readAccountBalances(sqlite3* db);
void readMonthList(sqlite3* db);
