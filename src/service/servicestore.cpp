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

QString nowText()
{
    return QDateTime::currentDateTimeUtc().toString(QLatin1String(timeFormat));
}

QDateTime timeFromText(const QString& text)
{
    QDateTime time = QDateTime::fromString(text.left(19), QLatin1String(timeFormat));
    time.setTimeSpec(Qt::UTC);
    return time;
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

// One row or deletion of an incoming change set, with its cells in the stored column order.
struct Change {
    int table = 0;
    QString id;
    QString version;
    QString columns;
    QByteArray cells;
    bool deletion = false;
};

ServiceStore::Failure failure(int code, const QString& message)
{
    return ServiceStore::Failure { code, message };
}

// Reads the change set; false with the reason when it is not one the service can store.
bool readChanges(const QString& data, QList<Change>* changes, ServiceStore::Failure* error)
{
    const ServiceStore::Failure badData = failure(ServiceStore::BadData, QStringLiteral("同步数据格式错误"));
    const ServiceStore::Failure badNames = failure(ServiceStore::BadNames, QStringLiteral("同步数据的表名或列名错误"));
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(data.toUtf8(), &parseError);
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
            QByteArray cells = "[";
            for (int position : positions) {
                if (cells.size() > 1)
                    cells += ',';
                appendJsonString(cells, row.at(position).toString());
            }
            cells += ']';
            change.columns = columns;
            change.cells = cells;
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
    if (QSqlDatabase::contains(connectionName)) {
        QSqlDatabase::database(connectionName, false).close();
        QSqlDatabase::removeDatabase(connectionName);
    }
}

QSqlDatabase ServiceStore::database() const
{
    return QSqlDatabase::database(connectionName, false);
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
    if (!db.open()) {
        *error = db.lastError().text();
        return false;
    }
    QSqlQuery query(db);
    const char* const schema[] = {
        "pragma synchronous=normal",
        // A first synchronisation of a large book writes its whole account at once.
        "pragma cache_size=-65536",
        "create table if not exists users (account integer primary key, name text not null unique, "
        "user_id text not null unique, salt blob not null, hash blob not null, iterations integer not null, "
        "created text not null)",
        // Every synchronisation request an account made.
        "create table if not exists syncs (request integer primary key, account integer not null, "
        "received text not null)",
        // One row per record of an account: its table (the position in tableNames()), the columns it
        // arrived with (comma-separated, or "*" for all of columnsOf() in that order), its cells as a
        // JSON array in that order, its version, whether it is deleted, and when and by which request
        // it last changed here.
        "create table if not exists records (account integer not null, tbl integer not null, id text not null, "
        "columns text not null, cells text not null, version text not null, deleted integer not null, "
        "changed_at text not null, changed_by integer not null, primary key (account, tbl, id))",
        "create index if not exists records_changed on records (account, changed_at)",
        "create table if not exists feedback (id integer primary key, received text not null, email text, "
        "subject text, content text)",
    };
    for (const char* statement : schema) {
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

bool ServiceStore::synchronise(qint64 account, const QString& syncTime, const QString& clientTime, const QString& data,
    QByteArray* reply, Failure* error)
{
    QList<Change> changes;
    if (!readChanges(data, &changes, error))
        return false;

    QSqlDatabase db = database();
    const QString now = nowText();
    const Failure storageFailed = failure(StorageFailed, QStringLiteral("服务器保存同步数据时出错"));
    // Records the client sent but that stay as they were here: the reply carries them back.
    QSet<QPair<int, QString>> keptHere;
    if (!db.transaction()) {
        *error = storageFailed;
        return false;
    }
    QSqlQuery newRequest(db);
    newRequest.prepare(QStringLiteral("insert into syncs (account, received) values (?,?)"));
    newRequest.addBindValue(account);
    newRequest.addBindValue(now);
    if (!exec(newRequest)) {
        db.rollback();
        *error = storageFailed;
        return false;
    }
    const qint64 request = newRequest.lastInsertId().toLongLong();
    {
        QSqlQuery find(db);
        find.prepare(QStringLiteral("select version, deleted from records where account=? and tbl=? and id=?"));
        QSqlQuery write(db);
        write.prepare(QStringLiteral("insert or replace into records (account, tbl, id, columns, cells, version, "
                                     "deleted, changed_at, changed_by) values (?,?,?,?,?,?,?,?,?)"));
        QSqlQuery bury(db);
        bury.prepare(QStringLiteral("update records set deleted=1, version=?, changed_at=?, changed_by=? "
                                    "where account=? and tbl=? and id=?"));
        // A large change set (a first synchronisation) reads the account's records at once rather than
        // one by one: (table, id) -> (version, deleted).
        QHash<QPair<int, QString>, QPair<QString, bool>> stored;
        const bool readAll = changes.size() > 1000;
        if (readAll) {
            QSqlQuery all(db);
            all.setForwardOnly(true);
            all.prepare(QStringLiteral("select tbl, id, version, deleted from records where account=?"));
            all.addBindValue(account);
            if (!exec(all)) {
                db.rollback();
                *error = storageFailed;
                return false;
            }
            while (all.next()) {
                stored.insert({ all.value(0).toInt(), all.value(1).toString() },
                    { all.value(2).toString(), all.value(3).toInt() != 0 });
            }
        }
        for (const Change& change : changes) {
            bool exists;
            QString version;
            bool deleted;
            if (readAll) {
                const auto found = stored.constFind({ change.table, change.id });
                exists = found != stored.constEnd();
                version = exists ? found->first : QString();
                deleted = exists && found->second;
            } else {
                find.addBindValue(account);
                find.addBindValue(change.table);
                find.addBindValue(change.id);
                if (!exec(find)) {
                    db.rollback();
                    *error = storageFailed;
                    return false;
                }
                exists = find.next();
                version = exists ? find.value(0).toString() : QString();
                deleted = exists && find.value(1).toInt() != 0;
                find.finish();
            }

            // The later version wins, as on the clients; a row as late as a deletion brings it back.
            const bool take
                = !exists || version < change.version || (deleted && !change.deletion && version == change.version);
            if (!take) {
                if (version != change.version || deleted != change.deletion)
                    keptHere.insert({ change.table, change.id });
                continue;
            }
            bool ok;
            if (change.deletion && exists) {
                bury.addBindValue(change.version);
                bury.addBindValue(now);
                bury.addBindValue(request);
                bury.addBindValue(account);
                bury.addBindValue(change.table);
                bury.addBindValue(change.id);
                ok = exec(bury);
            } else {
                write.addBindValue(account);
                write.addBindValue(change.table);
                write.addBindValue(change.id);
                write.addBindValue(change.deletion ? QStringLiteral("") : change.columns);
                write.addBindValue(change.deletion ? QByteArray("[]") : change.cells);
                write.addBindValue(change.version);
                write.addBindValue(change.deletion ? 1 : 0);
                write.addBindValue(now);
                write.addBindValue(request);
                ok = exec(write);
            }
            if (!ok) {
                db.rollback();
                *error = storageFailed;
                return false;
            }
            if (readAll)
                stored.insert({ change.table, change.id }, { change.version, change.deletion });
        }
    }
    if (!db.commit()) {
        db.rollback();
        *error = storageFailed;
        return false;
    }

    // What changed here since the client's last synchronisation, on the service's clock, a second
    // early since both clocks are read to the second. Records this request just stored as the client
    // sent them are not sent back.
    QString since;
    const QDateTime lastSync = timeFromText(syncTime);
    if (lastSync.isValid()) {
        const QDateTime clientNow = timeFromText(clientTime);
        const qint64 offset = clientNow.isValid() ? clientNow.secsTo(QDateTime::currentDateTimeUtc()) : 0;
        since = lastSync.addSecs(offset - 1).toString(QLatin1String(timeFormat));
    }
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
                                   "where account=? and changed_at>=? and changed_by<>?"));
    changed.addBindValue(account);
    changed.addBindValue(since);
    changed.addBindValue(request);
    if (!exec(changed)) {
        *error = storageFailed;
        return false;
    }
    while (changed.next())
        add(changed);
    QSqlQuery kept(db);
    kept.prepare(QStringLiteral(
        "select tbl, id, columns, cells, version, deleted from records where account=? and tbl=? and id=?"));
    for (const auto& key : std::as_const(keptHere)) {
        kept.addBindValue(account);
        kept.addBindValue(key.first);
        kept.addBindValue(key.second);
        if (exec(kept) && kept.next())
            add(kept);
        kept.finish();
    }
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
