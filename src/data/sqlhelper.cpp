#include "data/sqlhelper.h"

#include <QDebug>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include "data/sqltransaction.h"
#include "data/logging.h"

QString sqlText(const QString& text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString sqlContains(const QString& text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('%'), QLatin1String("\\%"));
    escaped.replace(QLatin1Char('_'), QLatin1String("\\_"));
    return sqlText(QLatin1Char('%') + escaped + QLatin1Char('%')) + QLatin1String(" escape '\\'");
}

QString newRecordId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QVariant sqlValue(const QSqlDatabase& db, const QString& sql, const QVariantList& values, const QVariant& fallback)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(sql);
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (!query.exec()) {
        qCWarning(lcSql) << sql << "failed:" << query.lastError().text();
        return fallback;
    }
    if (!query.next())
        return fallback;
    return query.value(0);
}

QHash<QString, double> sqlTotals(const QString& sql)
{
    QHash<QString, double> totals;
    QSqlQuery query;
    query.setForwardOnly(true);
    if (!query.exec(sql)) {
        qCWarning(lcSql) << sql << "failed:" << query.lastError().text();
        return totals;
    }
    // Ids stored as the number 0 and as the text "0" form two groups but name the same record.
    while (query.next())
        totals[query.value(0).toString()] += query.value(1).toDouble();
    return totals;
}

bool execWrite(const QSqlDatabase& db, const QString& sql, const QVariantList& values)
{
    QSqlQuery query(db);
    query.prepare(sql);
    for (const QVariant& value : values)
        query.addBindValue(value);
    const bool ok = query.exec();
    if (ok)
        qCDebug(lcSql) << sql << "true";
    else
        qCWarning(lcSql) << sql << "false" << query.lastError().text();
    return ok;
}

bool deleteWithTombstone(const QString& table, const QString& id)
{
    const QSqlDatabase db = QSqlDatabase::database();
    SqlTransaction transaction(db);
    if (!transaction.isActive())
        return false;
    const QString staleTombstone
        = QStringLiteral("delete from %1_deleted where id=? and exists (select 1 from %1 where id=?)");
    if (!execWrite(db, staleTombstone.arg(table), { id, id }))
        return false;
    if (!execWrite(db, QStringLiteral("delete from %1 where id=?").arg(table), { id }))
        return false;
    return transaction.commit();
}

bool withBookConnection(const QString& path, const QString& baseName, BookAccess access,
    const std::function<bool(QSqlDatabase& db)>& work, QString* openError)
{
    QString name = baseName;
    while (QSqlDatabase::contains(name))
        name += QLatin1Char('#');
    bool result = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (access == BookAccess::ReadOnly)
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            result = work(db);
            db.close();
        } else if (openError) {
            *openError = db.lastError().text();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}

bool finishInterruptedWrite(const QString& path)
{
    if (!QFileInfo::exists(path + QStringLiteral("-journal")) || !QFileInfo(path).isFile())
        return true;
    QString error;
    const bool read = withBookConnection(
        path, QStringLiteral("interrupted-write"), BookAccess::ReadWrite,
        [&error](QSqlDatabase& db) {
            QSqlQuery query(db);
            if (query.exec(QStringLiteral("select count(*) from sqlite_master")))
                return true;
            error = query.lastError().text();
            return false;
        },
        &error);
    if (!read)
        qCWarning(lcSql) << "the interrupted write of" << path << "cannot be undone:" << error;
    return read;
}
