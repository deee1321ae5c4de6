#include "driverkit.h"

#include <csignal>
#include <cstdio>
#include <unistd.h>

#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>

namespace DriverKit {

void say(const QByteArray& text)
{
    const QByteArray line = text + '\n';
    qsizetype done = 0;
    while (done < line.size()) {
        const ssize_t written = ::write(STDOUT_FILENO, line.constData() + done, size_t(line.size() - done));
        if (written <= 0)
            ::_exit(4);
        done += written;
    }
}

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

void tearAndDie(const QString& path)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("torn"));
        db.setDatabaseName(path);
        QSqlQuery query(db);
        // A cache of one page: the write spills into the file long before its commit.
        if (!db.open() || !query.exec(QStringLiteral("pragma cache_size=1")) || !query.exec(QStringLiteral("begin")))
            ::_exit(5);
        // Every row rewritten, so that the journal holds every page of the file as it was.
        QStringList tables;
        if (query.exec(QStringLiteral("select name from sqlite_master where type='table'"))) {
            while (query.next())
                tables << query.value(0).toString();
        }
        for (const QString& table : std::as_const(tables)) {
            if (!query.exec(QStringLiteral("update \"%1\" set rowid=rowid").arg(table)))
                ::_exit(5);
        }
        if (!query.exec(QStringLiteral("create table torn_rows (x)")))
            ::_exit(5);
        query.prepare(QStringLiteral("insert into torn_rows values (?)"));
        for (int i = 0; i < 3000; ++i) {
            query.addBindValue(QString(200, QLatin1Char('t')));
            if (!query.exec())
                ::_exit(5);
        }
    }
    std::fflush(nullptr);
    ::raise(SIGKILL);
    ::_exit(6);
}

} // namespace DriverKit
