#include "benchsupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <cstdio>

namespace {

Statements* recording = nullptr;
bool showingStatements = false;
std::vector<sqlite3*> ignoredConnections;

int traceStatement(unsigned type, void*, void* statementPointer, void* text)
{
    if (type != SQLITE_TRACE_STMT || !recording)
        return 0;
    auto* statement = static_cast<sqlite3_stmt*>(statementPointer);
    const sqlite3* db = sqlite3_db_handle(statement);
    if (std::find(ignoredConnections.begin(), ignoredConnections.end(), db) != ignoredConnections.end())
        return 0;
    const char* sql = static_cast<const char*>(text);
    // Triggers announce themselves as comments; the floor runs them as part of their statement.
    if (sql && sql[0] == '-' && sql[1] == '-')
        return 0;
    char* expanded = sqlite3_expanded_sql(statement);
    recording->push_back(expanded ? expanded : (sql ? sql : ""));
    sqlite3_free(expanded);
    return 0;
}

// The floor's stand-in for the aggregate through which the program reads every row of a pass
// (SqliteReader::forEachRow): it reads each value in its stored type, as the floor reads columns.
volatile double eachRowSink = 0;

void eachRowStep(sqlite3_context*, int count, sqlite3_value** values)
{
    for (int i = 0; i < count; ++i) {
        switch (sqlite3_value_type(values[i])) {
        case SQLITE_INTEGER:
            eachRowSink = eachRowSink + double(sqlite3_value_int64(values[i]));
            break;
        case SQLITE_FLOAT:
            eachRowSink = eachRowSink + sqlite3_value_double(values[i]);
            break;
        case SQLITE_TEXT:
            eachRowSink = eachRowSink + (sqlite3_value_text(values[i]) != nullptr) + sqlite3_value_bytes(values[i]);
            break;
        case SQLITE_BLOB:
            eachRowSink = eachRowSink + (sqlite3_value_blob(values[i]) != nullptr) + sqlite3_value_bytes(values[i]);
            break;
        default:
            break;
        }
    }
}

void eachRowFinal(sqlite3_context* context)
{
    sqlite3_result_null(context);
}

int traceConnection(sqlite3* db, char**, const sqlite3_api_routines*)
{
    sqlite3_trace_v2(db, SQLITE_TRACE_STMT, traceStatement, nullptr);
    return SQLITE_OK;
}

} // namespace

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

void StatementRecorder::install()
{
    sqlite3_auto_extension(reinterpret_cast<void (*)()>(traceConnection));
}

void StatementRecorder::ignore(sqlite3* db)
{
    ignoredConnections.push_back(db);
}

void StatementRecorder::unignore(sqlite3* db)
{
    ignoredConnections.erase(
        std::remove(ignoredConnections.begin(), ignoredConnections.end(), db), ignoredConnections.end());
}

void StatementRecorder::start(Statements* target)
{
    recording = target;
}

void StatementRecorder::stop()
{
    recording = nullptr;
}

Floor::~Floor()
{
    close();
}

bool Floor::open(const QString& path)
{
    close();
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(path), sqlite3_errmsg(db));
        close();
        return false;
    }
    StatementRecorder::ignore(db);
    sqlite3_create_function_v2(
        db, "quorvane_each_row", -1, SQLITE_UTF8, nullptr, nullptr, eachRowStep, eachRowFinal, nullptr);
    return true;
}

void Floor::close()
{
    if (db) {
        // The address may be given to the next connection, which may be the program's.
        StatementRecorder::unignore(db);
        sqlite3_close(db);
    }
    db = nullptr;
}

double Floor::run(const Statements& statements)
{
    QElapsedTimer timer;
    timer.start();
    volatile double sink = 0;
    for (const std::string& sql : statements) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
            std::fprintf(stderr, "floor: %s: %s\n", sql.c_str(), sqlite3_errmsg(db));
            continue;
        }
        int result = SQLITE_ROW;
        while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
            const int columns = sqlite3_column_count(statement);
            for (int column = 0; column < columns; ++column) {
                switch (sqlite3_column_type(statement, column)) {
                case SQLITE_INTEGER:
                    sink = sink + double(sqlite3_column_int64(statement, column));
                    break;
                case SQLITE_FLOAT:
                    sink = sink + sqlite3_column_double(statement, column);
                    break;
                case SQLITE_TEXT:
                    sink = sink + (sqlite3_column_text(statement, column) != nullptr)
                        + sqlite3_column_bytes(statement, column);
                    break;
                case SQLITE_BLOB:
                    sink = sink + (sqlite3_column_blob(statement, column) != nullptr)
                        + sqlite3_column_bytes(statement, column);
                    break;
                default:
                    break;
                }
            }
        }
        if (result != SQLITE_DONE)
            std::fprintf(stderr, "floor: %s: %s\n", sql.c_str(), sqlite3_errmsg(db));
        sqlite3_finalize(statement);
    }
    return double(timer.nsecsElapsed()) / 1e6;
}

Timing timeStep(int runs, Floor& floor, const std::function<void()>& prepare, const std::function<void()>& work)
{
    std::vector<double> program;
    std::vector<double> floorTimes;
    Statements lastRun;
    Timing timing;
    for (int i = 0; i < runs; ++i) {
        // What the preparation runs is run on the floor's copy too, untimed, so both books stay alike.
        Statements prepared;
        StatementRecorder::start(&prepared);
        prepare();
        StatementRecorder::stop();
        floor.run(prepared);

        Statements statements;
        StatementRecorder::start(&statements);
        QElapsedTimer timer;
        timer.start();
        work();
        program.push_back(double(timer.nsecsElapsed()) / 1e6);
        StatementRecorder::stop();
        timing.anySql = timing.anySql || !statements.empty();
        floorTimes.push_back(floor.run(statements));
        lastRun.swap(statements);
    }
    if (showingStatements) {
        for (const std::string& sql : lastRun)
            std::fprintf(stderr, "    %.200s\n", sql.c_str());
        std::fprintf(stderr, "  (%zu statements)\n", lastRun.size());
    }
    timing.program = median(program);
    timing.floor = median(floorTimes);
    return timing;
}

void showStatements(bool show)
{
    showingStatements = show;
}

void printTable(const std::vector<int>& bookSizes, const std::vector<TableRow>& rows)
{
    std::printf("| step (median ms) |");
    for (int bills : bookSizes)
        std::printf(" %d bills | SQLite | ratio |", bills);
    std::printf("\n|---|");
    for (size_t i = 0; i < bookSizes.size(); ++i)
        std::printf("---:|---:|---:|");
    std::printf("\n");
    for (const TableRow& row : rows) {
        std::printf("| %s |", row.name.c_str());
        for (const Timing& timing : row.timings) {
            if (!row.unit.empty())
                std::printf(" %.1f %s | - | - |", timing.program, row.unit.c_str());
            else if (timing.anySql && timing.floor >= 0.05)
                std::printf(" %.1f | %.1f | %.2f |", timing.program, timing.floor, timing.program / timing.floor);
            else if (timing.anySql)
                std::printf(" %.1f | %.1f | - |", timing.program, timing.floor);
            else
                std::printf(" %.1f | no SQL | - |", timing.program);
        }
        std::printf("\n");
    }
}

namespace {

long statusLine(const QString& path, const char* key)
{
    // /proc files report no size: read them whole.
    QFile status(path);
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray& line : lines) {
        if (line.startsWith(QByteArray(key) + ':'))
            return line.mid(int(qstrlen(key)) + 1).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

struct RankedGroup {
    int rank;
    NamedGroup named;
};

std::vector<RankedGroup>& groups()
{
    static std::vector<RankedGroup> registered;
    return registered;
}

std::vector<ChildModeEntry>& childModes()
{
    static std::vector<ChildModeEntry> registered;
    return registered;
}

} // namespace

long statusKb(const char* key)
{
    return statusLine(QStringLiteral("/proc/self/status"), key);
}

long statusKbOf(qint64 pid, const char* key)
{
    return statusLine(QStringLiteral("/proc/%1/status").arg(pid), key);
}

long pssKbOf(qint64 pid)
{
    return statusLine(QStringLiteral("/proc/%1/smaps_rollup").arg(pid), "Pss");
}

std::vector<long> figuresOf(QProcess& child, int timeoutMs)
{
    std::vector<long> values;
    if (!child.waitForFinished(timeoutMs) || child.exitCode() != 0)
        return values;
    for (const QByteArray& value : child.readAllStandardOutput().trimmed().split(' '))
        values.push_back(value.toLong());
    return values;
}

bool registerSteps(int rank, const char* name, const StepGroup& group)
{
    groups().push_back({ rank, { QString::fromLatin1(name), group } });
    return true;
}

std::vector<NamedGroup> registeredSteps()
{
    std::vector<RankedGroup> ranked = groups();
    std::stable_sort(
        ranked.begin(), ranked.end(), [](const RankedGroup& a, const RankedGroup& b) { return a.rank < b.rank; });
    std::vector<NamedGroup> result;
    for (const RankedGroup& entry : ranked)
        result.push_back(entry.named);
    return result;
}

bool registerChildMode(const QString& option, const QString& description, const ChildMode& mode)
{
    childModes().push_back({ option, description, mode });
    return true;
}

std::vector<ChildModeEntry> registeredChildModes()
{
    return childModes();
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}
