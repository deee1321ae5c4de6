#include "analysis/reporthelper.h"

#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariantList>
#include <cmath>

#include "data/logging.h"
#include "data/mbill.h"
#include "data/money.h"

namespace {

std::function<QDate()>& todayFunction()
{
    static std::function<QDate()> clock;
    return clock;
}

// Months outside these years are taken for damaged data (an import that left 0 or a lone month
// number): they would make the year list run back to the year 0.
const int FirstPlausibleMonth = 190001;
const int LastPlausibleMonth = 999912;

struct ScopeFilter {
    QString sql;
    QVariantList values;
};

ScopeFilter scopeFilter(const QString& scope, int value)
{
    if (scope == QLatin1String("all"))
        return { QStringLiteral(" 1=1 "), {} };
    if (scope == QLatin1String("month"))
        return { QStringLiteral(" month=? "), { value } };
    if (scope == QLatin1String("year"))
        return { QStringLiteral(" month>=? and month <=? "), { value * 100 + 1, value * 100 + 12 } };
    return { QStringLiteral(" 0=1 "), {} };
}

// Runs sql with values bound and hands every row to onRow. A failed statement yields no rows.
void forEachRow(const QString& sql, const QVariantList& values, const std::function<void(const QSqlQuery&)>& onRow)
{
    QSqlQuery query;
    query.setForwardOnly(true);
    if (!query.prepare(sql)) {
        qCWarning(lcSql) << sql << "failed:" << query.lastError().text();
        return;
    }
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (!query.exec()) {
        qCWarning(lcSql) << sql << "failed:" << query.lastError().text();
        return;
    }
    while (query.next())
        onRow(query);
}

// A sum is a divisor only when it is not zero in cents: float noise must not make a share.
double shareOf(double part, double whole)
{
    return roundToCents(whole) != 0.0 ? part / whole : 0.0;
}

// Where each entity's id stands in the list.
template <typename Row> QHash<QString, int> indexById(const QList<Row>& rows)
{
    QHash<QString, int> index;
    for (int i = 0; i < rows.size(); ++i)
        index.insert(rows.at(i).id, i);
    return index;
}

// Loads "select id, name ..." rows as entities with zero figures.
template <typename Row> QList<Row> loadEntities(const QString& sql, const QVariantList& values = {})
{
    QList<Row> rows;
    forEachRow(sql, values, [&](const QSqlQuery& query) {
        Row row;
        row.id = query.value(0).toString();
        row.name = query.value(1).toString();
        rows.append(row);
    });
    return rows;
}

// Adds a group's sums to the row of its kind: expense and income, other kinds ignored.
void addPeriodGroup(MPeriodStat* row, MPeriodStat* sums, const QString& kind, double amount)
{
    if (kind == MBill::Expense) {
        row->expense += amount;
        sums->expense += amount;
    } else if (kind == MBill::Income) {
        row->income += amount;
        sums->income += amount;
    }
    row->total = row->expense + row->income;
}

MPeriodStat totalPeriodRow(const MPeriodStat& sums)
{
    MPeriodStat total = sums;
    total.name = QObject::tr("合计");
    total.total = total.expense + total.income;
    return total;
}

} // namespace

ReportHelper::ReportHelper(QObject* parent)
    : QObject(parent)
{
}

QDate ReportHelper::today()
{
    return todayFunction() ? todayFunction()() : QDate::currentDate();
}

void ReportHelper::setToday(std::function<QDate()> clockFunction)
{
    todayFunction() = std::move(clockFunction);
}

QList<int> ReportHelper::getYearList()
{
    const QDate now = today();
    int firstMonth = 0;
    forEachRow(QStringLiteral("select min(month) from tbl_bill where month>=? and month<=?"),
        { FirstPlausibleMonth, LastPlausibleMonth },
        [&](const QSqlQuery& query) { firstMonth = query.value(0).toInt(); });
    if (firstMonth == 0)
        firstMonth = now.year() * 100 + now.month();
    const int firstYear = firstMonth / 100;
    QList<int> years;
    for (int year = std::max(now.year(), firstYear); year >= std::min(now.year(), firstYear); --year)
        years.append(year);
    return years;
}

QList<int> ReportHelper::getMonthList()
{
    QList<int> months;
    for (int month = 1; month <= 12; ++month)
        months.append(month);
    return months;
}

QList<MPeriodStat> ReportHelper::statYear(int year)
{
    QList<MPeriodStat> rows;
    for (int month = 1; month <= 12; ++month) {
        MPeriodStat row;
        row.name = QString::number(year * 100 + month);
        rows.append(row);
    }
    MPeriodStat sums;
    forEachRow(QStringLiteral("select month, kind, total(amount) from tbl_bill where month>=? and month <=? "
                              "group by month,kind "),
        { year * 100 + 1, year * 100 + 12 }, [&](const QSqlQuery& query) {
            const int month = query.value(0).toInt() % 100;
            if (month < 1 || month > 12)
                return;
            addPeriodGroup(&rows[month - 1], &sums, query.value(1).toString(), query.value(2).toDouble());
        });
    rows.append(totalPeriodRow(sums));
    return rows;
}

QList<MPeriodStat> ReportHelper::statMonth(int month)
{
    const QDate first(month / 100, month % 100, 1);
    QList<MPeriodStat> rows;
    for (int day = 1; day <= first.daysInMonth(); ++day) {
        MPeriodStat row;
        row.name = first.addDays(day - 1).toString(QStringLiteral("yyyy-MM-dd"));
        rows.append(row);
    }
    MPeriodStat sums;
    forEachRow(QStringLiteral("select date, kind, total(amount) from tbl_bill where month=? group by date,kind "),
        { month }, [&](const QSqlQuery& query) {
            // The bills of the month are those the year view counts in its row, whatever their date
            // says: a bill whose date lies in another month (only an import or a synchronisation
            // makes one) goes to the day of its date's number. One whose day this month lacks, or
            // whose date cannot be read, counts in the total alone.
            const QDate date = QDate::fromString(query.value(0).toString(), QStringLiteral("yyyy-MM-dd"));
            MPeriodStat ignored;
            MPeriodStat* row = date.isValid() && date.day() <= rows.size() ? &rows[date.day() - 1] : &ignored;
            addPeriodGroup(row, &sums, query.value(1).toString(), query.value(2).toDouble());
        });
    rows.append(totalPeriodRow(sums));
    return rows;
}

QList<MCategoryStat> ReportHelper::getCategoryData(const QString& kind, const QString& scope, int value)
{
    QList<MCategoryStat> rows;
    forEachRow(
        QStringLiteral("select id, name, kind from tbl_category where kind=?"), { kind }, [&](const QSqlQuery& query) {
            MCategoryStat row;
            row.id = query.value(0).toString();
            row.name = query.value(1).toString();
            row.kind = query.value(2).toString();
            rows.append(row);
        });
    const QHash<QString, int> index = indexById(rows);
    forEachRow(QStringLiteral("select id, category_id, name, kind from tbl_sub_category where kind=?"), { kind },
        [&](const QSqlQuery& query) {
            const auto parent = index.constFind(query.value(1).toString());
            if (parent == index.constEnd())
                return;
            MCategoryStat child;
            child.id = query.value(0).toString();
            child.name = query.value(2).toString();
            child.kind = query.value(3).toString();
            rows[*parent].children.push_back(child);
        });

    // One pass over the bills fills both levels: a category's figures are the sums of its
    // (category, sub-category) groups, bills without a known sub-category included.
    const ScopeFilter filter = scopeFilter(scope, value);
    int countSum = 0;
    double grandTotal = 0;
    forEachRow(QStringLiteral("select category_id, sub_category_id, count(*), total(amount) from tbl_bill where ")
            + filter.sql + QStringLiteral(" group by category_id, sub_category_id"),
        filter.values, [&](const QSqlQuery& query) {
            const auto at = index.constFind(query.value(0).toString());
            if (at == index.constEnd())
                return;
            const QString subId = query.value(1).toString();
            const int count = query.value(2).toInt();
            const double total = query.value(3).toDouble();
            MCategoryStat& row = rows[*at];
            row.count += count;
            row.total += total;
            countSum += count;
            grandTotal += total;
            for (MCategoryStat& child : row.children) {
                if (child.id == subId) {
                    child.count += count;
                    child.total += total;
                }
            }
        });
    for (MCategoryStat& row : rows) {
        row.ratio = shareOf(row.total, grandTotal);
        for (MCategoryStat& child : row.children)
            child.ratio = shareOf(child.total, grandTotal);
    }

    MCategoryStat total;
    total.name = tr("合计");
    total.kind = kind;
    total.count = countSum;
    total.total = grandTotal;
    total.ratio = 1.0;
    rows.append(total);
    return rows;
}

QList<MAccountStat> ReportHelper::getAccountData(const QString& scope, int value)
{
    QList<MAccountStat> rows;
    forEachRow(
        QStringLiteral("select  id, name, kind from tbl_account order by kind"), {}, [&](const QSqlQuery& query) {
            MAccountStat row;
            row.id = query.value(0).toString();
            row.name = query.value(1).toString();
            row.kind = query.value(2).toString();
            rows.append(row);
        });
    const QHash<QString, int> index = indexById(rows);
    const auto recompute = [](MAccountStat* row) {
        row->total = row->expense + row->income + row->transferIn + row->transferOut + row->lend + row->borrow
            + row->refund + row->repay;
    };

    const ScopeFilter filter = scopeFilter(scope, value);
    forEachRow(QStringLiteral("select account_id, kind, total(amount) from tbl_bill where ") + filter.sql
            + QStringLiteral(" group by account_id, kind"),
        filter.values, [&](const QSqlQuery& query) {
            const auto at = index.constFind(query.value(0).toString());
            if (at == index.constEnd())
                return;
            MAccountStat& row = rows[*at];
            const QString kind = query.value(1).toString();
            const double amount = query.value(2).toDouble();
            if (kind == MBill::Expense)
                row.expense += amount;
            else if (kind == MBill::Income)
                row.income += amount;
            else if (kind == MBill::Transfer)
                row.transferOut += amount;
            else if (kind == MBill::Lend)
                row.lend += amount;
            else if (kind == MBill::Borrow)
                row.borrow += amount;
            else if (kind == MBill::Refund)
                row.refund += amount;
            else if (kind == MBill::Repay)
                row.repay += amount;
            recompute(&row);
        });
    QVariantList transferValues = filter.values;
    transferValues.append(MBill::Transfer);
    forEachRow(QStringLiteral("select to_account_id, total(amount) from tbl_bill where ") + filter.sql
            + QStringLiteral(" and kind=? group by to_account_id, kind "),
        transferValues, [&](const QSqlQuery& query) {
            const auto at = index.constFind(query.value(0).toString());
            if (at == index.constEnd())
                return;
            rows[*at].transferIn += std::fabs(query.value(1).toDouble());
            recompute(&rows[*at]);
        });

    MAccountStat total;
    total.name = tr("合计");
    for (const MAccountStat& row : std::as_const(rows)) {
        total.expense += row.expense;
        total.income += row.income;
        total.transferIn += row.transferIn;
        total.transferOut += row.transferOut;
        total.lend += row.lend;
        total.borrow += row.borrow;
        total.refund += row.refund;
        total.repay += row.repay;
        total.total += row.total;
    }
    rows.append(total);
    return rows;
}

QList<MBorrowerStat> ReportHelper::getBorrowerData(const QString& scope, int value)
{
    QList<MBorrowerStat> rows = loadEntities<MBorrowerStat>(QStringLiteral("select id, name from tbl_borrower "));
    const QHash<QString, int> index = indexById(rows);
    MBorrowerStat total;
    total.name = tr("合计");
    const ScopeFilter filter = scopeFilter(scope, value);
    forEachRow(QStringLiteral("select borrower_id, kind, total(amount) from tbl_bill where ") + filter.sql
            + QStringLiteral(" group by borrower_id, kind"),
        filter.values, [&](const QSqlQuery& query) {
            const auto at = index.constFind(query.value(0).toString());
            if (at == index.constEnd())
                return;
            MBorrowerStat& row = rows[*at];
            const QString kind = query.value(1).toString();
            const double amount = query.value(2).toDouble();
            double MBorrowerStat::*column = nullptr;
            if (kind == MBill::Borrow)
                column = &MBorrowerStat::borrow;
            else if (kind == MBill::Lend)
                column = &MBorrowerStat::lend;
            else if (kind == MBill::Refund)
                column = &MBorrowerStat::refund;
            else if (kind == MBill::Repay)
                column = &MBorrowerStat::repay;
            else
                return;
            row.*column += amount;
            total.*column += amount;
            row.total = row.borrow + row.lend + row.refund + row.repay;
        });
    total.total = total.borrow + total.lend + total.refund + total.repay;
    rows.append(total);
    return rows;
}

QList<MMemberStat> ReportHelper::getMemberData(const QString& scope, int value)
{
    QList<MMemberStat> rows = loadEntities<MMemberStat>(QStringLiteral("select id, name from tbl_member "));
    const QHash<QString, int> index = indexById(rows);
    double expenseSum = 0;
    double incomeSum = 0;
    const ScopeFilter filter = scopeFilter(scope, value);
    forEachRow(QStringLiteral("select member_id, kind, total(amount) from tbl_bill where ") + filter.sql
            + QStringLiteral(" group by member_id, kind"),
        filter.values, [&](const QSqlQuery& query) {
            const auto at = index.constFind(query.value(0).toString());
            if (at == index.constEnd())
                return;
            MMemberStat& row = rows[*at];
            const QString kind = query.value(1).toString();
            const double amount = query.value(2).toDouble();
            if (kind == MBill::Expense) {
                row.expense += amount;
                expenseSum += amount;
            } else if (kind == MBill::Income) {
                row.income += amount;
                incomeSum += amount;
            }
            row.total = row.expense + row.income;
        });
    for (MMemberStat& row : rows) {
        row.expenseRatio = shareOf(row.expense, expenseSum);
        row.incomeRatio = shareOf(row.income, incomeSum);
        row.totalRatio = shareOf(row.total, expenseSum + incomeSum);
    }
    MMemberStat total;
    total.name = tr("合计");
    total.expense = expenseSum;
    total.income = incomeSum;
    total.total = expenseSum + incomeSum;
    total.expenseRatio = 1.0;
    total.incomeRatio = 1.0;
    total.totalRatio = 1.0;
    rows.append(total);
    return rows;
}

QString ReportHelper::toHtmlRows(const QList<QStringList>& rows)
{
    QString html;
    for (const QStringList& row : rows) {
        html += QStringLiteral("<tr>");
        for (const QString& cell : row)
            html += QStringLiteral("<td>") + cell + QStringLiteral("</td>");
        html += QStringLiteral("</tr>");
    }
    return html;
}
