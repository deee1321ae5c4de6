#include "loaddevice.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTimer>
#include <QUuid>
#include <memory>

#include "engine/httphelper.h"
#include "engine/synchelper.h"

namespace {

const QStringList synchronisedTables = { QStringLiteral("bill"), QStringLiteral("account"), QStringLiteral("borrower"),
    QStringLiteral("category"), QStringLiteral("sub_category"), QStringLiteral("member") };
// Bills changed and added in each synchronisation of the load; every fourth one also deletes a bill.
const int changedPerSync = 2;
const int addedPerSync = 1;
const int finalAttempts = 10;


QString jsonCell(const QJsonValue& value)
{
    if (value.isString())
        return value.toString();
    if (value.isDouble())
        return QString::number(value.toDouble(), 'g', 15);
    if (value.isBool())
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    return QString();
}

QJsonObject tableObject(
    const QString& name, const QStringList& columns, const QJsonArray& rows, const QJsonArray& deletions)
{
    // QJsonObject writes its keys sorted, which is the order the program writes them in.
    return { { QStringLiteral("delete_columns"), QJsonArray { QStringLiteral("id"), QStringLiteral("version") } },
        { QStringLiteral("delete_data"), deletions }, { QStringLiteral("table_name"), name },
        { QStringLiteral("update_columns"), QJsonArray::fromStringList(columns) },
        { QStringLiteral("update_data"), rows } };
}

} // namespace

const char* const neverSynchronised = "2008-08-08 08:08:08";

QString timestampText(const QDateTime& time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

bool readBookTables(const QString& path, const QString& since, SyncTables* tables, QString* error)
{
    const QString connection = QStringLiteral("load-book-%1").arg(quintptr(tables));
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!db.open()) {
            *error = db.lastError().text();
            ok = false;
        }
        for (const QString& name : synchronisedTables) {
            if (!ok)
                break;
            SyncTable table;
            table.name = name;
            QSqlQuery query(db);
            query.setForwardOnly(true);
            query.prepare(
                QStringLiteral("select * from tbl_%1 where version >= ? or version is null order by rowid").arg(name));
            query.addBindValue(since);
            if (!query.exec()) {
                *error = query.lastError().text();
                ok = false;
                break;
            }
            const QSqlRecord record = query.record();
            QList<int> sent;
            int idAt = -1;
            for (int i = 0; i < record.count(); ++i) {
                if (record.fieldName(i) == QLatin1String("user_id"))
                    continue;
                if (record.fieldName(i) == QLatin1String("id"))
                    idAt = int(sent.size());
                sent << i;
                table.columns << record.fieldName(i);
            }
            while (query.next()) {
                QStringList cells;
                for (int i : std::as_const(sent))
                    cells << SyncHelper::cellText(query.value(i));
                const QString id = cells.value(idAt);
                table.ids << id;
                table.rows.insert(id, cells);
            }
            QSqlQuery deletions(db);
            deletions.prepare(
                QStringLiteral("select id, version from tbl_%1_deleted where version >= ? or version is null")
                    .arg(name));
            deletions.addBindValue(since);
            if (!deletions.exec()) {
                *error = deletions.lastError().text();
                ok = false;
                break;
            }
            while (deletions.next())
                table.deletions.insert(SyncHelper::cellText(deletions.value(0)), SyncHelper::cellText(deletions.value(1)));
            tables->append(table);
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return ok;
}

QByteArray changeSetText(const SyncTables& tables)
{
    QJsonArray set;
    for (const SyncTable& table : tables) {
        QJsonArray rows;
        for (const QString& id : table.ids)
            rows.append(QJsonArray::fromStringList(table.rows.value(id)));
        QJsonArray deletions;
        for (auto at = table.deletions.constBegin(); at != table.deletions.constEnd(); ++at)
            deletions.append(QJsonArray { at.key(), at.value() });
        set.append(tableObject(table.name, table.columns, rows, deletions));
    }
    return QJsonDocument(set).toJson(QJsonDocument::Compact);
}

bool readChangeSet(const QByteArray& text, const SyncTables& columnsLike, SyncTables* tables)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isArray())
        return false;
    tables->clear();
    for (const SyncTable& like : columnsLike) {
        SyncTable table;
        table.name = like.name;
        table.columns = like.columns;
        tables->append(table);
    }
    for (const QJsonValue& value : document.array()) {
        const QJsonObject object = value.toObject();
        const QString name = object.value(QLatin1String("table_name")).toString();
        SyncTable* table = nullptr;
        for (SyncTable& candidate : *tables) {
            if (candidate.name == name)
                table = &candidate;
        }
        if (!table)
            return false;
        // Where each of the reply's columns goes in this table's own order.
        QList<int> place;
        for (const QJsonValue& column : object.value(QLatin1String("update_columns")).toArray())
            place << int(table->columns.indexOf(column.toString()));
        const int idAt = int(table->columns.indexOf(QLatin1String("id")));
        for (const QJsonValue& rowValue : object.value(QLatin1String("update_data")).toArray()) {
            const QJsonArray row = rowValue.toArray();
            QStringList cells;
            for (int i = 0; i < table->columns.size(); ++i)
                cells << QString();
            for (int i = 0; i < row.size() && i < place.size(); ++i) {
                if (place.at(i) >= 0)
                    cells[place.at(i)] = jsonCell(row.at(i));
            }
            const QString id = cells.value(idAt);
            if (!table->rows.contains(id))
                table->ids << id;
            table->rows.insert(id, cells);
        }
        for (const QJsonValue& deletion : object.value(QLatin1String("delete_data")).toArray())
            table->deletions.insert(jsonCell(deletion.toArray().at(0)), jsonCell(deletion.toArray().at(1)));
    }
    return true;
}

LoadDevice::LoadDevice(const SyncTables* base, const QString& user, const QString& password, LoadShared* shared)
    : base(base)
    , user(user)
    , password(password)
    , shared(shared)
    , lastSyncTime(QLatin1String(neverSynchronised))
{
    for (int t = 0; t < base->size(); ++t) {
        if (base->at(t).name == QLatin1String("bill"))
            billTable = t;
    }
    const QStringList& columns = base->at(billTable).columns;
    idColumn = int(columns.indexOf(QLatin1String("id")));
    amountColumn = int(columns.indexOf(QLatin1String("amount")));
    descriptionColumn = int(columns.indexOf(QLatin1String("description")));
    versionColumn = int(columns.indexOf(QLatin1String("version")));
    // Devices start their changes at different bills of the same book.
    nextBill = int((qHash(user) % 997) * 2);
}

void LoadDevice::sync(QObject* context, const QString& syncTime, const QByteArray& data,
    const std::function<void(bool ok, const QByteArray& reply)>& done)
{
    // The fields and their order of the program's upload.
    auto* http = new HttpHelper(context);
    QObject::connect(http, &HttpHelper::finished, context, [http, done](const QString& text) {
        http->deleteLater();
        done(true, text.toUtf8());
    });
    QObject::connect(http, &HttpHelper::error, context, [http, done] {
        http->deleteLater();
        done(false, QByteArray());
    });
    http->post(shared->baseUrl + QStringLiteral("sync/syncpc2.php"),
        { { QStringLiteral("version"), QStringLiteral("38") }, { QStringLiteral("username"), user },
            { QStringLiteral("password"), password }, { QStringLiteral("sync_time"), syncTime },
            { QStringLiteral("client_time"), timestampText(QDateTime::currentDateTimeUtc()) },
            { QStringLiteral("data"), QString::fromUtf8(data) } });
}

void LoadDevice::setUp(QObject* context, const std::function<void(bool ok, const QString& error)>& done)
{
    auto* http = new HttpHelper(context);
    QObject::connect(http, &HttpHelper::error, context, [http, done] {
        http->deleteLater();
        done(false, QStringLiteral("the user id request failed"));
    });
    QObject::connect(http, &HttpHelper::finished, context, [this, context, http, done](const QString& text) {
        http->deleteLater();
        if (!QJsonDocument::fromJson(text.toUtf8()).object().contains(QLatin1String("id"))) {
            done(false, QStringLiteral("no user id: ") + text.left(200));
            return;
        }
        const QString start = timestampText(QDateTime::currentDateTimeUtc());
        sync(context, lastSyncTime, changeSetText(*base), [this, start, done](bool ok, const QByteArray& reply) {
            SyncTables tables;
            if (!ok || !readChangeSet(reply, *base, &tables)) {
                done(false, QStringLiteral("the first upload failed: ") + QString::fromUtf8(reply.left(200)));
                return;
            }
            apply(tables);
            lastSyncTime = start;
            done(true, QString());
        });
    });
    http->post(shared->baseUrl + QStringLiteral("sync/userid.php"),
        { { QStringLiteral("username"), user }, { QStringLiteral("password"), password } });
}

QString LoadDevice::currentVersion(const QString& id) const
{
    const auto changed = bills.constFind(id);
    if (changed != bills.constEnd())
        return changed->value(versionColumn);
    return base->at(billTable).rows.value(id).value(versionColumn);
}

void LoadDevice::makeChanges()
{
    const SyncTable& baseBills = base->at(billTable);
    const QString now = timestampText(QDateTime::currentDateTimeUtc());
    for (int i = 0; i < changedPerSync; ++i) {
        QString id;
        // The next bill of the base book not deleted here.
        for (int tries = 0; tries < baseBills.ids.size() && (id.isEmpty() || deleted.contains(id)); ++tries)
            id = baseBills.ids.at(nextBill++ % baseBills.ids.size());
        if (id.isEmpty() || deleted.contains(id))
            break;
        QStringList cells = bills.contains(id) ? bills.value(id) : baseBills.rows.value(id);
        cells[amountColumn] = QString::number(cells.value(amountColumn).toDouble() + 1.25, 'g', 15);
        cells[descriptionColumn] = QStringLiteral("负载 %1 %2").arg(user).arg(changes);
        cells[versionColumn] = now;
        bills.insert(id, cells);
        pendingRows.insert(id);
        ++changes;
    }
    for (int i = 0; i < addedPerSync; ++i) {
        QStringList cells = baseBills.rows.value(baseBills.ids.at((nextBill + 7) % baseBills.ids.size()));
        const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        cells[idColumn] = id;
        cells[descriptionColumn] = QStringLiteral("新账目 %1 %2").arg(user).arg(changes);
        cells[versionColumn] = now;
        bills.insert(id, cells);
        pendingRows.insert(id);
        ++changes;
    }
    if (++step % 4 == 0) {
        // A bill changed a while ago goes: a deletion to carry beside the rows.
        const QString id = baseBills.ids.at((nextBill + baseBills.ids.size() - 40) % baseBills.ids.size());
        if (!deleted.contains(id)) {
            bills.remove(id);
            pendingRows.remove(id);
            deleted.insert(id, now);
            pendingDeletions.insert(id);
            ++changes;
        }
    }
}

QByteArray LoadDevice::pendingChangeSet() const
{
    QJsonArray set;
    for (int t = 0; t < base->size(); ++t) {
        const SyncTable& table = base->at(t);
        QJsonArray rows;
        QJsonArray deletions;
        if (t == billTable) {
            for (const QString& id : pendingRows)
                rows.append(QJsonArray::fromStringList(bills.value(id)));
            for (const QString& id : pendingDeletions)
                deletions.append(QJsonArray { id, deleted.value(id) });
        }
        set.append(tableObject(table.name, table.columns, rows, deletions));
    }
    return QJsonDocument(set).toJson(QJsonDocument::Compact);
}

void LoadDevice::apply(const SyncTables& reply)
{
    const SyncTable& replyBills = reply.at(billTable);
    for (const QString& id : replyBills.ids) {
        const QStringList& cells = replyBills.rows[id];
        const QString version = cells.value(versionColumn);
        if (deleted.contains(id)) {
            if (deleted.value(id) >= version)
                continue;
            deleted.remove(id);
        } else if (!currentVersion(id).isEmpty() && currentVersion(id) >= version) {
            continue;
        }
        bills.insert(id, cells);
    }
    for (auto at = replyBills.deletions.constBegin(); at != replyBills.deletions.constEnd(); ++at) {
        const QString live = deleted.contains(at.key()) ? QString() : currentVersion(at.key());
        if (!live.isEmpty() && at.value() >= live) {
            bills.remove(at.key());
            deleted.insert(at.key(), at.value());
        }
    }
}

void LoadDevice::runLoad(QObject* context, const std::function<void()>& done)
{
    loadStep(context, done);
}

void LoadDevice::loadStep(QObject* context, const std::function<void()>& done)
{
    if (shared->stop.load()) {
        done();
        return;
    }
    makeChanges();
    const QString start = timestampText(QDateTime::currentDateTimeUtc());
    const qint64 startMs = shared->elapsedMs();
    sync(context, lastSyncTime, pendingChangeSet(),
        [this, context, done, start, startMs](bool ok, const QByteArray& reply) {
            SyncTables tables;
            ok = ok && readChangeSet(reply, *base, &tables);
            requests.push_back({ startMs, shared->elapsedMs(), ok });
            if (ok) {
                apply(tables);
                pendingRows.clear();
                pendingDeletions.clear();
                lastSyncTime = start;
            }
            // After a failure the changes stay pending and go with the next synchronisation, as the
            // program's do; a short pause keeps a device from hammering a service that is down.
            QTimer::singleShot(ok ? 0 : 100, context, [this, context, done] { loadStep(context, done); });
        });
}

void LoadDevice::finalSync(QObject* context, const std::function<void(bool ok)>& done)
{
    retryFinal(context, 0, done);
}

void LoadDevice::retryFinal(QObject* context, int attempt, const std::function<void(bool ok)>& done)
{
    const QString start = timestampText(QDateTime::currentDateTimeUtc());
    sync(context, lastSyncTime, pendingChangeSet(),
        [this, context, attempt, done, start](bool ok, const QByteArray& reply) {
            SyncTables tables;
            if (ok && readChangeSet(reply, *base, &tables)) {
                apply(tables);
                pendingRows.clear();
                pendingDeletions.clear();
                lastSyncTime = start;
                done(true);
                return;
            }
            if (attempt + 1 >= finalAttempts) {
                done(false);
                return;
            }
            QTimer::singleShot(
                500, context, [this, context, attempt, done] { retryFinal(context, attempt + 1, done); });
        });
}

void LoadDevice::compareWithService(QObject* context, const std::function<void(const Comparison&)>& done)
{
    // A new device's request: no run of its own to go by, so the service sends every record.
    SyncTables empty;
    for (const SyncTable& table : *base) {
        SyncTable none;
        none.name = table.name;
        none.columns = table.columns;
        empty.append(none);
    }
    sync(context, QLatin1String(neverSynchronised), changeSetText(empty),
        [this, done](bool ok, const QByteArray& reply) {
            Comparison result;
            SyncTables service;
            if (!ok || !readChangeSet(reply, *base, &service)) {
                done(result);
                return;
            }
            result.fetched = true;
            const auto note = [&result](const QString& what) {
                if (result.examples.size() < 5)
                    result.examples << what;
            };
            for (int t = 0; t < base->size(); ++t) {
                // This book's live rows of the table.
                QHash<QString, QStringList> expected = base->at(t).rows;
                if (t == billTable) {
                    for (const QString& id : deleted.keys())
                        expected.remove(id);
                    for (auto at = bills.constBegin(); at != bills.constEnd(); ++at)
                        expected.insert(at.key(), at.value());
                }
                const SyncTable& held = service.at(t);
                for (auto at = expected.constBegin(); at != expected.constEnd(); ++at) {
                    ++result.rows;
                    const auto found = held.rows.constFind(at.key());
                    if (found == held.rows.constEnd()) {
                        ++result.missing;
                        note(QStringLiteral("%1 %2 missing").arg(held.name, at.key()));
                    } else if (*found != at.value()) {
                        ++result.different;
                        note(QStringLiteral("%1 %2: %3 held, %4 here")
                                 .arg(held.name, at.key(), found->join(QLatin1Char('|')),
                                     at.value().join(QLatin1Char('|'))));
                    }
                }
                for (const QString& id : held.ids) {
                    if (expected.contains(id))
                        continue;
                    if (t == billTable && deleted.contains(id)) {
                        ++result.revived;
                        note(QStringLiteral("bill %1 deleted here, live there").arg(id));
                    } else {
                        ++result.extra;
                        note(QStringLiteral("%1 %2 unknown here").arg(held.name, id));
                    }
                }
            }
            done(result);
        });
}
