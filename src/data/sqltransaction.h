#pragma once

#include <QSqlDatabase>
#include <QString>

// One all-or-nothing unit of work on a connection, as an SQLite savepoint: outside a transaction
// it begins one, inside one it nests, so writes that need several statements stay whole whether or
// not their caller already opened a transaction. Rolled back unless commit() succeeded.
class SqlTransaction
{
public:
    explicit SqlTransaction(const QSqlDatabase& db, const QString& name = QStringLiteral("quorvane_write"));
    ~SqlTransaction();
    SqlTransaction(const SqlTransaction&) = delete;
    SqlTransaction& operator=(const SqlTransaction&) = delete;

    // False when the savepoint could not be set (no open book, a locked file).
    bool isActive() const { return active; }
    bool commit();
    void rollback();

private:
    bool run(const QString& sql);

    QSqlDatabase db;
    QString name;
    bool active = false;
};
