// Times the data layer's hot operations on a large book beside the same SQL run through SQLite's
// C API on the same file, and prints the medians and their ratio.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <sqlite3.h>
#include <vector>

#include "bookgenerator.h"
#include "data/maccount.h"
#include "data/mbill.h"
#include "data/mborrower.h"

namespace {

double medianMs(int runs, const std::function<void()>& prepare, const std::function<void()>& work)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        prepare();
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Steps through every row of sql reading each column as the data layer would.
void readAll(sqlite3* db, const char* sql, const std::vector<char>& types)
{
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "%s: %s\n", sql, sqlite3_errmsg(db));
        std::exit(1);
    }
    volatile double sink = 0;
    while (sqlite3_step(statement) == SQLITE_ROW) {
        for (int column = 0; column < int(types.size()); ++column) {
            switch (types[size_t(column)]) {
            case 'd':
                sink = sink + sqlite3_column_double(statement, column);
                break;
            case 'i':
                sink = sink + sqlite3_column_int(statement, column);
                break;
            default:
                sink = sink + sqlite3_column_bytes16(statement, column)
                    + (sqlite3_column_text16(statement, column) != nullptr);
            }
        }
    }
    sqlite3_finalize(statement);
}

void insertBill(sqlite3* db, int n)
{
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db,
        "insert into tbl_bill (id,amount,description,date,month,category_id,sub_category_id,account_id,to_account_id,"
        "borrower_id,member_id,title,kind)  values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) ",
        -1, &statement, nullptr);
    const std::string id = "c-api-bill-" + std::to_string(n);
    sqlite3_bind_text(statement, 1, id.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_double(statement, 2, -12.5);
    sqlite3_bind_text(statement, 3, "基准", -1, SQLITE_STATIC);
    sqlite3_bind_text(statement, 4, "2025-12-31", -1, SQLITE_STATIC);
    sqlite3_bind_int(statement, 5, 202512);
    sqlite3_bind_text(statement, 6, "01", -1, SQLITE_STATIC);
    sqlite3_bind_text(statement, 7, "01", -1, SQLITE_STATIC);
    sqlite3_bind_text(statement, 8, "01", -1, SQLITE_STATIC);
    sqlite3_bind_text(statement, 9, "", -1, SQLITE_STATIC);
    sqlite3_bind_text(statement, 10, "", -1, SQLITE_STATIC);
    sqlite3_bind_text(statement, 11, "01", -1, SQLITE_STATIC);
    sqlite3_bind_text(statement, 12, "午饭", -1, SQLITE_STATIC);
    sqlite3_bind_text(statement, 13, "expense", -1, SQLITE_STATIC);
    if (sqlite3_step(statement) != SQLITE_DONE)
        std::fprintf(stderr, "insert: %s\n", sqlite3_errmsg(db));
    sqlite3_finalize(statement);
}

const char* const billColumns = "select id,amount,description,date,month,category_id,sub_category_id,account_id,"
                                "to_account_id,borrower_id, member_id, title, kind from tbl_bill where ";
const std::vector<char> billTypes = { 's', 'd', 's', 's', 'i', 's', 's', 's', 's', 's', 's', 's', 's' };
const char* const accountTotals = "select account_id, total(amount) from tbl_bill group by account_id";
const char* const targetTotals = "select to_account_id, total(amount) from tbl_bill group by to_account_id";
const char* const borrowerTotals = "select borrower_id, total(amount) a from tbl_bill group by borrower_id";
const char* const monthList = "select distinct month  from tbl_bill order by month desc";

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Data layer benchmark against SQLite's C API."));
    parser.addHelpOption();
    BookGenerator::addOptions(parser);
    const QCommandLineOption runs(
        QStringLiteral("runs"), QStringLiteral("Runs per figure (median)."), QStringLiteral("n"), QStringLiteral("7"));
    const QCommandLineOption bookOption(QStringLiteral("book"),
        QStringLiteral("Use this existing book instead of generating one (it gets a few bills)."),
        QStringLiteral("file"));
    parser.addOptions({ runs, bookOption });
    parser.process(app);
    const int runCount = std::max(1, parser.value(runs).toInt());

    QTemporaryDir dir;
    QString path = parser.value(bookOption);
    if (path.isEmpty()) {
        path = dir.filePath(QStringLiteral("bench.db"));
        BookGenerator::Options options;
        QString error;
        QElapsedTimer timer;
        timer.start();
        if (!BookGenerator::readOptions(parser, &options, &error) || !BookGenerator::generate(path, options, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        std::printf("Generated %d bills over %d years in %lld ms\n", options.bills, options.years,
            static_cast<long long>(timer.elapsed()));
    }

    QSqlDatabase book = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    book.setDatabaseName(path);
    sqlite3* db = nullptr;
    if (!book.open() || sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
        return 1;
    }

    const QList<int> months = *MBill::getMonthList();
    const int month = months.isEmpty() ? 202512 : months.at(months.size() / 2);
    const QString monthCondition = QStringLiteral(" 1=1  and month=%1").arg(month);
    const std::string monthSql
        = std::string(billColumns) + monthCondition.toStdString() + " order by date desc, created_time desc";
    const std::string allSql = std::string(billColumns) + " 1=1  order by date desc, created_time desc";
    const auto noPrepare = [] {};
    const auto dropBills = [] { MBill::resetState(); };

    struct Row {
        const char* name;
        double qt;
        double floor;
    };
    std::vector<Row> rows;
    int found = 0;
    rows.push_back({ "MBill::get, one month",
        medianMs(runCount, dropBills, [&] { found = int(MBill::get(monthCondition)->size()); }),
        medianMs(runCount, noPrepare, [&] { readAll(db, monthSql.c_str(), billTypes); }) });
    const int monthBills = found;
    rows.push_back({ "MBill::get, all bills",
        medianMs(runCount, dropBills, [&] { found = int(MBill::get(QStringLiteral(" 1=1 "))->size()); }),
        medianMs(runCount, noPrepare, [&] { readAll(db, allSql.c_str(), billTypes); }) });
    const int allBills = found;
    MAccount::get();
    rows.push_back({ "MAccount::calculateBalance", medianMs(runCount, noPrepare, [] { MAccount::calculateBalance(); }),
        medianMs(runCount, noPrepare, [&] {
            readAll(db, accountTotals, { 's', 'd' });
            readAll(db, targetTotals, { 's', 'd' });
        }) });
    rows.push_back({ "MBill::getMonthList", medianMs(runCount, noPrepare, [] { MBill::getMonthList(); }),
        medianMs(runCount, noPrepare, [&] { readAll(db, monthList, { 'i' }); }) });
    MBorrower::get();
    MBill::getMonthList();
    int inserted = 0;
    rows.push_back({ "MBill::insert + change chain",
        medianMs(runCount, noPrepare,
            [] {
                MBill bill;
                bill.setKind(QStringLiteral("expense"));
                bill.setAmount(-12.5);
                bill.setDescription(QStringLiteral("基准"));
                bill.setDate(QDate(2025, 12, 31));
                bill.setMonth(202512);
                bill.setCategoryId(QStringLiteral("01"));
                bill.setSubCategoryId(QStringLiteral("01"));
                bill.setAccountId(QStringLiteral("01"));
                bill.setMemberId(QStringLiteral("01"));
                bill.setTitle(QStringLiteral("午饭"));
                MBill::insert(&bill);
            }),
        medianMs(runCount, noPrepare, [&] {
            insertBill(db, ++inserted);
            readAll(db, accountTotals, { 's', 'd' });
            readAll(db, targetTotals, { 's', 'd' });
            readAll(db, borrowerTotals, { 's', 'd' });
            readAll(db, monthList, { 'i' });
        }) });

    std::printf("\nBook: %d bills, %d months; one month (%d) has %d bills. Median of %d runs.\n\n", allBills,
        int(months.size()), month, monthBills, runCount);
    std::printf("%-32s %14s %14s %8s\n", "operation", "data layer ms", "SQLite C ms", "ratio");
    for (const Row& row : rows)
        std::printf("%-32s %14.2f %14.2f %8.2f\n", row.name, row.qt, row.floor, row.floor > 0 ? row.qt / row.floor : 0);
    sqlite3_close(db);
    return 0;
}
