#pragma once

#include <QHash>
#include <QList>
#include <QMap>
#include <QPair>
#include <QSet>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include "randomwrites.h"

// What the synchronisation tests compare of books and the service: the records of the six
// synchronised tables by "table/id", each with its version and every other column but user_id.
namespace SyncRecords {

struct Record {
    QString version;
    bool deleted = false;
    QMap<QString, QString> content;

    bool operator==(const Record& other) const
    {
        return version == other.version && deleted == other.deleted && content == other.content;
    }
    bool operator!=(const Record& other) const { return !(*this == other); }
    QString describe() const;
};

QString key(const QString& table, const QString& id);
// The version of the default records of a new book, which are not sent while they keep it.
const QString& defaultVersion();
QString tableOf(const QString& recordKey);

// The bill columns that name reference records, and the table of each.
const QList<QPair<QString, QString>>& billReferences();

// The live records of a book; with since, only those written from that version on, and the
// deletions (tombstones) from then on as well: what a synchronisation that last ran at since uploads.
QMap<QString, Record> read(const QSqlDatabase& db, const QString& since = QString());
QMap<QString, Record> read(const QString& path, const QString& since = QString());
// The keys of a book's tombstones.
QSet<QString> tombstones(const QString& path);
// The book's last synchronisation time as it sends it.
QString syncTime(const QString& path);

// The records the service holds for the account, deleted ones included; store as the service's
// --store names it (an SQLite file or a postgresql:// URL).
QMap<QString, Record> held(const QString& store, const QString& user);
// A book's record with its numbers as texts the way the service keeps them (as the book sent them).
Record asSent(Record record);

// What two books disagree on, one line each ("<key>: <name> (...), <other name> (...)").
QStringList differences(const QMap<QString, Record>& one, const QString& oneName, const QMap<QString, Record>& other,
    const QString& otherName);
// What the books' live records and the service's records disagree on, one line each: a live record
// the service holds otherwise, or a record live only at the service.
QStringList differencesWithService(const QMap<QString, Record>& live, const QMap<QString, Record>& held);
// Bills that name a record that is gone, a transfer's target account included, one line each.
QStringList missingReferences(const QMap<QString, Record>& live);
// Writes out the trails of the first records the problems name, one line each: QtTest cuts a long
// message short.
void tellTrails(const QStringList& problems, const QHash<QString, QStringList>& trail);
// "table op count" joined with commas, and their sum in *total.
QString editSummary(const QMap<QString, int>& counts, int* total);

// One write on a record chosen at random from small tables, so that devices often change the same
// records: bills most, every reference table now and then.
struct Edit {
    QString table;
    QString op;
    QString id;
    RandomWrites::Outcome outcome = RandomWrites::Outcome::Skipped;
};
Edit randomEdit(RandomWrites& writes);

} // namespace SyncRecords
