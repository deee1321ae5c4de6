#include "data/bookprobe.h"

#include <QCoreApplication>
#include <QSqlError>
#include <QSqlQuery>

#include "data/dbsetting.h"
#include "data/sqlhelper.h"

namespace {

// SQLite's primary result codes that decide the answer.
enum SqliteCode { Error = 1, Busy = 5, Locked = 6, ReadOnly = 8, NotADatabase = 26 };

struct Reading {
    enum Outcome { Read, NotABook, Failed } outcome = Failed;
    int code = 0;
    QString error;
    QString password;
};

Reading readPassword(const QString& path, const QString& connectionName, int lockWaitMs)
{
    Reading reading;
    QString openError;
    const bool opened = withBookConnection(
        path, connectionName, BookAccess::ReadOnly,
        [&reading, lockWaitMs](QSqlDatabase& db) {
            QSqlQuery query(db);
            query.exec(QStringLiteral("pragma busy_timeout=%1").arg(lockWaitMs));
            if (query.exec(QStringLiteral("select password from tbl_setting"))) {
                reading.outcome = Reading::Read;
                if (query.next())
                    reading.password = unscramblePassword(query.value(0).toString());
                return true;
            }
            const QSqlError error = query.lastError();
            reading.code = error.nativeErrorCode().toInt() & 0xff;
            reading.error = error.databaseText();
            // A file without the settings table is no book; anything else that stops the read
            // leaves the password unknown.
            const bool notABook = reading.code == Error || reading.code == NotADatabase;
            reading.outcome = notABook ? Reading::NotABook : Reading::Failed;
            return true;
        },
        &openError);
    if (!opened)
        reading.error = openError;
    return reading;
}

} // namespace

BookProbe::Result BookProbe::probe(const QString& path, const QString& connectionName, int lockWaitMs)
{
    Reading reading = readPassword(path, connectionName, lockWaitMs);
    // A read-only connection cannot roll back a crashed writer's journal: once it is rolled back,
    // the read is tried again.
    if (reading.outcome == Reading::Failed && reading.code == ReadOnly && finishInterruptedWrite(path))
        reading = readPassword(path, connectionName, lockWaitMs);

    Result result;
    result.opened = reading.outcome != Reading::Failed;
    result.password = reading.password;
    if (reading.code == Busy || reading.code == Locked)
        result.errorText = QCoreApplication::translate("BookProbe", "账本正被其他程序使用，请稍后再试。");
    else if (reading.outcome == Reading::Failed)
        result.errorText = reading.error;
    return result;
}
