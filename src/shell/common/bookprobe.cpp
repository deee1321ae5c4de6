#include "shell/common/bookprobe.h"

#include <QSqlError>
#include <QSqlQuery>

#include "data/dbsetting.h"
#include "data/sqlhelper.h"

BookProbe::Result BookProbe::probe(const QString& path, const QString& connectionName)
{
    Result result;
    // A write cut off by a crash would make the read-only read fail, and a failed read must not
    // count as a book without password.
    finishInterruptedWrite(path);
    result.opened = withBookConnection(
        path, connectionName, BookAccess::ReadOnly,
        [&result](QSqlDatabase& db) {
            QSqlQuery query(db);
            if (query.exec(QStringLiteral("select password from tbl_setting"))) {
                if (query.next())
                    result.password = unscramblePassword(query.value(0).toString());
                return true;
            }
            // A missing table, or a file that is not a book, reads as no password; a book that
            // could not be read (locked, unreadable) may well have one.
            const int code = query.lastError().nativeErrorCode().toInt() & 0xff;
            const int error = 1;
            const int corrupt = 11;
            const int notADatabase = 26;
            if (code == error || code == corrupt || code == notADatabase)
                return true;
            result.errorText = query.lastError().text();
            return false;
        },
        &result.errorText);
    return result;
}
