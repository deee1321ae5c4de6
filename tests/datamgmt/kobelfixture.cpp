#include "kobelfixture.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QDebug>

#include "data/sqlhelper.h"

namespace KobelFixture {

namespace {

QStringList schema(Variant variant)
{
    QStringList statements = {
        "CREATE TABLE android_metadata (locale TEXT)",
        "INSERT INTO android_metadata VALUES ('zh_CN')",
        "CREATE TABLE kbl_accounts (account_id TEXT PRIMARY KEY, name TEXT, kind TEXT, amount REAL, description "
        "TEXT, sort INTEGER)",
        QString("CREATE TABLE kbl_bills (bill_id TEXT%1, title TEXT, amount REAL, description TEXT, date TEXT, %2"
                "catelog_id TEXT, account_id TEXT, to_account_id TEXT, borrower_id TEXT, kind TEXT)")
            .arg(variant == DuplicateBillIds ? "" : " PRIMARY KEY", variant == MissingColumn ? "" : "month INTEGER, "),
        "CREATE TABLE kbl_catelogs (catelog_id TEXT PRIMARY KEY, name TEXT, kind TEXT, sort INTEGER)",
        "CREATE TABLE kbl_budget_items (budget_item_id TEXT, amount REAL)",
        "CREATE TABLE kbl_budgets (budget_id TEXT, month INTEGER)",
        "CREATE TABLE kbl_excategories (excategory_id TEXT, name TEXT)",
        "CREATE TABLE kbl_settings (key TEXT, value TEXT)",
        "CREATE TABLE kbl_trashes (trash_id TEXT)",
        "INSERT INTO kbl_settings VALUES ('currency', 'CNY')",
    };
    if (variant != WithoutBorrowers)
        statements << "CREATE TABLE kbl_borrowers (borrower_id TEXT PRIMARY KEY, name TEXT, kind TEXT, sort INTEGER)";
    // The other program's triggers; their bodies do not matter, their names do.
    const QList<QPair<QString, QString>> triggers
        = { { "account", "kbl_accounts" }, { "bill", "kbl_bills" }, { "borrow", "kbl_borrowers" },
              { "budget", "kbl_budgets" }, { "catelog", "kbl_catelogs" }, { "excategory", "kbl_excategories" } };
    for (const auto& [name, table] : triggers) {
        if (variant == WithoutBorrowers && name == "borrow")
            continue;
        statements << QString("CREATE TRIGGER %1_updated AFTER UPDATE ON %2 BEGIN SELECT 1; END").arg(name, table)
                   << QString("CREATE TRIGGER %1_deleted BEFORE DELETE ON %2 BEGIN SELECT 1; END").arg(name, table);
    }
    return statements;
}

QStringList rows(Variant variant)
{
    const QString cash = variant == DefaultIds ? "01" : "6f1c0a52-0d7b-4a8e-9a55-1d1f1a000001";
    const QString food = variant == DefaultIds ? "01" : "6f1c0a52-0d7b-4a8e-9a55-1d1f1a000101";
    QStringList statements = {
        QString("INSERT INTO kbl_accounts VALUES ('%1', '现金', 'cash', 100.5, '钱包里的钱', 1)").arg(cash),
        "INSERT INTO kbl_accounts VALUES ('6f1c0a52-0d7b-4a8e-9a55-1d1f1a000002', '信用卡', 'creditcard', 0, NULL, 2)",
        "INSERT INTO kbl_accounts VALUES ('6f1c0a52-0d7b-4a8e-9a55-1d1f1a000003', '工资卡', 'bankcard', 5000, '', 3)",
        "INSERT INTO kbl_accounts VALUES ('6f1c0a52-0d7b-4a8e-9a55-1d1f1a000004', '基金', 'fund', 0, 'O''Brien', 4)",
        QString("INSERT INTO kbl_catelogs VALUES ('%1', '吃饭', 'expense', 1)").arg(food),
        "INSERT INTO kbl_catelogs VALUES ('6f1c0a52-0d7b-4a8e-9a55-1d1f1a000102', '交通', 'expense', 2)",
        "INSERT INTO kbl_catelogs VALUES ('6f1c0a52-0d7b-4a8e-9a55-1d1f1a000103', '其它', 'expense', 3)",
        "INSERT INTO kbl_catelogs VALUES ('6f1c0a52-0d7b-4a8e-9a55-1d1f1a000104', '工资', 'income', 4)",
    };
    if (variant != WithoutBorrowers)
        statements << "INSERT INTO kbl_borrowers VALUES ('6f1c0a52-0d7b-4a8e-9a55-1d1f1a000201', '老王', 'lend', 1)";

    struct Bill {
        const char* kind;
        double amount;
        const char* date;
        const char* category;
    };
    const Bill bills[] = {
        { "expense", -12.5, "2013-05-01", "000101" },
        { "income", 8000, "2013-05-05", "000104" },
        { "transfer", -300, "2013-05-06", "" },
        { "lend", -200, "2013-05-07", "" },
        { "borrow", 150, "2013-05-08", "" },
        { "repayin", 100, "2013-05-09", "" },
        { "repayout", -50, "2013-05-10", "" },
        // A date in another form is copied as it stands.
        { "expense", -3, "2013/5/11", "000102" },
    };
    static_assert(sizeof(bills) / sizeof(bills[0]) == BillCount);
    for (int i = 0; i < BillCount; ++i) {
        const Bill& bill = bills[i];
        const QString category = QString(bill.category).isEmpty()
            ? "NULL"
            : "'6f1c0a52-0d7b-4a8e-9a55-1d1f1a" + QString(bill.category) + "'";
        const QString id = QString("6f1c0a52-0d7b-4a8e-9a55-1d1f1a0003%1").arg(i, 2, 10, QChar('0'));
        QString description = QString("'账单%1'").arg(i);
        QString amount = QString::number(bill.amount);
        if (variant == NullDescription && i == 1)
            description = "NULL";
        if (variant == NullAmount && i == 2)
            amount = "NULL";
        const QString month = variant == MissingColumn ? QString() : "201305, ";
        statements << QString("INSERT INTO kbl_bills VALUES ('%1', '标题%2', %3, %4, '%5', %6%7, "
                              "'6f1c0a52-0d7b-4a8e-9a55-1d1f1a000001', '6f1c0a52-0d7b-4a8e-9a55-1d1f1a000003', "
                              "'6f1c0a52-0d7b-4a8e-9a55-1d1f1a000201', '%8')")
                          .arg(id, QString::number(i), amount, description, bill.date, month, category, bill.kind);
    }
    // The same bill once more, as a file that lost its key constraint may hold it.
    if (variant == DuplicateBillIds)
        statements << "INSERT INTO kbl_bills SELECT * FROM kbl_bills WHERE rowid=1";
    return statements;
}

} // namespace

bool make(const QString& path, Variant variant)
{
    if (QFile::exists(path))
        return false;
    if (variant == NotSqlite) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write("账单,金额\n午饭,12.5\n") > 0;
    }
    QStringList statements;
    if (variant == NoImportTables)
        statements = { "CREATE TABLE notes (id TEXT, text TEXT)", "INSERT INTO notes VALUES ('1', '你好')" };
    else
        statements = schema(variant) + rows(variant);
    return withBookConnection(path, "kobel-fixture", BookAccess::ReadWrite, [&](QSqlDatabase& db) {
        QSqlQuery query(db);
        for (const QString& statement : statements) {
            if (!query.exec(statement)) {
                qWarning() << statement << query.lastError().text();
                return false;
            }
        }
        return true;
    });
}

QStringList columnIn(const QString& path, const QString& sql)
{
    QStringList values;
    withBookConnection(path, "column", BookAccess::ReadOnly, [&](QSqlDatabase& db) {
        QSqlQuery query(db);
        if (!query.exec(sql)) {
            qWarning() << sql << query.lastError().text();
            return false;
        }
        while (query.next())
            values << query.value(0).toString();
        return true;
    });
    return values;
}

} // namespace KobelFixture
