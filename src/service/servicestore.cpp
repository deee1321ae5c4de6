#include "servicestore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMap>
#include <QMutex>
#include <QPasswordDigestor>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QStorageInfo>
#include <QUuid>
#include <cstdio>
#include <functional>
#include <map>

#include "servicechangeset.h"
#include "storedialect.h"

// What every connection of a store is made from, and the connections made so far, one per thread.
struct ServiceStore::Shared {
    StoreDialect dialect;
    QString connectionPrefix
        = QStringLiteral("quorvane-service-") + QUuid::createUuid().toString(QUuid::WithoutBraces) + QLatin1Char('-');
    QMutex mutex;
    QStringList connections;
    quint64 made = 0;

    // Forgets a connection whose thread ends.
    void release(const QString& name)
    {
        const QMutexLocker lock(&mutex);
        if (connections.removeOne(name))
            QSqlDatabase::removeDatabase(name);
    }
};

namespace {

// PBKDF2 rounds for new accounts. Every request checks the password, so this stays moderate; each
// account keeps the count it was made with.
const int hashIterations = 10000;
const int saltBytes = 16;

const char* const timeFormat = "yyyy-MM-dd hh:mm:ss";

// Less free space than this next to an SQLite store: it cannot take a synchronisation.
const qint64 minimumFreeBytes = 1024 * 1024;
const QString storageFailedText = QStringLiteral("服务器保存同步数据时出错");

QByteArray passwordHash(const QString& password, const QByteArray& salt, int iterations)
{
    return QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, password.toUtf8(), salt, iterations, 32);
}

bool sameBytes(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a.at(i) ^ b.at(i));
    return difference == 0;
}

// A device that the service cannot place gets every record of its account: sending more than it
// needs is harmless, since a client takes only versions later than its own.
const qint64 everything = -1;
// How far a device's clock may go back during a run, between its start (the sync time the device
// sends next) and its upload (the client time kept with the run), without the run being missed. A
// device that runs again within this time gets the changes of this time once more.
const int clockStepBackSeconds = 120;
// The longest time between a run's start and its upload (a backup of a large book, the user-id
// request) for which the run is still recognised by the sync time the device sends next.
const int runStartSeconds = 600;
// A sync time or client time further ahead of the service's clock than this is not trusted.
const int clockAheadSeconds = 86400;
// A version further ahead of the service's clock than this is stored with the service's time.
const int aheadToleranceSeconds = 300;

// Rows and deletions are looked up and written this many at a time: few round trips to a database
// server, little memory, whatever the size of the change set.
const int batchSize = 200;
// A merge that adds this many records has the database's statistics of the records made anew.
const int refreshStatisticsAfter = 5000;

QString timeText(const QDateTime& time)
{
    return time.toString(QLatin1String(timeFormat));
}

QString nowText()
{
    return timeText(QDateTime::currentDateTimeUtc());
}

// A time as the clients write it (anything after the seconds is ignored); invalid when it is none.
QDateTime timeFromText(const QString& text)
{
    QDateTime time = QDateTime::fromString(text.left(19), QLatin1String(timeFormat));
    time.setTimeSpec(Qt::UTC);
    return time;
}

// The version one second after version, or an empty text when version is no time the service can
// move on (the clients write nothing else).
QString secondLater(const QString& version)
{
    const QDateTime time = timeFromText(version);
    if (!time.isValid())
        return QString();
    const QString later = timeText(time.addSecs(1));
    return later > version ? later : QString();
}

// Appends UTF-8 text as a JSON string, escaped as JSON.stringify escapes: '"', '\\' and the control
// characters, the short forms where JSON has them, else \u00xx. The cells of every stored row are
// written this way, 100,000 of them for a large first synchronisation.
void appendJsonString(QByteArray& out, const QByteArray& text)
{
    static const char hex[] = "0123456789abcdef";
    out += '"';
    // The bytes between two that need escaping go in at once.
    const char* run = text.constData();
    const char* const end = run + text.size();
    for (const char* at = run; at != end; ++at) {
        const auto c = static_cast<unsigned char>(*at);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(run, at - run);
        run = at + 1;
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default: {
            const char escaped[] = { '\\', 'u', '0', '0', hex[c >> 4], hex[c & 15] };
            out.append(escaped, sizeof escaped);
        }
        }
    }
    out.append(run, end - run);
    out += '"';
}

void appendJsonString(QByteArray& out, const QString& text)
{
    appendJsonString(out, text.toUtf8());
}

// A JSON array of texts.
QByteArray textArray(const QStringList& texts)
{
    QByteArray array = "[";
    for (const QString& text : texts) {
        if (array.size() > 1)
            array += ',';
        appendJsonString(array, text);
    }
    array += ']';
    return array;
}

// What a statement does, for a message: its first words ("insert into records"). The whole text of
// a batch runs to megabytes, and with a store that is down every request would print it.
QString operationOf(const QString& statement)
{
    static const QRegularExpression words(QStringLiteral("^\\s*(\\w+(\\s+\\w+){0,2})"));
    const QString found = words.match(statement).captured(1);
    return found.isEmpty() ? QStringLiteral("statement") : found.simplified();
}

void reportFailure(const QString& statement, const QSqlError& error)
{
    // The database's message, without the driver's copy of the statement.
    const QString message = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    std::fprintf(stderr, "quorvane-service: %s: %s\n", qPrintable(operationOf(statement)),
        qPrintable(message.left(1000).simplified()));
}

bool exec(QSqlQuery& query)
{
    if (query.exec())
        return true;
    reportFailure(query.lastQuery(), query.lastError());
    return false;
}

bool exec(QSqlQuery& query, const QString& statement)
{
    if (query.exec(statement))
        return true;
    reportFailure(statement, query.lastError());
    return false;
}

// "?,?,?" for count placeholders.
QString placeholders(int count)
{
    QString text;
    for (int i = 0; i < count; ++i)
        text += i == 0 ? QLatin1String("?") : QLatin1String(",?");
    return text;
}

// The connections this thread made, each with the store it belongs to; removed when the thread ends
// (or by the store, when it goes first).
struct ThreadConnections {
    struct Entry {
        std::weak_ptr<ServiceStore::Shared> store;
        QString name;
    };
    QList<Entry> entries;

    ~ThreadConnections()
    {
        for (const Entry& entry : std::as_const(entries)) {
            if (const auto store = entry.store.lock())
                store->release(entry.name);
        }
    }
};

thread_local ThreadConnections threadConnections;

// Readies a connection just opened; closes it when that fails.
void setUpConnection(QSqlDatabase& db, const StoreDialect& dialect)
{
    if (!db.isOpen()) {
        std::fprintf(stderr, "quorvane-service: cannot connect to %s: %s\n", qPrintable(dialect.shownLocation()),
            qPrintable(db.lastError().text()));
        return;
    }
    QSqlQuery query(db);
    for (const QString& statement : dialect.connectionSetUp()) {
        if (!exec(query, statement)) {
            db.close();
            return;
        }
    }
}

// One row or deletion of an incoming change set, with its cells in the stored column order.
struct Change {
    QString id;
    QString version;
    QString columns;
    int versionCell = -1;
    QByteArray cells;
    bool deletion = false;
    // Its version was ahead of the service's clock and is the service's time now.
    bool restamped = false;

    // The row's cells with another version (seldom needed: read back from the cells).
    QByteArray cellsWithVersion(const QString& other) const
    {
        QStringList values;
        for (const QJsonValue& cell : QJsonDocument::fromJson(cells).array())
            values << cell.toString();
        if (versionCell >= 0 && versionCell < values.size())
            values[versionCell] = other;
        return textArray(values);
    }
};

// The merge of one change set into an account's records, inside the transaction of the request:
// changes are gathered into batches of one table; a batch's new records are inserted with one
// statement, the others looked up with one query and written with one or two more.
class Merge {
public:
    Merge(QSqlDatabase& db, const StoreDialect& dialect, qint64 account, qint64 seq, qint64 request, const QString& now)
        : db(db)
        , dialect(dialect)
        , account(account)
        , seq(seq)
        , request(request)
        , now(now)
        , horizon(timeText(timeFromText(now).addSecs(aheadToleranceSeconds)))
        , lookup(db)
        , sendBack(db)
    {
        lookup.prepare(QStringLiteral("select id, version, deleted, columns, cells from records "
                                      "where account=? and tbl=? and id in (%1)")
                           .arg(placeholders(batchSize)));
        sendBack.prepare(QStringLiteral("insert into send_back (tbl, id) values (?,?) on conflict do nothing"));
    }

    // Adds a change of table; false when the store failed.
    bool add(int table, Change&& change)
    {
        // A version from a clock that runs ahead would win over every change made until that clock's
        // time comes: the service keeps none later than its own clock and a tolerance, stores such a
        // change with its own time and sends it back to the uploader, as it does a tie.
        if (change.version > horizon) {
            if (!change.deletion)
                change.cells = change.cellsWithVersion(now);
            change.version = now;
            change.restamped = true;
        }
        if ((!batch.isEmpty() && (table != batchTable || batchIds.contains(change.id))) || batch.size() >= batchSize) {
            if (!flush())
                return false;
        }
        batchTable = table;
        batchIds.insert(change.id);
        batch.append(std::move(change));
        return true;
    }

    // Writes what is gathered; false when the store failed.
    bool flush();

    // How many records the reply sends back although the client sent them: kept as they were here,
    // or won with a later version.
    qint64 sentBack = 0;
    // How many records were new here.
    qint64 newRecords = 0;

private:
    struct Stored {
        QString version;
        bool deleted = false;
        QString columns;
        QByteArray cells;
    };

    struct Write {
        const Change* change;
        QString version;
    };
    // The statement that writes count rows or deletions; with newOnly, only records not stored yet,
    // whose ids it returns.
    QSqlQuery& writer(int count, bool deletions, bool newOnly);
    bool write(const QList<Write>& writes, bool deletions, bool newOnly, QSet<QString>* inserted);

    QSqlDatabase& db;
    const StoreDialect& dialect;
    const qint64 account;
    const qint64 seq;
    const qint64 request;
    const QString now;
    const QString horizon;
    QSqlQuery lookup;
    QSqlQuery sendBack;
    std::map<int, QSqlQuery> writers;
    int batchTable = -1;
    QList<Change> batch;
    QSet<QString> batchIds;
};

QSqlQuery& Merge::writer(int count, bool deletions, bool newOnly)
{
    const int key = count * 4 + (deletions ? 2 : 0) + (newOnly ? 1 : 0);
    const auto found = writers.find(key);
    if (found != writers.end())
        return found->second;
    QSqlQuery query(db);
    // New records are inserted as they came (a deletion of a record the service never had is kept
    // as such); for the others, rows replace what is stored and a deletion keeps the record's last
    // columns and cells.
    // What all rows share comes first and is bound once, as the first parameters; then each row's
    // own values. Both databases take "$n" for a parameter used more than once, and the values are
    // bound in the order of the numbers, which is the order in which they first appear in the
    // statement (SQLite numbers them so).
    const QString insert = deletions
        ? QStringLiteral("insert into records (account, tbl, changed_at, changed_by, changed_seq, id, version, "
                         "columns, cells, deleted) values %1 ")
        : QStringLiteral("insert into records (account, tbl, changed_at, changed_by, changed_seq, id, columns, cells, "
                         "version, deleted) values %1 ");
    const QString statement = newOnly ? insert + QStringLiteral("on conflict (account, tbl, id) do nothing returning id")
        : deletions
        ? insert
            + QStringLiteral("on conflict (account, tbl, id) do update set version=excluded.version, deleted=1, "
                             "changed_at=excluded.changed_at, changed_by=excluded.changed_by, "
                             "changed_seq=excluded.changed_seq")
        : insert
            + QStringLiteral("on conflict (account, tbl, id) do update set columns=excluded.columns, "
                             "cells=excluded.cells, version=excluded.version, deleted=0, "
                             "changed_at=excluded.changed_at, changed_by=excluded.changed_by, "
                             "changed_seq=excluded.changed_seq");
    const auto p = [](int number) { return QLatin1Char('$') + QString::number(number); };
    const QString shared = QStringLiteral("%1,%2,%3,%4,%5").arg(p(1), p(2), p(3), p(4), p(5));
    const int own = deletions ? 2 : 4;
    QStringList values;
    for (int i = 0; i < count; ++i) {
        const int at = 6 + i * own;
        values << (deletions ? QStringLiteral("(%1,%2,%3,'','[]',1)").arg(shared, p(at), p(at + 1))
                             : QStringLiteral("(%1,%2,%3,%4,%5,0)").arg(shared, p(at), p(at + 1), p(at + 2), p(at + 3)));
    }
    query.prepare(statement.arg(values.join(QLatin1Char(','))));
    return writers.emplace(key, std::move(query)).first->second;
}

bool Merge::write(const QList<Write>& writes, bool deletions, bool newOnly, QSet<QString>* inserted)
{
    if (writes.isEmpty())
        return true;
    QSqlQuery& query = writer(int(writes.size()), deletions, newOnly);
    query.addBindValue(account);
    query.addBindValue(batchTable);
    query.addBindValue(now);
    query.addBindValue(request);
    query.addBindValue(seq);
    for (const Write& w : writes) {
        query.addBindValue(w.change->id);
        if (!deletions) {
            query.addBindValue(w.change->columns);
            query.addBindValue(dialect.cellsValue(
                w.version == w.change->version ? w.change->cells : w.change->cellsWithVersion(w.version)));
        }
        query.addBindValue(w.version);
    }
    if (!exec(query))
        return false;
    while (inserted && query.next()) {
        inserted->insert(query.value(0).toString());
        ++newRecords;
    }
    query.finish();
    return true;
}

bool Merge::flush()
{
    if (batch.isEmpty())
        return true;
    for (const Change& change : std::as_const(batch)) {
        if (!change.restamped)
            continue;
        sendBack.addBindValue(batchTable);
        sendBack.addBindValue(change.id);
        if (!exec(sendBack))
            return false;
        ++sentBack;
    }
    // Records the service does not have yet (all of them in a first synchronisation) are inserted
    // as they came, without a look first.
    QSet<QString> inserted;
    {
        QList<Write> rows;
        QList<Write> deletions;
        for (const Change& change : std::as_const(batch))
            (change.deletion ? deletions : rows).append({ &change, change.version });
        if (!write(rows, false, true, &inserted) || !write(deletions, true, true, &inserted))
            return false;
    }
    QList<const Change*> existing;
    for (const Change& change : std::as_const(batch)) {
        if (!inserted.contains(change.id))
            existing << &change;
    }
    if (existing.isEmpty()) {
        batch.clear();
        batchIds.clear();
        return true;
    }

    // What is stored of the others: one query, the list filled up with the first id.
    QHash<QString, Stored> stored;
    lookup.addBindValue(account);
    lookup.addBindValue(batchTable);
    for (int i = 0; i < batchSize; ++i)
        lookup.addBindValue(existing.at(i < existing.size() ? i : 0)->id);
    if (!exec(lookup))
        return false;
    while (lookup.next()) {
        stored.insert(lookup.value(0).toString(),
            { lookup.value(1).toString(), lookup.value(2).toInt() != 0, lookup.value(3).toString(),
                lookup.value(4).toByteArray() });
    }
    lookup.finish();

    QList<Write> rows;
    QList<Write> deletions;
    for (const Change* existingChange : std::as_const(existing)) {
        const Change& change = *existingChange;
        const auto found = stored.constFind(change.id);
        const bool exists = found != stored.constEnd();
        // The later version wins, as on the clients. Equal versions (two changes within one second,
        // on two devices or on one) that leave the record otherwise than it is here: the upload that
        // arrives later wins, and the record takes a version one second later. A client takes only a
        // strictly later version, so every device takes the winner, the uploader too (it is sent
        // back); with equal versions each would keep its own for good.
        QString written = change.version;
        bool back = false;
        if (change.restamped && exists && found->version >= change.version) {
            // A change stamped ahead counts as made when it arrives, after what is stored here (a tie
            // moved a second on, a clock ahead within the tolerance): it wins a second later.
            if (found->deleted && change.deletion)
                continue;
            const QString later = secondLater(found->version);
            if (!later.isEmpty())
                written = later;
            (change.deletion ? deletions : rows).append({ &change, written });
        } else if (exists && found->version > change.version) {
            back = !(found->deleted && change.deletion);
        } else if (exists && found->version == change.version) {
            if (found->deleted && change.deletion)
                continue;
            if (!found->deleted && !change.deletion && found->columns == change.columns && found->cells == change.cells)
                continue;
            const QString later = secondLater(found->version);
            if (!later.isEmpty()) {
                written = later;
                back = true;
            }
            (change.deletion ? deletions : rows).append({ &change, written });
        } else {
            (change.deletion ? deletions : rows).append({ &change, written });
        }
        if (back && !change.restamped) {
            sendBack.addBindValue(batchTable);
            sendBack.addBindValue(change.id);
            if (!exec(sendBack))
                return false;
            ++sentBack;
        }
    }

    if (!write(rows, false, false, nullptr) || !write(deletions, true, false, nullptr))
        return false;
    batch.clear();
    batchIds.clear();
    return true;
}

// Why a change set cannot be stored.
enum class Refusal { None, BadData, BadNames, Storage };

// Merges the change set table by table, in the order the client sent them: its rows, then its
// deletions. A change set the service cannot store is refused at the first fault, in that order.
Refusal mergeChangeSet(const ServiceChangeSet& changeSet, Merge& merge)
{
    const QStringList& tables = ServiceStore::tableNames();
    for (const ServiceChangeSet::Table& object : changeSet.tables()) {
        if (!object.isObject)
            return Refusal::BadData;
        const int table = object.named ? int(tables.indexOf(object.name)) : -1;
        if (table < 0)
            return Refusal::BadNames;
        const QStringList& known = ServiceStore::columnsOf(tables.at(table));

        // The sent columns, and for each stored column (in the stored order) where it is in a row.
        for (qsizetype i = 0; i < object.columns.size(); ++i) {
            if (!object.columnIsText.at(i) || object.columns.indexOf(object.columns.at(i)) < i)
                return Refusal::BadData;
            if (!known.contains(object.columns.at(i)))
                return Refusal::BadNames;
        }
        // Built with -fno-strict-aliasing (CMakeLists.txt): without it GCC 12.2 moved the first
        // append's read of this list's size above its initialisation.
        QStringList stored;
        QList<int> positions;
        for (const QString& column : known) {
            const qsizetype at = object.columns.indexOf(column);
            if (at >= 0) {
                stored << column;
                positions << int(at);
            }
        }
        // "*" stands for every column in the usual order, as nearly every client sends them.
        const QString columns = stored == known ? QStringLiteral("*") : stored.join(QLatin1Char(','));
        const int idAt = int(object.columns.indexOf(QLatin1String("id")));
        const int versionAt = int(object.columns.indexOf(QLatin1String("version")));
        const int versionCell = int(stored.indexOf(QLatin1String("version")));

        // Each element of the array at offset made a change by make (false: it is no change the
        // service can store) and merged.
        const auto mergeElements = [&](qsizetype offset,
                                       const std::function<bool(const ServiceChangeSet::Element&, Change*)>& make) {
            Refusal refusal = Refusal::None;
            const bool read = changeSet.readElements(offset, [&](const ServiceChangeSet::Element& element) {
                Change change;
                if (!make(element, &change))
                    refusal = Refusal::BadData;
                else if (!merge.add(table, std::move(change)))
                    refusal = Refusal::Storage;
                return refusal == Refusal::None;
            });
            return refusal != Refusal::None ? refusal : read ? Refusal::None : Refusal::BadData;
        };
        if (object.rowsAt >= 0) {
            const Refusal refusal = mergeElements(object.rowsAt, [&](const ServiceChangeSet::Element& row, Change* change) {
                if (idAt < 0 || versionAt < 0 || !row.isArray || row.cells.size() != object.columns.size()
                    || row.firstNotText >= 0 || row.cells.at(idAt).isEmpty())
                    return false;
                change->id = QString::fromUtf8(row.cells.at(idAt));
                change->version = QString::fromUtf8(row.cells.at(versionAt));
                change->columns = columns;
                change->versionCell = versionCell;
                change->cells = "[";
                for (const int position : std::as_const(positions)) {
                    if (change->cells.size() > 1)
                        change->cells += ',';
                    appendJsonString(change->cells, row.cells.at(position));
                }
                change->cells += ']';
                return true;
            });
            if (refusal != Refusal::None)
                return refusal;
        }
        if (object.deletionsAt >= 0) {
            const Refusal refusal
                = mergeElements(object.deletionsAt, [&](const ServiceChangeSet::Element& pair, Change* change) {
                      if (!pair.isArray || pair.cells.size() < 2 || (pair.firstNotText >= 0 && pair.firstNotText < 2)
                          || pair.cells.at(0).isEmpty())
                          return false;
                      change->id = QString::fromUtf8(pair.cells.at(0));
                      change->version = QString::fromUtf8(pair.cells.at(1));
                      change->deletion = true;
                      return true;
                  });
            if (refusal != Refusal::None)
                return refusal;
        }
    }
    return merge.flush() ? Refusal::None : Refusal::Storage;
}

// The reply: per table, what changed after the device's last look (changed_seq between seen and
// this request's number), but for what this request stored as the client sent it, and what the
// client sent that ends here otherwise (send_back). Rows of the same columns go together, the
// deletions with the first of them; written into one text as they are read.
class ReplyWriter {
public:
    ReplyWriter(QSqlDatabase& db, const StoreDialect& dialect, qint64 account, qint64 seen, qint64 seq, bool withSendBack)
        : db(db)
        , dialect(dialect)
        , account(account)
        , seen(seen)
        , seq(seq)
        , withSendBack(withSendBack)
    {
    }

    bool write(QByteArray* reply);

private:
    // A query of the table's records that the reply holds, with what and where given; around, when
    // given, is a query over it (%1 in around).
    bool select(QSqlQuery& query, const QString& what, const QString& where, int table, const QString& columns,
        const QString& around = QString());

    QSqlDatabase& db;
    const StoreDialect& dialect;
    const qint64 account;
    const qint64 seen;
    const qint64 seq;
    const bool withSendBack;
};

bool ReplyWriter::select(QSqlQuery& query, const QString& what, const QString& where, int table, const QString& columns,
    const QString& around)
{
    // what and where name the columns with %1 before each: no prefix, or "r." in the part that reads
    // the records sent back. A distinct selection drops the same rows found by both parts.
    const bool distinct = what.startsWith(QLatin1String("distinct "));
    QString statement = QStringLiteral("select %1 from records where account=? and tbl=? and changed_seq>? "
                                       "and changed_seq<? and %2")
                            .arg(what.arg(QString()), where.arg(QString()));
    if (withSendBack) {
        const QString prefix = QStringLiteral("r.");
        statement += QStringLiteral(" union %1 select %2 from records r join send_back s on s.tbl=r.tbl and s.id=r.id "
                                    "where r.account=? and r.tbl=? and not (r.changed_seq>? and r.changed_seq<?) and %3")
                         .arg(distinct ? QString() : QStringLiteral("all"),
                             QString(what).remove(QLatin1String("distinct ")).arg(prefix), where.arg(prefix));
    }
    if (!around.isEmpty())
        statement = around.arg(statement);
    query.setForwardOnly(true);
    query.prepare(statement);
    for (int part = 0; part < (withSendBack ? 2 : 1); ++part) {
        query.addBindValue(account);
        query.addBindValue(table);
        query.addBindValue(seen);
        query.addBindValue(seq);
        if (!columns.isNull())
            query.addBindValue(columns);
    }
    return exec(query);
}

bool ReplyWriter::write(QByteArray* reply)
{
    const QStringList& tables = ServiceStore::tableNames();
    // First the column lists of each table's rows, in the order of their texts, and the length of
    // what the reply holds: the reply is made at its full size at once, never copied to grow.
    QList<QStringList> tableColumnLists;
    qint64 size = 2;
    for (int table = 0; table < tables.size(); ++table) {
        QSqlQuery query(db);
        const QString length = QStringLiteral("case when %1deleted=1 then %2 + %3 + 8 else %4 + 1 end as n")
                                   .arg(QStringLiteral("%1"), dialect.byteLength(QStringLiteral("%1id")),
                                       dialect.byteLength(QStringLiteral("%1version")),
                                       dialect.byteLength(QStringLiteral("%1cells")));
        if (!select(query, QStringLiteral("%1deleted, %1columns, ") + length, QStringLiteral("%1deleted in (0,1)"),
                table, QString(), QStringLiteral("select deleted, columns, sum(n) from (%1) as found group by deleted, columns")))
            return false;
        QStringList columnLists;
        while (query.next()) {
            if (query.value(0).toInt() == 0)
                columnLists << query.value(1).toString();
            size += query.value(2).toLongLong();
        }
        query.finish();
        columnLists.removeDuplicates();
        columnLists.sort();
        if (columnLists.isEmpty())
            columnLists << QString();
        size += 512 * columnLists.size();
        tableColumnLists << columnLists;
    }
    QByteArray& out = *reply;
    out.clear();
    out.reserve(size);
    out += '[';
    for (int table = 0; table < tables.size(); ++table) {
        const QStringList& columnLists = tableColumnLists.at(table);
        const QByteArray name = textArray({ tables.at(table) }).mid(1).chopped(1);
        for (qsizetype group = 0; group < columnLists.size(); ++group) {
            if (out.size() > 1)
                out += ',';
            // Keys in sorted order, as the clients write theirs.
            out += "{\"delete_columns\":[\"id\",\"version\"],\"delete_data\":[";
            if (group == 0) {
                QSqlQuery deletions(db);
                if (!select(deletions, QStringLiteral("%1id, %1version"), QStringLiteral("%1deleted=1"), table, QString()))
                    return false;
                bool first = true;
                while (deletions.next()) {
                    if (!first)
                        out += ',';
                    first = false;
                    out += '[';
                    appendJsonString(out, deletions.value(0).toString());
                    out += ',';
                    appendJsonString(out, deletions.value(1).toString());
                    out += ']';
                }
            }
            const QString& columns = columnLists.at(group);
            const QStringList names = columns == QLatin1String("*") ? ServiceStore::columnsOf(tables.at(table))
                                                                    : columns.split(QLatin1Char(','), Qt::SkipEmptyParts);
            out += "],\"table_name\":" + name + ",\"update_columns\":" + textArray(names) + ",\"update_data\":[";
            if (!columns.isEmpty()) {
                QSqlQuery rows(db);
                if (!select(rows, QStringLiteral("%1cells"), QStringLiteral("%1deleted=0 and %1columns=?"), table, columns))
                    return false;
                bool first = true;
                while (rows.next()) {
                    if (!first)
                        out += ',';
                    first = false;
                    out += rows.value(0).toByteArray();
                }
            }
            out += "]}";
        }
    }
    out += ']';
    return true;
}

} // namespace

ServiceStore::ServiceStore()
    : shared(std::make_shared<Shared>())
{
}

ServiceStore::~ServiceStore()
{
    // Threads that are still there lose their connection to this store now.
    const QMutexLocker lock(&shared->mutex);
    for (const QString& name : std::as_const(shared->connections))
        QSqlDatabase::removeDatabase(name);
    shared->connections.clear();
}

QString ServiceStore::path() const
{
    return shared->dialect.shownLocation();
}

QSqlDatabase ServiceStore::database() const
{
    QList<ThreadConnections::Entry>& entries = threadConnections.entries;
    for (qsizetype i = 0; i < entries.size();) {
        const auto store = entries.at(i).store.lock();
        if (!store) {
            entries.removeAt(i);
            continue;
        }
        if (store == shared) {
            QSqlDatabase db = QSqlDatabase::database(entries.at(i).name, false);
            // A connection lost (the database server went away or restarted) is made again.
            if (!db.isOpen()) {
                db.close();
                db.open();
                setUpConnection(db, shared->dialect);
            }
            return db;
        }
        ++i;
    }
    QString name;
    {
        const QMutexLocker lock(&shared->mutex);
        name = shared->connectionPrefix + QString::number(++shared->made);
        shared->connections << name;
    }
    entries.append({ shared, name });
    QSqlDatabase db = shared->dialect.connect(name);
    setUpConnection(db, shared->dialect);
    return db;
}

template <typename Work>
auto ServiceStore::withConnection(Work work) const
{
    // A connection of this thread that the database server dropped meanwhile (it restarted, or went
    // away and came back) shows when the first statement fails: the work is done once more on a new
    // connection. Anything that fails later fails the request.
    QSqlDatabase db = database();
    Attempt attempt = Attempt::Failed;
    auto result = work(db, &attempt);
    if (attempt == Attempt::FailedFirst && !db.isOpen()) {
        db = database();
        result = work(db, &attempt);
    }
    return result;
}

const QStringList& ServiceStore::tableNames()
{
    static const QStringList names = { QStringLiteral("bill"), QStringLiteral("account"), QStringLiteral("borrower"),
        QStringLiteral("category"), QStringLiteral("sub_category"), QStringLiteral("member") };
    return names;
}

const QStringList& ServiceStore::columnsOf(const QString& table)
{
    static const QHash<QString, QStringList> columns = {
        { QStringLiteral("bill"),
            QString::fromLatin1("id,title,amount,description,date,month,category_id,sub_category_id,account_id,"
                                "to_account_id,borrower_id,member_id,kind,created_time,version")
                .split(QLatin1Char(',')) },
        { QStringLiteral("account"), QString::fromLatin1("id,name,kind,amount,description,sort,version").split(',') },
        { QStringLiteral("borrower"), QString::fromLatin1("id,name,kind,description,sort,version").split(',') },
        { QStringLiteral("category"), QString::fromLatin1("id,name,kind,description,sort,version").split(',') },
        { QStringLiteral("sub_category"),
            QString::fromLatin1("id,category_id,name,kind,description,sort,version").split(',') },
        { QStringLiteral("member"), QString::fromLatin1("id,name,description,sort,version").split(',') },
    };
    static const QStringList none;
    const auto found = columns.constFind(table);
    return found == columns.constEnd() ? none : *found;
}

bool ServiceStore::open(const QString& location, QString* error)
{
    if (!shared->dialect.setLocation(location, error))
        return false;
    if (shared->dialect.kind() == StoreDialect::Kind::SQLite) {
        const QString path = shared->dialect.filePath();
        const QFileInfo info(path);
        // Folders made for the file are its owner's alone, whatever the umask lets through: nobody
        // else needs to see even that the file is there.
        QString missing = info.absolutePath();
        while (!QFileInfo::exists(QFileInfo(missing).absolutePath()))
            missing = QFileInfo(missing).absolutePath();
        const bool makeFolders = !QFileInfo::exists(missing);
        QDir().mkpath(info.absolutePath());
        if (makeFolders) {
            for (QString folder = info.absolutePath();; folder = QFileInfo(folder).absolutePath()) {
                QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
                if (folder == missing)
                    break;
            }
        }
        const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
        if (!info.exists()) {
            // Created owner-only from the start: it holds the accounts' records and password hashes.
            QFile file(path);
            // Another process may make it at the same time: then it is there.
            if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, ownerOnly) && !QFileInfo::exists(path)) {
                *error = file.errorString();
                return false;
            }
        }
        QFile::setPermissions(path, ownerOnly);
    }

    QSqlDatabase db = database();
    if (!db.isOpen()) {
        *error = db.lastError().text();
        if (error->trimmed().isEmpty())
            *error = QStringLiteral("cannot connect");
        return false;
    }
    return setUpSchema(db, error);
}

bool ServiceStore::setUpSchema(QSqlDatabase& db, QString* error)
{
    QFile scriptFile(QStringLiteral(":/service/servicestore.sql"));
    if (!scriptFile.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("the schema script is missing: %1").arg(scriptFile.errorString());
        return false;
    }
    // The steps of the script: "-- version N" starts step N; statements end with ";" at a line's end.
    QMap<int, QStringList> steps;
    int step = 0;
    QString statement;
    static const QRegularExpression versionLine(QStringLiteral("^-- version (\\d+)\\s*$"));
    for (const QString& line : shared->dialect.schemaText(QString::fromUtf8(scriptFile.readAll())).split('\n')) {
        const QRegularExpressionMatch version = versionLine.match(line);
        if (version.hasMatch()) {
            step = version.captured(1).toInt();
            continue;
        }
        if (line.trimmed().startsWith(QLatin1String("--")) || line.trimmed().isEmpty())
            continue;
        statement += line + QLatin1Char('\n');
        if (line.trimmed().endsWith(QLatin1Char(';'))) {
            statement = statement.trimmed();
            statement.chop(1);
            steps[step] << statement;
            statement.clear();
        }
    }
    const int latest = steps.isEmpty() ? 0 : steps.lastKey();

    QSqlQuery query(db);
    const auto failed = [&] {
        *error = query.lastError().text();
        QSqlQuery(db).exec(QStringLiteral("rollback"));
        return false;
    };
    // One process at a time sets the schema up; another that starts meanwhile finds it done.
    if (!exec(query, shared->dialect.beginWriting()))
        return failed();
    if (!shared->dialect.lockStatement().isEmpty()) {
        query.prepare(shared->dialect.lockStatement());
        query.addBindValue(StoreDialect::schemaLock());
        if (!exec(query))
            return failed();
    }
    if (!exec(query, QStringLiteral("create table if not exists schema_version (version integer not null)"))
        || !exec(query, QStringLiteral("select max(version) from schema_version")) || !query.next())
        return failed();
    const int current = query.value(0).toInt();
    query.finish();
    if (current > latest) {
        QSqlQuery(db).exec(QStringLiteral("rollback"));
        *error = QStringLiteral("the store was set up by a newer quorvane-service (schema version %1, this one knows "
                                "up to %2)")
                     .arg(current)
                     .arg(latest);
        return false;
    }
    // Service files from before the schema had versions lack columns that later files have.
    if (shared->dialect.kind() == StoreDialect::Kind::SQLite && !addMissingColumns(db, error)) {
        QSqlQuery(db).exec(QStringLiteral("rollback"));
        return false;
    }
    for (auto it = steps.constBegin(); it != steps.constEnd(); ++it) {
        if (it.key() <= current)
            continue;
        for (const QString& sql : it.value()) {
            if (!exec(query, sql))
                return failed();
        }
    }
    if (current < latest) {
        query.prepare(QStringLiteral("delete from schema_version"));
        if (!exec(query))
            return failed();
        query.prepare(QStringLiteral("insert into schema_version (version) values (?)"));
        query.addBindValue(latest);
        if (!exec(query))
            return failed();
    }
    if (shared->dialect.kind() == StoreDialect::Kind::SQLite) {
        // As the last step makes them, for a file whose indexes went with its columns.
        for (const char* sql : { "drop index if exists records_changed",
                 "create index if not exists records_sequence on records (account, tbl, changed_seq)",
                 "create index if not exists syncs_client_time on syncs (account, client_time)" }) {
            if (!exec(query, QLatin1String(sql)))
                return failed();
        }
    }
    if (!exec(query, QStringLiteral("commit")))
        return failed();
    return true;
}

bool ServiceStore::addMissingColumns(QSqlDatabase& db, QString* error)
{
    QSqlQuery query(db);
    // Columns that service files written before the change sequence lack. Their records count as
    // changed before anything a device can name, and their requests as unknown: every device gets
    // the whole account once.
    const struct {
        const char* table;
        const char* column;
        const char* definition;
    } added[] = {
        { "users", "change_seq", "integer not null default 0" },
        { "syncs", "client_time", "text" },
        { "syncs", "answered_seq", "integer" },
        { "records", "changed_seq", "integer not null default 0" },
    };
    for (const auto& column : added) {
        if (!query.exec(QStringLiteral("pragma table_info(%1)").arg(QLatin1String(column.table)))) {
            *error = query.lastError().text();
            return false;
        }
        // A table that is not there yet is made by the schema script.
        bool exists = false;
        bool present = false;
        while (query.next()) {
            exists = true;
            present = present || query.value(1).toString() == QLatin1String(column.column);
        }
        if (exists && !present
            && !query.exec(QStringLiteral("alter table %1 add column %2 %3")
                               .arg(QLatin1String(column.table), QLatin1String(column.column),
                                   QLatin1String(column.definition)))) {
            *error = query.lastError().text();
            return false;
        }
    }
    return true;
}

bool ServiceStore::addUser(const QString& name, const QString& password, QString* error)
{
    if (name.isEmpty() || password.isEmpty()) {
        *error = QStringLiteral("the name and the password may not be empty");
        return false;
    }
    return withConnection([&](QSqlDatabase& db, Attempt* attempt) {
        *attempt = Attempt::FailedFirst;
        QSqlQuery query(db);
        query.prepare(QStringLiteral("select count(*) from users where name=?"));
        query.addBindValue(name);
        if (!exec(query) || !query.next()) {
            *error = QStringLiteral("the store cannot be read: %1").arg(query.lastError().text());
            return false;
        }
        *attempt = Attempt::Failed;
        if (query.value(0).toInt() > 0) {
            *error = QStringLiteral("an account named \"%1\" exists").arg(name);
            return false;
        }
        QByteArray salt(saltBytes, '\0');
        QRandomGenerator::system()->generate(salt.begin(), salt.end());
        // 34 characters and "00": the clients drop the last two to prefix the ids of their default
        // records, which then have the 36 characters of every other record id.
        const QString userId = QUuid::createUuid().toString(QUuid::WithoutBraces).left(34) + QStringLiteral("00");
        query.prepare(QStringLiteral("insert into users (name, user_id, salt, hash, iterations, created) "
                                     "values (?,?,?,?,?,?)"));
        query.addBindValue(name);
        query.addBindValue(userId);
        query.addBindValue(salt);
        query.addBindValue(passwordHash(password, salt, hashIterations));
        query.addBindValue(hashIterations);
        query.addBindValue(nowText());
        if (!exec(query)) {
            *error = query.lastError().text();
            return false;
        }
        *attempt = Attempt::Done;
        return true;
    });
}

QString ServiceStore::authenticate(const QString& name, const QString& password, qint64* account, Failure* failure) const
{
    QString userId;
    QByteArray salt;
    QByteArray hash;
    int iterations = 0;
    qint64 number = 0;
    const bool read = name.isEmpty() || withConnection([&](QSqlDatabase& db, Attempt* attempt) {
        *attempt = Attempt::FailedFirst;
        QSqlQuery query(db);
        query.prepare(QStringLiteral("select user_id, salt, hash, iterations, account from users where name=?"));
        query.addBindValue(name);
        if (!exec(query))
            return false;
        *attempt = Attempt::Done;
        if (query.next()) {
            userId = query.value(0).toString();
            salt = query.value(1).toByteArray();
            hash = query.value(2).toByteArray();
            iterations = query.value(3).toInt();
            number = query.value(4).toLongLong();
        }
        return true;
    });
    if (!read && failure)
        *failure = Failure { StorageFailed, storageFailedText };
    if (userId.isEmpty()) {
        // As much work as for a known name, so that the time of a refusal does not tell which names
        // have accounts: the password is hashed with a fixed salt and compared all the same.
        static const QByteArray dummySalt(saltBytes, '\x5a');
        static const QByteArray dummyHash(32, '\0');
        sameBytes(passwordHash(password, dummySalt, hashIterations), dummyHash);
        return QString();
    }
    if (!sameBytes(passwordHash(password, salt, iterations), hash))
        return QString();
    if (account)
        *account = number;
    return userId;
}

bool ServiceStore::isAvailable() const
{
    return withConnection([&](QSqlDatabase& db, Attempt* attempt) {
        *attempt = Attempt::FailedFirst;
        // A query that reads the store: an SQLite file that is no database any more answers "select 1".
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("select 1 from users limit 1")))
            return false;
        *attempt = Attempt::Done;
        return true;
    });
}

bool ServiceStore::isWritable() const
{
    if (shared->dialect.kind() == StoreDialect::Kind::SQLite) {
        // SQLite takes the file's write lock for a write, and would wait for a long merge to end:
        // its file system says whether a write can succeed.
        const QStorageInfo volume(QFileInfo(shared->dialect.filePath()).absolutePath());
        return volume.isValid() && !volume.isReadOnly() && volume.bytesAvailable() >= minimumFreeBytes;
    }
    return withConnection([&](QSqlDatabase& db, Attempt* attempt) {
        *attempt = Attempt::FailedFirst;
        // A row written and taken back: a database out of space or in read-only mode refuses it.
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("begin")))
            return false;
        *attempt = Attempt::Failed;
        query.prepare(QStringLiteral("insert into syncs (account, received) values (?, ?)"));
        query.addBindValue(qint64(0));
        query.addBindValue(nowText());
        const bool written = query.exec();
        QSqlQuery(db).exec(QStringLiteral("rollback"));
        if (!written)
            return false;
        *attempt = Attempt::Done;
        return true;
    });
}

bool ServiceStore::forgetRunsBefore(const QDateTime& cutoff)
{
    return withConnection([&](QSqlDatabase& db, Attempt* attempt) {
        *attempt = Attempt::FailedFirst;
        QSqlQuery query(db);
        if (!exec(query, shared->dialect.beginWriting()))
            return false;
        *attempt = Attempt::Failed;
        const auto failed = [&] {
            QSqlQuery(db).exec(QStringLiteral("rollback"));
            return false;
        };
        const QString before = timeText(cutoff);
        // Runs arriving meanwhile come after this one and stay.
        if (!exec(query, QStringLiteral("select coalesce(max(request), 0) from syncs")) || !query.next())
            return failed();
        const qint64 last = query.value(0).toLongLong();
        // Each account's old answered runs become one: the latest client time and the smallest
        // sequence among them. A device whose previous run was among them finds that row where it
        // found its own (its client time is no earlier) and is sent all it was sent then and more;
        // one whose run is not found at all is sent everything. Never less than it lacks.
        query.prepare(QStringLiteral("insert into syncs (account, received, client_time, answered_seq) "
                                     "select account, max(received), max(client_time), min(answered_seq) from syncs "
                                     "where received < ? and request <= ? and answered_seq is not null "
                                     "and client_time is not null group by account"));
        query.addBindValue(before);
        query.addBindValue(last);
        if (!exec(query))
            return failed();
        query.prepare(QStringLiteral("delete from syncs where received < ? and request <= ?"));
        query.addBindValue(before);
        query.addBindValue(last);
        if (!exec(query) || !exec(query, QStringLiteral("commit")))
            return failed();
        *attempt = Attempt::Done;
        return true;
    });
}

bool ServiceStore::seenSequence(
    QSqlDatabase& db, qint64 account, const QString& syncTime, const QString& clientTime, qint64* seen) const
{
    *seen = everything;
    const QDateTime start = timeFromText(syncTime);
    const QDateTime horizon = QDateTime::currentDateTimeUtc().addSecs(clockAheadSeconds);
    // A request that does not say when its device last ran, or whose clock the service cannot read,
    // gets everything: never less than it may lack.
    if (!start.isValid() || start > horizon || !timeFromText(clientTime).isValid())
        return true;
    // The device's previous run kept the client time of its upload, at or a little after that run's
    // start (which is syncTime now), so it is among the runs with a client time from syncTime on
    // (less the allowance for a clock set back during the run): the smallest sequence among them is
    // at most the one the device's previous run was answered at. Runs of other devices among them
    // only make the reply larger. Unless one of them may be the device's previous run (its upload
    // soon after syncTime), the run is unknown here (a first run, an account changed in the book, a
    // service file older than the run), and the device gets everything.
    QSqlQuery query(db);
    query.prepare(QStringLiteral("select min(answered_seq), count(case when client_time <= ? then 1 end) from syncs "
                                 "where account = ? and answered_seq is not null and client_time >= ?"));
    query.addBindValue(timeText(start.addSecs(runStartSeconds)));
    query.addBindValue(account);
    query.addBindValue(timeText(start.addSecs(-clockStepBackSeconds)));
    if (!exec(query) || !query.next())
        return false;
    if (query.value(1).toInt() > 0)
        *seen = query.value(0).toLongLong();
    return true;
}

bool ServiceStore::synchronise(qint64 account, const QString& syncTime, const QString& clientTime,
    const QByteArray& data, QByteArray* reply, Failure* error)
{
    ServiceChangeSet changeSet(data);
    if (!changeSet.readOutline()) {
        *error = Failure { BadData, QStringLiteral("同步数据格式错误") };
        return false;
    }
    return withConnection([&](QSqlDatabase& db, Attempt* attempt) {
        *attempt = Attempt::FailedFirst;
        const QString now = nowText();
        const auto refused = [&](Refusal refusal) {
            QSqlQuery(db).exec(QStringLiteral("rollback"));
            reply->clear();
            switch (refusal) {
            case Refusal::BadData:
                *error = Failure { BadData, QStringLiteral("同步数据格式错误") };
                break;
            case Refusal::BadNames:
                *error = Failure { BadNames, QStringLiteral("同步数据的表名或列名错误") };
                break;
            default:
                *error = Failure { StorageFailed, storageFailedText };
            }
            return false;
        };
        QSqlQuery query(db);
        if (!exec(query, shared->dialect.beginWriting()))
            return refused(Refusal::Storage);
        *attempt = Attempt::Failed;
        // Merges of one account wait for each other here, in every process on the database.
        if (!shared->dialect.lockStatement().isEmpty()) {
            query.prepare(shared->dialect.lockStatement());
            query.addBindValue(account);
            if (!exec(query))
                return refused(Refusal::Storage);
        }

        // The account's change sequence moves on first: this request's changes take the new number.
        query.prepare(QStringLiteral("update users set change_seq = change_seq + 1 where account = ? "
                                     "returning change_seq"));
        query.addBindValue(account);
        if (!exec(query) || !query.next())
            return refused(Refusal::Storage);
        const qint64 seq = query.value(0).toLongLong();
        query.finish();
        qint64 seen = everything;
        if (!seenSequence(db, account, syncTime, clientTime, &seen))
            return refused(Refusal::Storage);

        // The run is found again by its client time; one from a clock the service does not trust is
        // not.
        const QDateTime client = timeFromText(clientTime);
        const bool trusted = client.isValid() && client <= QDateTime::currentDateTimeUtc().addSecs(clockAheadSeconds);
        query.prepare(
            QStringLiteral("insert into syncs (account, received, client_time) values (?,?,?) returning request"));
        query.addBindValue(account);
        query.addBindValue(now);
        query.addBindValue(trusted ? QVariant(timeText(client)) : QVariant(QMetaType::fromType<QString>()));
        if (!exec(query) || !query.next())
            return refused(Refusal::Storage);
        const qint64 request = query.value(0).toLongLong();
        query.finish();
        // Left over from a request of this connection that failed half-way.
        if (!exec(query, QStringLiteral("delete from send_back")))
            return refused(Refusal::Storage);

        qint64 sentBack = 0;
        qint64 newRecords = 0;
        {
            Merge merge(db, shared->dialect, account, seq, request, now);
            const Refusal refusal = mergeChangeSet(changeSet, merge);
            if (refusal != Refusal::None)
                return refused(refusal);
            sentBack = merge.sentBack;
            newRecords = merge.newRecords;
        }

        // Whatever the device has not seen now carries a number after this one.
        query.prepare(QStringLiteral("update syncs set answered_seq=? where request=?"));
        query.addBindValue(seq);
        query.addBindValue(request);
        if (!exec(query))
            return refused(Refusal::Storage);
        ReplyWriter writer(db, shared->dialect, account, seen, seq, sentBack > 0);
        if (!writer.write(reply) || !exec(query, QStringLiteral("delete from send_back"))
            || !exec(query, QStringLiteral("commit")))
            return refused(Refusal::Storage);
        *attempt = Attempt::Done;
        // After a large first synchronisation the database's statistics know nothing of the account
        // yet, and its next merges would look their records up the slow way.
        if (newRecords >= refreshStatisticsAfter && !shared->dialect.refreshStatistics().isEmpty())
            exec(query, shared->dialect.refreshStatistics());
        return true;
    });
}

bool ServiceStore::addFeedback(const QString& email, const QString& subject, const QString& content)
{
    return withConnection([&](QSqlDatabase& db, Attempt* attempt) {
        *attempt = Attempt::FailedFirst;
        QSqlQuery query(db);
        query.prepare(QStringLiteral("insert into feedback (received, email, subject, content) values (?,?,?,?)"));
        query.addBindValue(nowText());
        query.addBindValue(email);
        query.addBindValue(subject);
        query.addBindValue(content);
        if (!exec(query))
            return false;
        *attempt = Attempt::Done;
        return true;
    });
}
