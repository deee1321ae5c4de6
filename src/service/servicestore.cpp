#include "servicestore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QPasswordDigestor>
#include <QRandomGenerator>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUuid>
#include <cstdio>

namespace {

// PBKDF2 rounds for new accounts. Every request checks the password, so this stays moderate
// (about 3 ms on a current machine); each account keeps the count it was made with.
const int hashIterations = 10000;
const int saltBytes = 16;

const char* const timeFormat = "yyyy-MM-dd hh:mm:ss";

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

QByteArray compact(const QJsonArray& array)
{
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

// Appends text as a JSON string, escaped as JSON.stringify escapes: the cells of every stored row
// are written this way, 100,000 of them for a large first synchronisation.
void appendJsonString(QByteArray& out, const QString& text)
{
    static const char hex[] = "0123456789abcdef";
    out += '"';
    for (const char byte : text.toUtf8()) {
        const auto c = static_cast<unsigned char>(byte);
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
        default:
            if (c < 0x20) {
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += byte;
            }
        }
    }
    out += '"';
}

bool exec(QSqlQuery& query)
{
    if (query.exec())
        return true;
    std::fprintf(
        stderr, "quorvane-service: %s: %s\n", qPrintable(query.lastQuery()), qPrintable(query.lastError().text()));
    return false;
}

// The cells of a row as stored: a JSON array of texts.
QByteArray cellsText(const QStringList& values)
{
    QByteArray cells = "[";
    for (const QString& value : values) {
        if (cells.size() > 1)
            cells += ',';
        appendJsonString(cells, value);
    }
    cells += ']';
    return cells;
}

// One row or deletion of an incoming change set, with its cells in the stored column order.
struct Change {
    int table = 0;
    QString id;
    QString version;
    QString columns;
    int versionCell = -1;
    QByteArray cells;
    bool deletion = false;

    // The row's cells with another version (seldom needed: read back from the cells).
    QByteArray cellsWithVersion(const QString& other) const
    {
        QStringList values;
        for (const QJsonValue& cell : QJsonDocument::fromJson(cells).array())
            values << cell.toString();
        if (versionCell >= 0 && versionCell < values.size())
            values[versionCell] = other;
        return cellsText(values);
    }
};

ServiceStore::Failure failure(int code, const QString& message)
{
    return ServiceStore::Failure { code, message };
}

// Reads the change set; false with the reason when it is not one the service can store.
bool readChanges(const QByteArray& data, QList<Change>* changes, ServiceStore::Failure* error)
{
    const ServiceStore::Failure badData = failure(ServiceStore::BadData, QStringLiteral("同步数据格式错误"));
    const ServiceStore::Failure badNames = failure(ServiceStore::BadNames, QStringLiteral("同步数据的表名或列名错误"));
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(data, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isArray()) {
        *error = badData;
        return false;
    }
    const QStringList& tables = ServiceStore::tableNames();
    for (const QJsonValue& tableValue : document.array()) {
        if (!tableValue.isObject()) {
            *error = badData;
            return false;
        }
        const QJsonObject object = tableValue.toObject();
        const int table = tables.indexOf(object.value(QLatin1String("table_name")).toString());
        if (table < 0) {
            *error = badNames;
            return false;
        }
        const QStringList& known = ServiceStore::columnsOf(tables.at(table));

        // The sent columns, and for each stored column (in the stored order) where it is in a row.
        QStringList sent;
        for (const QJsonValue& column : object.value(QLatin1String("update_columns")).toArray()) {
            if (!column.isString() || sent.contains(column.toString())) {
                *error = badData;
                return false;
            }
            if (!known.contains(column.toString())) {
                *error = badNames;
                return false;
            }
            sent << column.toString();
        }
        QStringList stored;
        QList<int> positions;
        for (const QString& column : known) {
            if (sent.contains(column)) {
                stored << column;
                positions << int(sent.indexOf(column));
            }
        }
        // "*" stands for every column in the usual order, as nearly every client sends them.
        const QString columns = stored == known ? QStringLiteral("*") : stored.join(QLatin1Char(','));
        const int idAt = int(sent.indexOf(QLatin1String("id")));
        const int versionAt = int(sent.indexOf(QLatin1String("version")));

        const QJsonArray rows = object.value(QLatin1String("update_data")).toArray();
        if (!rows.isEmpty() && (idAt < 0 || versionAt < 0)) {
            *error = badData;
            return false;
        }
        for (const QJsonValue& rowValue : rows) {
            const QJsonArray row = rowValue.toArray();
            if (row.size() != sent.size()) {
                *error = badData;
                return false;
            }
            for (const QJsonValue& cell : row) {
                if (!cell.isString()) {
                    *error = badData;
                    return false;
                }
            }
            Change change;
            change.table = table;
            change.id = row.at(idAt).toString();
            change.version = row.at(versionAt).toString();
            if (change.id.isEmpty()) {
                *error = badData;
                return false;
            }
            QStringList values;
            for (int position : positions)
                values << row.at(position).toString();
            change.versionCell = int(stored.indexOf(QLatin1String("version")));
            change.columns = columns;
            change.cells = cellsText(values);
            changes->append(change);
        }
        for (const QJsonValue& pairValue : object.value(QLatin1String("delete_data")).toArray()) {
            const QJsonArray pair = pairValue.toArray();
            if (pair.size() < 2 || !pair.at(0).isString() || !pair.at(1).isString()
                || pair.at(0).toString().isEmpty()) {
                *error = badData;
                return false;
            }
            Change change;
            change.table = table;
            change.id = pair.at(0).toString();
            change.version = pair.at(1).toString();
            change.deletion = true;
            changes->append(change);
        }
    }
    return true;
}

// The records of a reply, grouped as the reply lists them: per table, rows of the same columns
// together, then the deletions.
struct ReplyTable {
    QMap<QString, QList<QByteArray>> rowsByColumns;
    QList<QByteArray> deletions;
};

QByteArray replyText(const QMap<int, ReplyTable>& tables)
{
    const QByteArray deleteColumns = compact({ QStringLiteral("id"), QStringLiteral("version") });
    QByteArrayList objects;
    for (auto table = tables.constBegin(); table != tables.constEnd(); ++table) {
        const QString name = ServiceStore::tableNames().at(table.key());
        QMap<QString, QList<QByteArray>> groups = table->rowsByColumns;
        if (groups.isEmpty())
            groups.insert(QString(), {});
        bool first = true;
        for (auto group = groups.constBegin(); group != groups.constEnd(); ++group) {
            const QStringList names = group.key() == QLatin1String("*")
                ? ServiceStore::columnsOf(name)
                : group.key().split(QLatin1Char(','), Qt::SkipEmptyParts);
            const QJsonArray columns = QJsonArray::fromStringList(names);
            // Keys in sorted order, as the clients write theirs.
            QByteArray object = "{\"delete_columns\":" + deleteColumns + ",\"delete_data\":["
                + (first ? table->deletions.join(',') : QByteArray())
                + "],\"table_name\":" + compact({ name }).mid(1).chopped(1) + ",\"update_columns\":" + compact(columns)
                + ",\"update_data\":[" + group->join(',') + "]}";
            objects << object;
            first = false;
        }
    }
    return '[' + objects.join(',') + ']';
}

} // namespace

ServiceStore::ServiceStore()
    : connectionName(QStringLiteral("quorvane-service-") + QUuid::createUuid().toString(QUuid::WithoutBraces))
{
}

ServiceStore::~ServiceStore()
{
    for (const QString& name : std::as_const(threadConnections))
        QSqlDatabase::removeDatabase(name);
    if (QSqlDatabase::contains(connectionName)) {
        QSqlDatabase::database(connectionName, false).close();
        QSqlDatabase::removeDatabase(connectionName);
    }
}

QSqlDatabase ServiceStore::database() const
{
    // A connection serves only the thread that made it: every other thread gets one of its own.
    if (!openedBy || openedBy == QThread::currentThread())
        return QSqlDatabase::database(connectionName, false);
    const QString name = connectionName + QStringLiteral("-thread-")
        + QString::number(reinterpret_cast<quintptr>(QThread::currentThread()), 16);
    if (QSqlDatabase::contains(name))
        return QSqlDatabase::database(name, false);
    QSqlDatabase db = QSqlDatabase::cloneDatabase(connectionName, name);
    // Writers of several threads take turns on the file; a large merge holds it for seconds.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=300000"));
    if (db.open()) {
        QSqlQuery query(db);
        query.exec(QStringLiteral("pragma synchronous=normal"));
        query.exec(QStringLiteral("pragma cache_size=-65536"));
    }
    const QMutexLocker lock(&threadConnectionsMutex);
    threadConnections << name;
    return db;
}

bool ServiceStore::isAvailable() const
{
    // A query that reads the store, not one the database could answer without looking at it.
    QSqlQuery query(database());
    return query.exec(QStringLiteral("select 1 from users limit 1"));
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

bool ServiceStore::open(const QString& path, QString* error)
{
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
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, ownerOnly)) {
            *error = file.errorString();
            return false;
        }
    }
    QFile::setPermissions(path, ownerOnly);

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    db.setDatabaseName(path);
    openedBy = QThread::currentThread();
    if (!db.open()) {
        *error = db.lastError().text();
        return false;
    }
    filePath = info.absoluteFilePath();
    QSqlQuery query(db);
    const char* const schema[] = {
        "pragma synchronous=normal",
        // A first synchronisation of a large book writes its whole account at once.
        "pragma cache_size=-65536",
        // change_seq: the account's change sequence, the last number given to a change of its records.
        "create table if not exists users (account integer primary key, name text not null unique, "
        "user_id text not null unique, salt blob not null, hash blob not null, iterations integer not null, "
        "created text not null, change_seq integer not null default 0)",
        // Every synchronisation request an account made; for an answered one, the client's clock when
        // it was sent and the account's change sequence when it was answered (null where either is
        // unknown).
        "create table if not exists syncs (request integer primary key, account integer not null, "
        "received text not null, client_time text, answered_seq integer)",
        // One row per record of an account: its table (the position in tableNames()), the columns it
        // arrived with (comma-separated, or "*" for all of columnsOf() in that order), its cells as a
        // JSON array in that order, its version, whether it is deleted, and when, by which request and
        // under which number of the account's change sequence it last changed here.
        "create table if not exists records (account integer not null, tbl integer not null, id text not null, "
        "columns text not null, cells text not null, version text not null, deleted integer not null, "
        "changed_at text not null, changed_by integer not null, changed_seq integer not null default 0, "
        "primary key (account, tbl, id))",
        "create table if not exists feedback (id integer primary key, received text not null, email text, "
        "subject text, content text)",
    };
    for (const char* statement : schema) {
        if (!query.exec(QLatin1String(statement))) {
            *error = query.lastError().text();
            return false;
        }
    }
    return upgrade(error);
}

bool ServiceStore::upgrade(QString* error)
{
    QSqlDatabase db = database();
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
        bool present = false;
        while (query.next())
            present = present || query.value(1).toString() == QLatin1String(column.column);
        if (!present
            && !query.exec(QStringLiteral("alter table %1 add column %2 %3")
                               .arg(QLatin1String(column.table), QLatin1String(column.column),
                                   QLatin1String(column.definition)))) {
            *error = query.lastError().text();
            return false;
        }
    }
    const char* const indexes[] = {
        // Replies were once chosen by the time of the change; nothing reads that any more.
        "drop index if exists records_changed",
        "create index if not exists records_sequence on records (account, changed_seq)",
        "create index if not exists syncs_client_time on syncs (account, client_time)",
    };
    for (const char* statement : indexes) {
        if (!query.exec(QLatin1String(statement))) {
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
    QSqlQuery query(database());
    query.prepare(QStringLiteral("select count(*) from users where name=?"));
    query.addBindValue(name);
    if (!exec(query) || !query.next() || query.value(0).toInt() > 0) {
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
    return true;
}

QString ServiceStore::authenticate(const QString& name, const QString& password, qint64* account) const
{
    QSqlQuery query(database());
    query.prepare(QStringLiteral("select user_id, salt, hash, iterations, account from users where name=?"));
    query.addBindValue(name);
    if (name.isEmpty() || !exec(query) || !query.next()) {
        // As much work as for a known name, so that the time of a refusal does not tell which names
        // have accounts: the password is hashed with a fixed salt and compared all the same.
        static const QByteArray dummySalt(saltBytes, '\x5a');
        static const QByteArray dummyHash(32, '\0');
        sameBytes(passwordHash(password, dummySalt, hashIterations), dummyHash);
        return QString();
    }
    const QByteArray hash = passwordHash(password, query.value(1).toByteArray(), query.value(3).toInt());
    if (!sameBytes(hash, query.value(2).toByteArray()))
        return QString();
    if (account)
        *account = query.value(4).toLongLong();
    return query.value(0).toString();
}

bool ServiceStore::seenSequence(qint64 account, const QString& syncTime, const QString& clientTime, qint64* seen) const
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
    QSqlQuery query(database());
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

bool ServiceStore::synchronise(qint64 account, const QString& syncTime, const QString& clientTime, const QByteArray& data,
    QByteArray* reply, Failure* error)
{
    QList<Change> changes;
    if (!readChanges(data, &changes, error))
        return false;

    QSqlDatabase db = database();
    const QString now = nowText();
    if (!db.transaction()) {
        *error = failure(StorageFailed, QStringLiteral("服务器保存同步数据时出错"));
        return false;
    }
    const auto storageFailed = [&] {
        db.rollback();
        *error = failure(StorageFailed, QStringLiteral("服务器保存同步数据时出错"));
        return false;
    };

    // The account's change sequence moves on first: this request's changes take the new number, and
    // requests of one account wait for each other here (the row stays locked until the commit).
    QSqlQuery sequence(db);
    sequence.prepare(QStringLiteral("update users set change_seq = change_seq + 1 where account = ?"));
    sequence.addBindValue(account);
    if (!exec(sequence))
        return storageFailed();
    sequence.prepare(QStringLiteral("select change_seq from users where account = ?"));
    sequence.addBindValue(account);
    if (!exec(sequence) || !sequence.next())
        return storageFailed();
    const qint64 seq = sequence.value(0).toLongLong();
    sequence.finish();
    qint64 seen = everything;
    if (!seenSequence(account, syncTime, clientTime, &seen))
        return storageFailed();

    // The run is found again by its client time; one from a clock the service does not trust is not.
    const QDateTime client = timeFromText(clientTime);
    const bool trusted = client.isValid() && client <= QDateTime::currentDateTimeUtc().addSecs(clockAheadSeconds);
    QSqlQuery newRequest(db);
    newRequest.prepare(QStringLiteral("insert into syncs (account, received, client_time) values (?,?,?)"));
    newRequest.addBindValue(account);
    newRequest.addBindValue(now);
    newRequest.addBindValue(trusted ? QVariant(timeText(client)) : QVariant(QMetaType::fromType<QString>()));
    if (!exec(newRequest))
        return storageFailed();
    const qint64 request = newRequest.lastInsertId().toLongLong();

    // Records the client sent that end here otherwise than it sent them (kept as they were, or won
    // with a later version): the reply carries them back.
    QSet<QPair<int, QString>> sendBack;
    {
        QSqlQuery find(db);
        find.prepare(QStringLiteral("select version, deleted from records where account=? and tbl=? and id=?"));
        QSqlQuery content(db);
        content.prepare(QStringLiteral("select columns, cells from records where account=? and tbl=? and id=?"));
        QSqlQuery write(db);
        write.prepare(QStringLiteral("insert or replace into records (account, tbl, id, columns, cells, version, "
                                     "deleted, changed_at, changed_by, changed_seq) values (?,?,?,?,?,?,?,?,?,?)"));
        QSqlQuery bury(db);
        bury.prepare(QStringLiteral("update records set deleted=1, version=?, changed_at=?, changed_by=?, "
                                    "changed_seq=? where account=? and tbl=? and id=?"));
        // A large change set (a first synchronisation) reads the account's records at once rather than
        // one by one: (table, id) -> (version, deleted).
        QHash<QPair<int, QString>, QPair<QString, bool>> stored;
        const bool readAll = changes.size() > 1000;
        if (readAll) {
            QSqlQuery all(db);
            all.setForwardOnly(true);
            all.prepare(QStringLiteral("select tbl, id, version, deleted from records where account=?"));
            all.addBindValue(account);
            if (!exec(all))
                return storageFailed();
            while (all.next()) {
                stored.insert({ all.value(0).toInt(), all.value(1).toString() },
                    { all.value(2).toString(), all.value(3).toInt() != 0 });
            }
        }
        for (const Change& change : changes) {
            const QPair<int, QString> key { change.table, change.id };
            bool exists;
            QString version;
            bool deleted;
            if (readAll) {
                const auto found = stored.constFind(key);
                exists = found != stored.constEnd();
                version = exists ? found->first : QString();
                deleted = exists && found->second;
            } else {
                find.addBindValue(account);
                find.addBindValue(change.table);
                find.addBindValue(change.id);
                if (!exec(find))
                    return storageFailed();
                exists = find.next();
                version = exists ? find.value(0).toString() : QString();
                deleted = exists && find.value(1).toInt() != 0;
                find.finish();
            }

            // The later version wins, as on the clients. Equal versions (two changes within one
            // second, on two devices or on one) that leave the record otherwise than it is here: the
            // upload that arrives later wins, and the record takes a version one second later. A
            // client takes only a strictly later version, so every device takes the winner, the
            // uploader too (it is sent back); with equal versions each would keep its own for good.
            QString written = change.version;
            if (exists && version > change.version) {
                if (!(deleted && change.deletion))
                    sendBack.insert(key);
                continue;
            }
            if (exists && version == change.version) {
                if (deleted && change.deletion)
                    continue;
                if (!deleted && !change.deletion) {
                    content.addBindValue(account);
                    content.addBindValue(change.table);
                    content.addBindValue(change.id);
                    if (!exec(content) || !content.next())
                        return storageFailed();
                    const bool same = content.value(0).toString() == change.columns
                        && content.value(1).toByteArray() == change.cells;
                    content.finish();
                    if (same)
                        continue;
                }
                const QString later = secondLater(version);
                if (!later.isEmpty()) {
                    written = later;
                    sendBack.insert(key);
                }
            }
            bool ok;
            if (change.deletion && exists) {
                bury.addBindValue(written);
                bury.addBindValue(now);
                bury.addBindValue(request);
                bury.addBindValue(seq);
                bury.addBindValue(account);
                bury.addBindValue(change.table);
                bury.addBindValue(change.id);
                ok = exec(bury);
            } else {
                write.addBindValue(account);
                write.addBindValue(change.table);
                write.addBindValue(change.id);
                write.addBindValue(change.deletion ? QStringLiteral("") : change.columns);
                write.addBindValue(change.deletion  ? QByteArray("[]")
                        : written == change.version ? change.cells
                                                    : change.cellsWithVersion(written));
                write.addBindValue(written);
                write.addBindValue(change.deletion ? 1 : 0);
                write.addBindValue(now);
                write.addBindValue(request);
                write.addBindValue(seq);
                ok = exec(write);
            }
            if (!ok)
                return storageFailed();
            if (readAll)
                stored.insert(key, { written, change.deletion });
        }
    }

    // The reply: what changed here after the device's last look, but for what this request stored
    // as the client sent it; then what the client sent that ends here otherwise.
    QMap<int, ReplyTable> tables;
    for (int table = 0; table < tableNames().size(); ++table)
        tables.insert(table, ReplyTable());
    QSet<QPair<int, QString>> listed;
    const auto add = [&](const QSqlQuery& row) {
        const int table = row.value(0).toInt();
        if (table < 0 || table >= tableNames().size())
            return;
        const QString id = row.value(1).toString();
        if (listed.contains({ table, id }))
            return;
        listed.insert({ table, id });
        if (row.value(5).toInt() != 0)
            tables[table].deletions << compact({ id, row.value(4).toString() });
        else
            tables[table].rowsByColumns[row.value(2).toString()] << row.value(3).toByteArray();
    };
    QSqlQuery changed(db);
    changed.setForwardOnly(true);
    changed.prepare(QStringLiteral("select tbl, id, columns, cells, version, deleted from records "
                                   "where account=? and changed_seq>? and changed_seq<?"));
    changed.addBindValue(account);
    changed.addBindValue(seen);
    changed.addBindValue(seq);
    if (!exec(changed))
        return storageFailed();
    while (changed.next())
        add(changed);
    changed.finish();
    QSqlQuery one(db);
    one.prepare(QStringLiteral(
        "select tbl, id, columns, cells, version, deleted from records where account=? and tbl=? and id=?"));
    for (const auto& key : std::as_const(sendBack)) {
        one.addBindValue(account);
        one.addBindValue(key.first);
        one.addBindValue(key.second);
        if (!exec(one))
            return storageFailed();
        if (one.next())
            add(one);
        one.finish();
    }

    // Whatever the device has not seen now carries a number after this one.
    QSqlQuery answered(db);
    answered.prepare(QStringLiteral("update syncs set answered_seq=? where request=?"));
    answered.addBindValue(seq);
    answered.addBindValue(request);
    if (!exec(answered) || !db.commit())
        return storageFailed();
    *reply = replyText(tables);
    return true;
}

bool ServiceStore::addFeedback(const QString& email, const QString& subject, const QString& content)
{
    QSqlQuery query(database());
    query.prepare(QStringLiteral("insert into feedback (received, email, subject, content) values (?,?,?,?)"));
    query.addBindValue(nowText());
    query.addBindValue(email);
    query.addBindValue(subject);
    query.addBindValue(content);
    return exec(query);
}
