#include "shell/common/bookprobe.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include "data/dbsetting.h"

BookProbe::Result BookProbe::probe(const QString& path, const QString& connectionName)
{
    QString name = connectionName;
    while (QSqlDatabase::contains(name))
        name += QLatin1Char('#');

    Result result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        db.setDatabaseName(path);
        result.opened = db.open();
        if (result.opened) {
            QSqlQuery query(db);
            // A missing table, or a file that is not a book, reads as no password.
            if (query.exec(QStringLiteral("select password from tbl_setting")) && query.next())
                result.password = unscramblePassword(query.value(0).toString());
        } else {
            result.errorText = db.lastError().text();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}
