#include "bookstate.h"

#include <QHash>
#include <QSqlQuery>

#include "data/dbsetting.h"
#include "data/sqlhelper.h"
#include "reliabilitykit.h"

namespace {

using ReliabilityKit::text;

// Reference columns of a bill and the table each names.
const QList<QPair<QString, QString>> billReferences = { { "account_id", "account" }, { "borrower_id", "borrower" },
    { "category_id", "category" }, { "sub_category_id", "sub_category" }, { "member_id", "member" } };

QString describe(const BookState::Row& row)
{
    QStringList parts;
    for (auto it = row.constBegin(); it != row.constEnd(); ++it)
        parts << it.key() + QLatin1Char('=') + it.value();
    return parts.join(QStringLiteral(", "));
}

void compareTables(
    const QString& what, const BookState::Table& mine, const BookState::Table& theirs, QStringList* differences)
{
    const BookState::Row* wildcard = nullptr;
    for (auto it = mine.constBegin(); it != mine.constEnd(); ++it) {
        if (it.key() == BookState::AnyId) {
            wildcard = &it.value();
            continue;
        }
        const auto found = theirs.constFind(it.key());
        if (found == theirs.constEnd())
            *differences << QStringLiteral("%1 %2 missing (%3)").arg(what, it.key(), describe(it.value()));
        else if (*found != it.value())
            *differences << QStringLiteral("%1 %2 is (%3), expected (%4)")
                                .arg(what, it.key(), describe(*found), describe(it.value()));
    }
    QStringList extra;
    for (auto it = theirs.constBegin(); it != theirs.constEnd(); ++it) {
        if (!mine.contains(it.key()))
            extra << it.key();
    }
    if (wildcard) {
        const auto matches = [&](const QString& id) { return theirs.value(id) == *wildcard; };
        if (extra.size() == 1 && matches(extra.first()))
            return;
        *differences << QStringLiteral("%1: expected one new row (%2), found %3")
                            .arg(what, describe(*wildcard))
                            .arg(extra.size());
        return;
    }
    for (const QString& id : std::as_const(extra))
        *differences << QStringLiteral("%1 %2 unexpected (%3)").arg(what, id, describe(theirs.value(id)));
}

} // namespace

const QString BookState::AnyId = QStringLiteral("*");

const QStringList& BookState::tables()
{
    static const QStringList names = { "bill", "account", "borrower", "category", "sub_category", "member" };
    return names;
}

const QStringList& BookState::columnsOf(const QString& table)
{
    static const QHash<QString, QStringList> columns = {
        { "bill",
            { "title", "amount", "description", "date", "month", "category_id", "sub_category_id", "account_id",
                "to_account_id", "borrower_id", "member_id", "kind" } },
        { "account", { "name", "kind", "amount", "description", "sort" } },
        { "borrower", { "name", "kind", "description", "sort" } },
        { "category", { "name", "kind", "description", "sort" } },
        { "sub_category", { "category_id", "name", "kind", "description", "sort" } },
        { "member", { "name", "description", "sort" } },
    };
    static const QStringList none;
    const auto found = columns.constFind(table);
    return found == columns.constEnd() ? none : *found;
}

BookState BookState::read(const QSqlDatabase& db)
{
    BookState state;
    for (const QString& table : tables()) {
        const QStringList& columns = columnsOf(table);
        for (const QString& suffix : { QString(), QStringLiteral("_deleted") }) {
            Table& into = suffix.isEmpty() ? state.rows[table] : state.buried[table];
            QSqlQuery query(db);
            query.setForwardOnly(true);
            if (!query.exec(QStringLiteral("select id,%1 from tbl_%2%3").arg(columns.join(','), table, suffix))) {
                into.insert(QStringLiteral("<unreadable>"), {});
                continue;
            }
            while (query.next()) {
                Row row;
                for (int i = 0; i < columns.size(); ++i)
                    row.insert(columns.at(i), text(query.value(i + 1)));
                into.insert(text(query.value(0)), row);
            }
        }
    }
    QSqlQuery setting(db);
    state.settingsRows = -1;
    if (setting.exec(QStringLiteral("select password, version from tbl_setting"))) {
        state.settingsRows = 0;
        while (setting.next()) {
            if (state.settingsRows++ == 0) {
                state.password = unscramblePassword(setting.value(0).toString());
                state.schemaVersion = text(setting.value(1));
            }
        }
    }
    return state;
}

BookState BookState::read(const QString& path)
{
    BookState state;
    state.settingsRows = -1;
    withBookConnection(path, QStringLiteral("state"), BookAccess::ReadOnly, [&](QSqlDatabase& db) {
        state = read(db);
        return true;
    });
    return state;
}

QStringList BookState::differences(const BookState& other) const
{
    QStringList found;
    for (const QString& table : tables()) {
        compareTables(table, rows.value(table), other.rows.value(table), &found);
        compareTables(table + QStringLiteral("_deleted"), buried.value(table), other.buried.value(table), &found);
    }
    if (password != other.password)
        found << QStringLiteral("login password \"%1\", expected \"%2\"").arg(other.password, password);
    if (settingsRows != other.settingsRows)
        found << QStringLiteral("%1 settings rows, expected %2").arg(other.settingsRows).arg(settingsRows);
    if (schemaVersion != other.schemaVersion)
        found << QStringLiteral("schema version %1, expected %2").arg(other.schemaVersion, schemaVersion);
    return found;
}

int BookState::liveRows() const
{
    int count = 0;
    for (const Table& table : rows)
        count += int(table.size());
    return count;
}

void BookState::insert(const QString& table, const QString& id, const QJsonObject& fields)
{
    Row row;
    for (const QString& column : columnsOf(table))
        row.insert(column, fields.value(column).toString());
    rows[table].insert(id, row);
}

void BookState::update(const QString& table, const QString& id, const QJsonObject& fields)
{
    if (!rows[table].contains(id))
        return;
    Row& row = rows[table][id];
    for (auto it = fields.constBegin(); it != fields.constEnd(); ++it) {
        if (row.contains(it.key()))
            row.insert(it.key(), it.value().toString());
    }
    // A sub-category under another top category takes its bills along.
    if (table == QLatin1String("sub_category") && fields.contains(QLatin1String("category_id"))) {
        for (Row& bill : rows[QStringLiteral("bill")]) {
            if (bill.value(QStringLiteral("sub_category_id")) == id)
                bill.insert(QStringLiteral("category_id"), fields.value(QLatin1String("category_id")).toString());
        }
    }
}

void BookState::remove(const QString& table, const QString& id)
{
    if (!rows[table].contains(id))
        return;
    buried[table].insert(id, rows[table].take(id));
}

void BookState::quickChange(const QString& type, const QJsonArray& ids, const QString& value, const QString& sub)
{
    for (const QJsonValue& id : ids) {
        if (!rows[QStringLiteral("bill")].contains(id.toString()))
            continue;
        Row& bill = rows[QStringLiteral("bill")][id.toString()];
        if (type == QLatin1String("category")) {
            bill.insert(QStringLiteral("category_id"), value);
            bill.insert(QStringLiteral("sub_category_id"), sub);
        } else {
            bill.insert(type + QStringLiteral("_id"), value);
        }
    }
}

void BookState::migrate(const QString& prefix)
{
    const auto moved = [&](const QString& id) { return id.size() == 2 ? prefix + id : id; };
    for (QMap<QString, Table>* group : { &rows, &buried }) {
        for (auto table = group->begin(); table != group->end(); ++table) {
            Table renamed;
            for (auto row = table->begin(); row != table->end(); ++row) {
                Row values = row.value();
                if (table.key() == QLatin1String("bill")) {
                    for (const char* column :
                        { "account_id", "to_account_id", "borrower_id", "category_id", "sub_category_id", "member_id" })
                        values.insert(QLatin1String(column), moved(values.value(QLatin1String(column))));
                    renamed.insert(row.key(), values);
                } else {
                    if (table.key() == QLatin1String("sub_category"))
                        values.insert(
                            QStringLiteral("category_id"), moved(values.value(QStringLiteral("category_id"))));
                    renamed.insert(moved(row.key()), values);
                }
            }
            *table = renamed;
        }
    }
}

void BookState::applyReply(const QJsonArray& reply)
{
    for (const QJsonValue& value : reply) {
        const QJsonObject object = value.toObject();
        const QString table = object.value(QLatin1String("table_name")).toString();
        QStringList columns;
        for (const QJsonValue& column : object.value(QLatin1String("update_columns")).toArray())
            columns << column.toString();
        const int idAt = int(columns.indexOf(QLatin1String("id")));
        for (const QJsonValue& rowValue : object.value(QLatin1String("update_data")).toArray()) {
            const QJsonArray cells = rowValue.toArray();
            const QString id = cells.at(idAt).toString();
            Row row;
            for (const QString& column : columnsOf(table)) {
                const int at = int(columns.indexOf(column));
                row.insert(column, at >= 0 ? cells.at(at).toString() : rows[table].value(id).value(column));
            }
            // Amounts and sorts arrive as texts and are stored as numbers.
            for (const char* numeric : { "amount", "sort", "month" }) {
                if (row.contains(QLatin1String(numeric)) && !row.value(QLatin1String(numeric)).isEmpty())
                    row.insert(
                        QLatin1String(numeric), QString::number(row.value(QLatin1String(numeric)).toDouble(), 'g', 15));
            }
            if (!rows[table].contains(id))
                buried[table].remove(id);
            rows[table].insert(id, row);
        }
        for (const QJsonValue& pair : object.value(QLatin1String("delete_data")).toArray())
            remove(table, pair.toArray().at(0).toString());
    }
    // Reference records that live bills name come back from their tombstones.
    for (const auto& [column, table] : billReferences) {
        for (const Row& bill : rows.value(QStringLiteral("bill"))) {
            const QString id = bill.value(column);
            if (buried[table].contains(id))
                rows[table].insert(id, buried[table].take(id));
        }
        for (const QString& id : rows.value(table).keys())
            buried[table].remove(id);
    }
}
