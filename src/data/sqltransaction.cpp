#include "data/sqltransaction.h"
#include "data/billindex.h"
#include "data/logging.h"

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>

SqlTransaction::SqlTransaction(const QSqlDatabase& database, const QString& savepointName)
    : db(database)
    , name(savepointName)
{
    active = run(QStringLiteral("savepoint ") + name);
}

SqlTransaction::~SqlTransaction()
{
    rollback();
}

bool SqlTransaction::commit()
{
    if (!active)
        return false;
    if (!run(QStringLiteral("release ") + name)) {
        rollback();
        return false;
    }
    active = false;
    return true;
}

void SqlTransaction::rollback()
{
    if (!active)
        return;
    active = false;
    // Rolling back to a savepoint keeps it open; releasing it afterwards ends it (and the
    // transaction it began) with nothing written.
    run(QStringLiteral("rollback to ") + name);
    run(QStringLiteral("release ") + name);
    // The bill writes taken back had already moved the figures kept in memory.
    if (db.connectionName() == QLatin1String(QSqlDatabase::defaultConnection))
        BillIndex::forget();
}

bool SqlTransaction::run(const QString& sql)
{
    QSqlQuery query(db);
    if (query.exec(sql))
        return true;
    qCWarning(lcSql) << "SqlTransaction:" << sql << "failed:" << query.lastError().text();
    return false;
}
