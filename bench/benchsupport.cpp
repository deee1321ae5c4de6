#include "benchsupport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bookgenerator.h"
#include "data/mbill.h"

namespace {

const char* const billColumns = "select id,amount,description,date,month,category_id,sub_category_id,account_id,"
                                "to_account_id,borrower_id, member_id, title, kind from tbl_bill where ";
const std::vector<char> billTypes = { 's', 'd', 's', 's', 'i', 's', 's', 's', 's', 's', 's', 's', 's' };
const char* const accountTotals = "select account_id, total(amount) from tbl_bill group by account_id";
const char* const targetTotals = "select to_account_id, total(amount) from tbl_bill group by to_account_id";
const char* const borrowerTotals = "select borrower_id, total(amount) a from tbl_bill group by borrower_id";
const char* const monthList = "select distinct month  from tbl_bill order by month desc";

} // namespace

BenchBook::BenchBook()
    : runsOption(
        QStringLiteral("runs"), QStringLiteral("Runs per figure (median)."), QStringLiteral("n"), QStringLiteral("7"))
    , bookOption(QStringLiteral("book"),
          QStringLiteral("Use this existing book instead of generating one (it gets a few bills)."),
          QStringLiteral("file"))
{
}

BenchBook::~BenchBook()
{
    sqlite3_close(db);
}

bool BenchBook::open(const QCoreApplication& app, const QString& description)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    BookGenerator::addOptions(parser);
    parser.addOptions({ runsOption, bookOption });
    parser.process(app);

    runCount = std::max(1, parser.value(runsOption).toInt());
    QString path = parser.value(bookOption);
    if (path.isEmpty()) {
        path = dir.filePath(QStringLiteral("bench.db"));
        BookGenerator::Options options;
        QString error;
        QElapsedTimer timer;
        timer.start();
        if (!BookGenerator::readOptions(parser, &options, &error) || !BookGenerator::generate(path, options, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return false;
        }
        std::printf("Generated %d bills over %d years in %lld ms\n", options.bills, options.years,
            static_cast<long long>(timer.elapsed()));
    }

    QSqlDatabase book = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    book.setDatabaseName(path);
    if (!book.open() || sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
        return false;
    }
    return true;
}

void printRows(const char* programColumn, const std::vector<BenchRow>& rows)
{
    std::printf("%-36s %14s %14s %8s\n", "operation", programColumn, "SQLite C ms", "ratio");
    for (const BenchRow& row : rows) {
        std::printf("%-36s %14.2f %14.2f %8.2f\n", row.name, row.program, row.floor,
            row.floor > 0 ? row.program / row.floor : 0);
    }
}

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

void readBills(sqlite3* db, const QString& condition, const QString& limit)
{
    const std::string sql
        = billColumns + condition.toStdString() + " order by date desc, created_time desc " + limit.toStdString();
    readAll(db, sql.c_str(), billTypes);
}

void insertBenchBill()
{
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
}

void insertBenchBillFloor(sqlite3* db)
{
    static int inserted = 0;
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db,
        "insert into tbl_bill (id,amount,description,date,month,category_id,sub_category_id,account_id,to_account_id,"
        "borrower_id,member_id,title,kind)  values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) ",
        -1, &statement, nullptr);
    const std::string id = "c-api-bill-" + std::to_string(++inserted);
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
    readAccountBalances(db);
    readAll(db, borrowerTotals, { 's', 'd' });
    readMonthList(db);
}

void readAccountBalances(sqlite3* db)
{
    readAll(db, accountTotals, { 's', 'd' });
    readAll(db, targetTotals, { 's', 'd' });
}

void readMonthList(sqlite3* db)
{
    readAll(db, monthList, { 'i' });
}
