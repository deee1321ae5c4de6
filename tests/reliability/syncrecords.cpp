#include "syncrecords.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

#include "data/sqlhelper.h"
#include "reliabilitykit.h"
#include "servicefixture.h"
#include "servicestore.h"

namespace SyncRecords {

QString Record::describe() const
{
    QStringList parts { QStringLiteral("version=") + version };
    if (deleted)
        parts << QStringLiteral("deleted");
    for (auto it = content.constBegin(); it != content.constEnd(); ++it)
        parts << it.key() + QLatin1Char('=') + it.value();
    return parts.join(QStringLiteral(", "));
}

QString key(const QString& table, const QString& id)
{
    return table + QLatin1Char('/') + id;
}

const QString& defaultVersion()
{
    static const QString version = QStringLiteral("2007-07-07 07:07:07");
    return version;
}

QString tableOf(const QString& recordKey)
{
    return recordKey.section(QLatin1Char('/'), 0, 0);
}

const QList<QPair<QString, QString>>& billReferences()
{
    static const QList<QPair<QString, QString>> references
        = { { "account_id", "account" }, { "to_account_id", "account" }, { "borrower_id", "borrower" },
              { "category_id", "category" }, { "sub_category_id", "sub_category" }, { "member_id", "member" } };
    return references;
}

QMap<QString, Record> read(const QSqlDatabase& db, const QString& since)
{
    QMap<QString, Record> records;
    for (const QString& table : ServiceStore::tableNames()) {
        for (const bool buried : { false, true }) {
            if (buried && since.isEmpty())
                continue;
            QSqlQuery query(db);
            query.setForwardOnly(true);
            query.prepare(QStringLiteral("select * from tbl_%1%2 where version >= ?")
                              .arg(table, buried ? QStringLiteral("_deleted") : QString()));
            query.addBindValue(since.isEmpty() ? QStringLiteral("0") : since);
            if (!query.exec())
                continue;
            const QSqlRecord columns = query.record();
            while (query.next()) {
                Record record;
                record.deleted = buried;
                QString id;
                for (int i = 0; i < columns.count(); ++i) {
                    const QString name = columns.fieldName(i);
                    if (name == QLatin1String("version"))
                        record.version = ReliabilityKit::text(query.value(i));
                    else if (name == QLatin1String("id"))
                        id = ReliabilityKit::text(query.value(i));
                    else if (name != QLatin1String("user_id") && !buried)
                        record.content.insert(name, ReliabilityKit::text(query.value(i)));
                }
                records.insert(key(table, id), record);
            }
        }
    }
    return records;
}

QMap<QString, Record> read(const QString& path, const QString& since)
{
    QMap<QString, Record> records;
    withBookConnection(path, QStringLiteral("records"), BookAccess::ReadOnly, [&](QSqlDatabase& db) {
        records = read(db, since);
        return true;
    });
    return records;
}

QSet<QString> tombstones(const QString& path)
{
    QSet<QString> keys;
    withBookConnection(path, QStringLiteral("tombstones"), BookAccess::ReadOnly, [&](QSqlDatabase& db) {
        for (const QString& table : ServiceStore::tableNames()) {
            QSqlQuery query(db);
            if (!query.exec(QStringLiteral("select id from tbl_%1_deleted").arg(table)))
                return false;
            while (query.next())
                keys.insert(key(table, query.value(0).toString()));
        }
        return true;
    });
    return keys;
}

QString syncTime(const QString& path)
{
    QString time;
    withBookConnection(path, QStringLiteral("sync-time"), BookAccess::ReadOnly, [&](QSqlDatabase& db) {
        time = sqlValue(db, QStringLiteral("select sync_time from tbl_setting"), {}, QString()).toString().left(19);
        return true;
    });
    return time;
}

QMap<QString, Record> held(const QString& store, const QString& user)
{
    QMap<QString, Record> records;
    withServiceStore(store, QStringLiteral("service"), [&](QSqlDatabase& db) {
        QSqlQuery query(db);
        query.prepare(QStringLiteral("select r.tbl, r.id, r.columns, r.cells, r.version, r.deleted from records r "
                                     "join users u on u.account=r.account where u.name=?"));
        query.addBindValue(user);
        if (!query.exec())
            return false;
        while (query.next()) {
            const QString table = ServiceStore::tableNames().value(query.value(0).toInt());
            Record record;
            record.version = query.value(4).toString();
            record.deleted = query.value(5).toInt() != 0;
            if (!record.deleted) {
                const QString names = query.value(2).toString();
                const QStringList sent
                    = names == QLatin1String("*") ? ServiceStore::columnsOf(table) : names.split(QLatin1Char(','));
                const QJsonArray cells = QJsonDocument::fromJson(query.value(3).toByteArray()).array();
                for (int i = 0; i < sent.size(); ++i) {
                    if (sent.at(i) != QLatin1String("id") && sent.at(i) != QLatin1String("version"))
                        record.content.insert(sent.at(i), cells.at(i).toString());
                }
            }
            records.insert(key(table, query.value(1).toString()), record);
        }
        return true;
    });
    return records;
}

Record asSent(Record record)
{
    for (auto it = record.content.begin(); it != record.content.end(); ++it) {
        bool number = false;
        const double value = it.value().toDouble(&number);
        if (number
            && (it.key() == QLatin1String("amount") || it.key() == QLatin1String("sort")
                || it.key() == QLatin1String("month")))
            *it = QString::number(value, 'g', 15);
    }
    return record;
}

QStringList differences(const QMap<QString, Record>& one, const QString& oneName, const QMap<QString, Record>& other,
    const QString& otherName)
{
    QStringList found;
    QSet<QString> keys(one.keyBegin(), one.keyEnd());
    keys.unite(QSet<QString>(other.keyBegin(), other.keyEnd()));
    for (const QString& recordKey : std::as_const(keys)) {
        if (one.contains(recordKey) != other.contains(recordKey) || one.value(recordKey) != other.value(recordKey))
            found << QStringLiteral("%1: %2 (%3), %4 (%5)")
                         .arg(recordKey, oneName, one.value(recordKey).describe(), otherName,
                             other.value(recordKey).describe());
    }
    return found;
}

QStringList differencesWithService(const QMap<QString, Record>& live, const QMap<QString, Record>& held)
{
    QStringList found;
    for (auto it = live.constBegin(); it != live.constEnd(); ++it) {
        // The default records are never sent while they keep their first version.
        if (it->version == defaultVersion() && !held.contains(it.key()))
            continue;
        if (held.value(it.key()) != asSent(*it))
            found << QStringLiteral("%1: service (%2), books (%3)")
                         .arg(it.key(), held.value(it.key()).describe(), it->describe());
    }
    for (auto it = held.constBegin(); it != held.constEnd(); ++it) {
        if (!it->deleted && !live.contains(it.key()))
            found << QStringLiteral("%1: live only at the service (%2)").arg(it.key(), it->describe());
    }
    return found;
}

QStringList missingReferences(const QMap<QString, Record>& live)
{
    QStringList found;
    for (auto it = live.constBegin(); it != live.constEnd(); ++it) {
        if (tableOf(it.key()) != QLatin1String("bill"))
            continue;
        for (const auto& [column, target] : billReferences()) {
            const QString id = it->content.value(column);
            if (!id.isEmpty() && !live.contains(key(target, id)))
                found << QStringLiteral("%1: %2 names %3, which is gone").arg(it.key(), column, id);
        }
    }
    return found;
}

void tellTrails(const QStringList& problems, const QHash<QString, QStringList>& trail)
{
    QSet<QString> told;
    for (const QString& problem : problems) {
        const QString recordKey = problem.section(QLatin1Char(':'), 0, 0);
        if (told.size() < 10 && !told.contains(recordKey) && trail.contains(recordKey)) {
            told.insert(recordKey);
            qInfo("%s went through: %s", qPrintable(recordKey),
                qPrintable(trail.value(recordKey).join(QStringLiteral("; "))));
        }
    }
}

QString editSummary(const QMap<QString, int>& counts, int* total)
{
    QStringList parts;
    *total = 0;
    for (auto it = counts.constBegin(); it != counts.constEnd(); ++it) {
        parts << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
        *total += it.value();
    }
    return parts.join(QStringLiteral(", "));
}

Edit randomEdit(RandomWrites& writes)
{
    static const QList<QPair<QString, int>> weights = { { "bill", 40 }, { "account", 12 }, { "borrower", 10 },
        { "category", 12 }, { "sub_category", 14 }, { "member", 12 } };
    static const QHash<QString, int> sizes = { { "bill", 30 }, { "account", 6 }, { "borrower", 5 }, { "category", 6 },
        { "sub_category", 10 }, { "member", 5 } };
    Edit edit;
    int roll = writes.between(1, 100);
    for (const auto& [name, weight] : weights) {
        roll -= weight;
        if (roll <= 0) {
            edit.table = name;
            break;
        }
    }
    const int live = int(RandomWrites::liveIds(edit.table).size());
    edit.op = QStringLiteral("update");
    if (live < sizes.value(edit.table) / 2 || (live <= sizes.value(edit.table) && writes.chance(30)))
        edit.op = QStringLiteral("insert");
    else if (writes.chance(live > sizes.value(edit.table) ? 60 : 25))
        edit.op = QStringLiteral("delete");

    const RandomWrites::Announce tell
        = [&edit](const QJsonObject& write) { edit.id = write.value(QLatin1String("id")).toString(); };
    const bool bill = edit.table == QLatin1String("bill");
    if (edit.op == QLatin1String("insert"))
        edit.outcome = bill ? writes.insertBill(tell, &edit.id) : writes.insertReference(edit.table, tell, &edit.id);
    else if (edit.op == QLatin1String("delete"))
        edit.outcome = bill ? writes.deleteBill(tell) : writes.deleteReference(edit.table, tell);
    else
        edit.outcome = bill ? writes.updateBill(tell) : writes.updateReference(edit.table, tell);
    return edit;
}

} // namespace SyncRecords
