#pragma once

#include <QProcess>
#include <QString>
#include <functional>
#include <sqlite3.h>
#include <string>
#include <vector>

// What the benchmark needs beside the program's own classes: the statements the program sends to
// SQLite, a connection that runs them again through the C API alone, the timing loop and the table.

// The SQL statements one step of the program ran, with their bound values written in.
using Statements = std::vector<std::string>;

// Records every statement that the program's connections start, through a trace installed on each
// connection SQLite opens in this process (Qt's driver uses the same SQLite library).
class StatementRecorder {
public:
    // Call before any connection is opened.
    static void install();
    // Connections that are never recorded (the floor's own), until they close.
    static void ignore(sqlite3* db);
    static void unignore(sqlite3* db);
    // Records into target until stop(); a null target records nothing.
    static void start(Statements* target);
    static void stop();
};

// A connection of its own on a copy of the program's book: the SQLite floor of each step is the time
// these statements take on it, every row stepped through and every column read in its stored type.
class Floor {
public:
    Floor() = default;
    ~Floor();
    Floor(const Floor&) = delete;
    Floor& operator=(const Floor&) = delete;

    bool open(const QString& path);
    void close();
    // Milliseconds for running the statements; a statement that fails is reported on stderr.
    double run(const Statements& statements);

private:
    sqlite3* db = nullptr;
};

// The middle value of values (the upper one of an even count); 0 for none.
double median(std::vector<double> values);

// Times work runs times, each after prepare (not timed) and each recording the statements it runs;
// gives the median program time and the median floor time of running the same statements.
struct Timing {
    double program = 0;
    double floor = 0;
    bool anySql = false;
};
Timing timeStep(int runs, Floor& floor, const std::function<void()>& prepare, const std::function<void()>& work);
// Makes timeStep print the statements of each step's last run to stderr.
void showStatements(bool show);

// One row of the table: the step and its timing for each book size. A row with a unit holds a
// figure that is no time (a memory size): it is printed in that unit, without a floor.
struct TableRow {
    std::string name;
    std::vector<Timing> timings;
    std::string unit;
};
void printTable(const std::vector<int>& bookSizes, const std::vector<TableRow>& rows);

// A line of /proc/self/status in kB ("VmRSS", "VmHWM", "RssAnon", "RssFile"); 0 when unknown.
// The load average of the last 1, 5 and 15 minutes: other work on the machine shows in every figure.
QString loadAverage();

long statusKb(const char* key);
// The same line of another process's status.
long statusKbOf(qint64 pid, const char* key);
// The proportional set size of a process (its share of every page it maps, from
// /proc/PID/smaps_rollup) in kB; 0 when unknown.
long pssKbOf(qint64 pid);
// Waits up to timeoutMs for child, started by the caller, to end and reads the figures it printed on
// its standard output, separated by spaces; empty when it did not end or ended with an error.
std::vector<long> figuresOf(QProcess& child, int timeoutMs);

// The steps of the benchmark come in groups, each in a source file of its own that registers it
// (see registerSteps). For every book size, each group gets the book and gives its rows; the table
// shows the rows of all groups in the order of the groups, then of their rows.
struct BenchBook {
    int bills = 0;
    int years = 0;
    // The generated book: copy it, never change it.
    QString generated;
    // A folder of this size's own, for program folders and copies.
    QString root;
    int runs = 1;
    // This benchmark's executable, for measurements in a process of their own.
    QString benchProgram;
    // The program whose own start-up is measured (--program); empty when not asked for.
    QString program;
};
struct StepResult {
    std::string name;
    Timing timing;
    std::string unit;
};
struct GroupResult {
    std::vector<StepResult> rows;
    // Lines printed under the table (what the book holds, how a figure was taken).
    std::vector<std::string> notes;
};
using StepGroup = std::function<GroupResult(const BenchBook& book)>;
// Registers a group under a short name (what --only picks it by); groups run in the order of their
// rank (the main road is 0). Returns true, so that a source file registers with
//     const bool registered = registerSteps(100, "name", [](const BenchBook& book) { ... });
bool registerSteps(int rank, const char* name, const StepGroup& group);
struct NamedGroup {
    QString name;
    StepGroup group;
};
// The groups, in rank order.
std::vector<NamedGroup> registeredSteps();
// Handlers of a command-line mode in a process of its own ("--memory-of BOOK"): the value of the
// option, the return code of the process.
using ChildMode = std::function<int(const QString& value)>;
bool registerChildMode(const QString& option, const QString& description, const ChildMode& mode);
struct ChildModeEntry {
    QString option;
    QString description;
    ChildMode mode;
};
std::vector<ChildModeEntry> registeredChildModes();
