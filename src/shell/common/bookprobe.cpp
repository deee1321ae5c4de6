#include "shell/common/bookprobe.h"

#include <QSqlQuery>

#include "data/dbsetting.h"
#include "data/sqlhelper.h"

BookProbe::Result BookProbe::probe(const QString& path, const QString& connectionName)
{
    Result result;
    result.opened = withBookConnection(
        path, connectionName, BookAccess::ReadOnly,
        [&result](QSqlDatabase& db) {
            QSqlQuery query(db);
            // A missing table, or a file that is not a book, reads as no password.
            if (query.exec(QStringLiteral("select password from tbl_setting")) && query.next())
                result.password = unscramblePassword(query.value(0).toString());
            return true;
        },
        &result.errorText);
    return result;
}
