// Times the data layer's hot operations on a large book beside the same SQL run through SQLite's
// C API on the same file, and prints the medians and their ratio.
#include <QCoreApplication>
#include <QLoggingCategory>
#include <cstdio>
#include <vector>

#include "benchsupport.h"
#include "data/maccount.h"
#include "data/mbill.h"
#include "data/mborrower.h"

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    BenchBook book;
    if (!book.open(app, QStringLiteral("Data layer benchmark against SQLite's C API.")))
        return 1;
    const int runCount = book.runs();
    sqlite3* db = book.floor();

    const QList<int> months = *MBill::getMonthList();
    const int month = months.isEmpty() ? 202512 : months.at(months.size() / 2);
    const QString monthCondition = QStringLiteral(" 1=1  and month=%1").arg(month);
    const auto noPrepare = [] {};
    const auto dropBills = [] { MBill::resetState(); };

    std::vector<BenchRow> rows;
    int found = 0;
    rows.push_back({ "MBill::get, one month",
        medianMs(runCount, dropBills, [&] { found = int(MBill::get(monthCondition)->size()); }),
        medianMs(runCount, noPrepare, [&] { readBills(db, monthCondition); }) });
    const int monthBills = found;
    rows.push_back({ "MBill::get, all bills",
        medianMs(runCount, dropBills, [&] { found = int(MBill::get(QStringLiteral(" 1=1 "))->size()); }),
        medianMs(runCount, noPrepare, [&] { readBills(db, QStringLiteral(" 1=1 ")); }) });
    const int allBills = found;
    MAccount::get();
    rows.push_back({ "MAccount::calculateBalance", medianMs(runCount, noPrepare, [] { MAccount::calculateBalance(); }),
        medianMs(runCount, noPrepare, [&] { readAccountBalances(db); }) });
    rows.push_back({ "MBill::getMonthList", medianMs(runCount, noPrepare, [] { MBill::getMonthList(); }),
        medianMs(runCount, noPrepare, [&] { readMonthList(db); }) });
    MBorrower::get();
    MBill::getMonthList();
    rows.push_back({ "MBill::insert + change chain", medianMs(runCount, noPrepare, insertBenchBill),
        medianMs(runCount, noPrepare, [&] { insertBenchBillFloor(db); }) });

    std::printf("\nBook: %d bills, %d months; one month (%d) has %d bills. Median of %d runs.\n\n", allBills,
        int(months.size()), month, monthBills, runCount);
    printRows("data layer ms", rows);
    return 0;
}
