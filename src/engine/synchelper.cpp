#include "engine/synchelper.h"

#include <algorithm>
#include <functional>

#include <QHash>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include "data/backuphelper.h"
#include "data/constants.h"
#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "data/maccount.h"
#include "data/mbill.h"
#include "data/mborrower.h"
#include "data/mcategory.h"
#include "data/mmember.h"
#include "data/settingkeys.h"
#include "data/sqltransaction.h"
#include "engine/httphelper.h"
#include "engine/json.h"
#include "engine/servicepaths.h"
#include "engine/synclogging.h"

namespace {

// The mark of a book that was never synchronised; its default records are older.
const char* const neverSynchronised = "2008-08-08 08:08:08";

// The columns that hold default-record ids, per table.
const struct {
    const char* table;
    QList<const char*> columns;
} migratedColumns[] = {
    { "bill", { "account_id", "to_account_id", "borrower_id", "category_id", "sub_category_id", "member_id" } },
    { "account", { "id" } },
    { "borrower", { "id" } },
    { "category", { "id" } },
    { "sub_category", { "id", "category_id" } },
    { "member", { "id" } },
};

QString quoted(const QString& identifier)
{
    return QLatin1Char('"') + identifier + QLatin1Char('"');
}

// A cell of the change set: texts as stored, integers in decimal, reals with at most 15 significant
// digits (0.1+0.2 is "0.3", -3.0 is "-3"), NULL as "".
QString cellText(const QVariant& value)
{
    if (value.isNull())
        return QLatin1String("");
    if (value.typeId() == QMetaType::Double)
        return QString::number(value.toDouble(), 'g', 15);
    return value.toString();
}

// A value of the service's change set as the text that is stored (never NULL).
QString valueText(const QJsonValue& value)
{
    if (value.isString()) {
        const QString text = value.toString();
        return text.isNull() ? QString(QLatin1String("")) : text;
    }
    if (value.isDouble())
        return QString::number(value.toDouble(), 'g', 15);
    if (value.isBool())
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    return QLatin1String("");
}

// The message of the service's error object, or failed when it holds no text.
QString replyMessage(const QVariantMap& reply, const QString& failed)
{
    const QVariant message = reply.value(QStringLiteral("message"));
    const QString text = message.typeId() == QMetaType::QString ? message.toString() : QString();
    return text.trimmed().isEmpty() ? failed : text;
}

bool isArrayOf(const QJsonValue& value, const std::function<bool(const QJsonValue&)>& isElement)
{
    if (!value.isArray())
        return false;
    const QJsonArray array = value.toArray();
    return std::all_of(
        array.begin(), array.end(), [&isElement](const QJsonValue& element) { return isElement(element); });
}

// True when reply has the shape of a change set: tables as objects with a text name, column lists of
// texts and rows of plain values. Names the book does not know are its own business; values of
// another kind say that the reply is no change set at all, and nothing of it is applied.
bool isChangeSet(const QJsonArray& reply)
{
    const auto isText = [](const QJsonValue& value) { return value.isString(); };
    const auto isCell = [](const QJsonValue& value) { return !value.isArray() && !value.isObject(); };
    const auto isRow = [&isCell](const QJsonValue& value) { return isArrayOf(value, isCell); };
    for (const QJsonValue& value : reply) {
        if (!value.isObject())
            return false;
        const QJsonObject table = value.toObject();
        if (!table.value(QLatin1String("table_name")).isString())
            return false;
        for (const char* key : { "update_columns", "delete_columns" }) {
            if (table.contains(QLatin1String(key)) && !isArrayOf(table.value(QLatin1String(key)), isText))
                return false;
        }
        for (const char* key : { "update_data", "delete_data" }) {
            if (table.contains(QLatin1String(key)) && !isArrayOf(table.value(QLatin1String(key)), isRow))
                return false;
        }
    }
    return true;
}

std::function<QDateTime()>& clockFunction()
{
    static std::function<QDateTime()> clock;
    return clock;
}

QDateTime nowUtc()
{
    return clockFunction() ? clockFunction()() : QDateTime::currentDateTimeUtc();
}

QStringList columnsOf(const QString& table)
{
    QStringList columns;
    QSqlQuery query;
    if (query.exec(QStringLiteral("pragma table_info(%1)").arg(quoted(table)))) {
        while (query.next())
            columns << query.value(1).toString();
    }
    return columns;
}

bool run(QSqlQuery& query)
{
    if (query.exec())
        return true;
    qCWarning(lcSync) << query.lastQuery() << query.lastError().text();
    return false;
}

bool run(QSqlQuery& query, const QString& sql)
{
    if (query.exec(sql))
        return true;
    qCWarning(lcSync) << sql << query.lastError().text();
    return false;
}

// The bill columns that name a record of each reference table.
QStringList billColumnsNaming(const QString& name)
{
    if (name == QLatin1String("account"))
        return { QStringLiteral("account_id"), QStringLiteral("to_account_id") };
    return { name + QStringLiteral("_id") };
}

} // namespace

SyncHelper::SyncHelper(QObject* parent)
    : QObject(parent)
    , tables({ QStringLiteral("bill"), QStringLiteral("account"), QStringLiteral("borrower"),
          QStringLiteral("category"), QStringLiteral("sub_category"), QStringLiteral("member") })
{
    qCDebug(lcSync) << "web service:" << Constants::getBaseUrl();
}

SyncHelper* SyncHelper::getInstance()
{
    static SyncHelper* instance = new SyncHelper(nullptr);
    return instance;
}

void SyncHelper::setClock(std::function<QDateTime()> clock)
{
    clockFunction() = std::move(clock);
}

bool SyncHelper::sync()
{
    if (running) {
        qCInfo(lcSync) << "a synchronisation is already running";
        return false;
    }
    running = true;
    startTime = nowUtc();
    emit syncStarted();
    emit syncLog(tr("正在同步数据..."));

    if (FileSetting::getInstance()->value(SettingKeys::BackupBeforeSync, true).toBool())
        BackupHelper::backup(QString());

    QSqlQuery query;
    if (!run(query, QStringLiteral("select sync_time from tbl_setting"))) {
        // Without the time of the last run nobody can say what to upload (the book is held by another
        // process, say): nothing is sent, and the next run tries again.
        failLater(0, unreadableBook());
        return true;
    }
    if (query.next()) {
        lastSyncTime = timestampFromText(query.value(0).toString());
        if (!lastSyncTime.isValid())
            lastSyncTime = timestampFromText(QLatin1String(neverSynchronised));
    } else {
        lastSyncTime = QDateTime::currentDateTime().addYears(-10);
    }

    if (DbSetting::getInstance()->getUserId().isEmpty())
        requestUserId();
    else
        uploadData();
    return true;
}

HttpHelper* SyncHelper::newRequest()
{
    releaseRequest();
    http = new HttpHelper(this);
    connect(http, &HttpHelper::error, this, &SyncHelper::downloadError);
    return http;
}

void SyncHelper::releaseRequest()
{
    if (http)
        http->deleteLater();
    http = nullptr;
}

void SyncHelper::requestUserId()
{
    DbSetting* setting = DbSetting::getInstance();
    HttpHelper* request = newRequest();
    connect(request, &HttpHelper::finished, this, &SyncHelper::downloadTokenHtml);
    request->post(Constants::getBaseUrl() + ServicePaths::UserId,
        { { QStringLiteral("username"), setting->getSyncUsername() },
            { QStringLiteral("password"), setting->getSyncPassword() } });
}

void SyncHelper::downloadTokenHtml(const QString& text)
{
    releaseRequest();
    qCDebug(lcSync) << "user id reply:" << text.left(200);
    emit syncProgress(20.0f);
    const QVariantMap map = JSON::getInstance()->parseMap(text);
    if (map.contains(QStringLiteral("error"))) {
        fail(map.value(QStringLiteral("error")).toInt(), replyMessage(map, tr("同步失败，同步时出现严重错误")));
        return;
    }
    // Without an id the default records could not be given the account's ids.
    const QString id = map.value(QStringLiteral("id")).toString();
    if (id.isEmpty()) {
        fail(0, tr("同步失败，同步时出现严重错误"));
        return;
    }
    if (DbSetting::getInstance()->getUserId().isEmpty() && !migrateIds(id)) {
        fail(0, tr("同步失败，同步时出现严重错误"));
        return;
    }
    uploadData();
}

bool SyncHelper::migrateIds(const QString& userId)
{
    const QString prefix = userId.size() < 2 ? userId : userId.left(userId.size() - 2);
    const QSqlDatabase db = QSqlDatabase::database();
    SqlTransaction transaction(db, QStringLiteral("quorvane_sync_ids"));
    if (!transaction.isActive())
        return false;
    // Every column of a table in one statement: one pass over the bills, and one change stamp per bill.
    QSqlQuery query(db);
    for (const char* suffix : { "", "_deleted" }) {
        for (const auto& target : migratedColumns) {
            QStringList assignments;
            QStringList conditions;
            for (const char* name : target.columns) {
                const QString column = QLatin1String(name);
                assignments << QStringLiteral("%1=case when length(%1)==2 then ?||%1 else %1 end").arg(column);
                conditions << QStringLiteral("length(%1)==2").arg(column);
            }
            // A bill whose references change is stamped here rather than by its update trigger, which
            // would write every such bill a second time.
            if (qstrcmp(target.table, "bill") == 0 && qstrlen(suffix) == 0)
                assignments << QStringLiteral("version=CURRENT_TIMESTAMP");
            query.prepare(QStringLiteral("update tbl_%1%2 set %3 where %4")
                              .arg(QLatin1String(target.table), QLatin1String(suffix),
                                  assignments.join(QLatin1Char(',')), conditions.join(QStringLiteral(" or "))));
            for (int i = 0; i < conditions.size(); ++i)
                query.addBindValue(prefix);
            if (!run(query))
                return false;
        }
    }
    DbSetting* setting = DbSetting::getInstance();
    setting->setUserId(userId);
    if (!setting->save() || !transaction.commit()) {
        setting->setUserId(QString());
        return false;
    }
    return true;
}

bool SyncHelper::changeSet(QJsonArray* changes) const
{
    const QString since = timestampToText(lastSyncTime);
    for (const QString& name : tables) {
        // Rows stamped in the very second the last run started may have been written after its
        // upload was read: those are sent again rather than never. A row without a stamp (written by
        // some other program) counts as changed, or no other device would ever get it.
        QSqlQuery rows;
        rows.setForwardOnly(true);
        rows.prepare(QStringLiteral("select * from tbl_%1 where version >= ? or version is null").arg(name));
        rows.addBindValue(since);
        // A table that cannot be read (the book held by another process, say) would go up empty and
        // its changes never: the run ends instead, and the next one tries again.
        if (!run(rows))
            return false;
        QJsonArray columns;
        QJsonArray updates;
        const QSqlRecord record = rows.record();
        QList<int> sent;
        for (int i = 0; i < record.count(); ++i) {
            if (record.fieldName(i) != QLatin1String("user_id")) {
                sent << i;
                columns.append(record.fieldName(i));
            }
        }
        while (rows.next()) {
            QJsonArray row;
            for (int i : std::as_const(sent))
                row.append(cellText(rows.value(i)));
            updates.append(row);
        }
        if (rows.lastError().isValid()) {
            qCWarning(lcSync) << "reading" << name << "stopped:" << rows.lastError().text();
            return false;
        }
        QSqlQuery deleted;
        deleted.setForwardOnly(true);
        deleted.prepare(
            QStringLiteral("select id,version from tbl_%1_deleted where version >= ? or version is null").arg(name));
        deleted.addBindValue(since);
        if (!run(deleted))
            return false;
        QJsonArray deletions;
        while (deleted.next())
            deletions.append(QJsonArray { cellText(deleted.value(0)), cellText(deleted.value(1)) });
        if (deleted.lastError().isValid()) {
            qCWarning(lcSync) << "reading the deletions of" << name << "stopped:" << deleted.lastError().text();
            return false;
        }
        changes->append(QJsonObject { { QStringLiteral("table_name"), name },
            { QStringLiteral("update_columns"), columns }, { QStringLiteral("update_data"), updates },
            { QStringLiteral("delete_columns"), QJsonArray { QStringLiteral("id"), QStringLiteral("version") } },
            { QStringLiteral("delete_data"), deletions } });
    }
    return true;
}

void SyncHelper::uploadData()
{
    DbSetting* setting = DbSetting::getInstance();
    QJsonArray changes;
    if (!changeSet(&changes)) {
        failLater(0, unreadableBook());
        return;
    }
    const QString data = JSON::getInstance()->serialize(QJsonValue(changes));
    HttpHelper* request = newRequest();
    connect(request, &HttpHelper::finished, this, &SyncHelper::downloadHtml);
    request->post(Constants::getBaseUrl() + ServicePaths::Sync,
        { { QStringLiteral("version"), QString::number(Constants::getInstance()->getVersionCode()) },
            { QStringLiteral("username"), setting->getSyncUsername() },
            { QStringLiteral("password"), setting->getSyncPassword() },
            { QStringLiteral("sync_time"), timestampToText(lastSyncTime) },
            { QStringLiteral("client_time"), timestampToText(nowUtc()) }, { QStringLiteral("data"), data } });
}

void SyncHelper::downloadError()
{
    releaseRequest();
    fail(505, tr("和服务器通讯时出错"));
}

void SyncHelper::downloadHtml(const QString& text)
{
    releaseRequest();
    qCDebug(lcSync) << "synchronisation reply:" << text.left(200);
    const QJsonValue value = JSON::getInstance()->parse(text);
    if (!value.isArray()) {
        const QVariantMap map = JSON::toMap(value);
        if (text.contains(QLatin1String("message")) && map.contains(QStringLiteral("message")))
            fail(map.value(QStringLiteral("error")).toInt(), replyMessage(map, tr("同步失败，同步时出现严重错误")));
        else
            fail(0, tr("同步失败，同步时出现严重错误"));
        return;
    }
    const QJsonArray changes = value.toArray();
    if (!isChangeSet(changes)) {
        qCWarning(lcSync) << "a reply that is no change set:" << text.left(200);
        fail(0, tr("同步失败，同步时出现严重错误"));
        return;
    }
    if (!applyChanges(changes)) {
        fail(0, tr("同步失败，同步时出现严重错误"));
        return;
    }
    // The settings row in memory follows the book, so whatever is built later (the status bar after
    // the start-up synchronisation) shows this run's time.
    DbSetting::getInstance()->setSyncTime(timestampFromText(timestampToText(startTime)));
    MAccount::clearCache();
    MBorrower::clearCache();
    MCategory::clearCache();
    MMember::clearCache();
    MBill::clearCache();
    if (FileSetting::getInstance()->value(SettingKeys::BackupAfterSync, true).toBool())
        BackupHelper::backup(QString());
    running = false;
    emit syncFinished();
}

bool SyncHelper::applyChanges(const QJsonArray& reply)
{
    const QSqlDatabase db = QSqlDatabase::database();
    SqlTransaction transaction(db, QStringLiteral("quorvane_sync"));
    if (!transaction.isActive())
        return false;
    for (const QJsonValue& table : reply) {
        if (!applyTable(table.toObject()))
            return false;
    }
    for (const char* name : { "account", "borrower", "category", "sub_category", "member" }) {
        if (!restoreReferencedRows(QLatin1String(name)))
            return false;
    }
    QSqlQuery stamp(db);
    stamp.prepare(QStringLiteral("update tbl_setting set sync_time = ?"));
    stamp.addBindValue(timestampToText(startTime));
    return run(stamp) && transaction.commit();
}

bool SyncHelper::applyTable(const QJsonObject& object)
{
    const QString name = object.value(QLatin1String("table_name")).toString();
    if (!tables.contains(name)) {
        qCInfo(lcSync) << "ignored a table the book does not synchronise:" << name;
        return true;
    }
    const QString table = QStringLiteral("tbl_") + name;
    const QString buried = quoted(table + QStringLiteral("_deleted"));

    // The service's columns that the book has, and where each is in a row; other names are ignored.
    const QStringList local = columnsOf(table);
    const QJsonArray sent = object.value(QLatin1String("update_columns")).toArray();
    QStringList columns;
    QList<int> positions;
    for (int i = 0; i < sent.size(); ++i) {
        const QString column = sent.at(i).toString();
        if (local.contains(column) && !columns.contains(column)) {
            columns << column;
            positions << i;
        } else {
            qCInfo(lcSync) << "ignored a column" << table << "does not have:" << column;
        }
    }
    const int idAt = int(columns.indexOf(QLatin1String("id")));
    const int versionAt = int(columns.indexOf(QLatin1String("version")));
    const QJsonArray rows = object.value(QLatin1String("update_data")).toArray();
    if (!rows.isEmpty() && (idAt < 0 || versionAt < 0)) {
        qCInfo(lcSync) << "ignored the rows of" << table << "without id or version";
    } else if (!rows.isEmpty()) {
        QStringList assignments;
        for (const QString& column : columns)
            assignments << quoted(column) + QStringLiteral("=?");
        QSqlQuery find;
        find.prepare(QStringLiteral("select 1 from %1 where id=?").arg(quoted(table)));
        QSqlQuery update;
        update.prepare(QStringLiteral("update %1 set %2 where id=? and version<?")
                           .arg(quoted(table), assignments.join(QLatin1Char(','))));
        QSqlQuery laterDeletion;
        laterDeletion.prepare(QStringLiteral("select 1 from %1 where id=? and version>?").arg(buried));
        QSqlQuery insert;
        QStringList quotedColumns;
        for (const QString& column : columns)
            quotedColumns << quoted(column);
        insert.prepare(QStringLiteral("insert into %1 (%2) values (%3)")
                           .arg(quoted(table), quotedColumns.join(QLatin1Char(',')),
                               QStringList(columns.size(), QStringLiteral("?")).join(QLatin1Char(','))));
        QSqlQuery forget;
        forget.prepare(QStringLiteral("delete from %1 where id=?").arg(buried));

        for (const QJsonValue& rowValue : rows) {
            const QJsonArray row = rowValue.toArray();
            QStringList values;
            for (int position : std::as_const(positions)) {
                if (position >= row.size())
                    break;
                values << valueText(row.at(position));
            }
            if (values.size() != columns.size()) {
                qCInfo(lcSync) << "ignored a short row of" << table;
                continue;
            }
            const QString& id = values.at(idAt);
            const QString& version = values.at(versionAt);
            find.addBindValue(id);
            if (!run(find)) {
                if (isFatal(find.lastError()))
                    return false;
                continue;
            }
            const bool live = find.next();
            find.finish();
            bool ok = true;
            QSqlQuery* failed = nullptr;
            if (live) {
                // Only an older local row takes the service's values, its version included.
                for (const QString& value : std::as_const(values))
                    update.addBindValue(value);
                update.addBindValue(id);
                update.addBindValue(version);
                ok = run(update);
                failed = &update;
            } else {
                // A local deletion later than the service's row keeps the row deleted.
                laterDeletion.addBindValue(id);
                laterDeletion.addBindValue(version);
                ok = run(laterDeletion);
                failed = &laterDeletion;
                if (ok && laterDeletion.next()) {
                    laterDeletion.finish();
                    continue;
                }
                laterDeletion.finish();
                if (ok) {
                    for (const QString& value : std::as_const(values))
                        insert.addBindValue(value);
                    ok = run(insert);
                    failed = &insert;
                }
                if (ok) {
                    forget.addBindValue(id);
                    ok = run(forget);
                    failed = &forget;
                }
            }
            if (!ok && isFatal(failed->lastError()))
                return false;
        }
    }

    // Deletions: only an older local row goes; its delete trigger leaves a fresh tombstone, which
    // needs the id's stale one out of the way.
    QSqlQuery stale;
    stale.prepare(QStringLiteral("delete from %1 where id=? and exists (select 1 from %2 where id=? and version<?)")
                      .arg(buried, quoted(table)));
    QSqlQuery remove;
    remove.prepare(QStringLiteral("delete from %1 where id=? and version<?").arg(quoted(table)));
    for (const QJsonValue& pairValue : object.value(QLatin1String("delete_data")).toArray()) {
        const QJsonArray pair = pairValue.toArray();
        if (pair.size() < 2) {
            qCInfo(lcSync) << "ignored a short deletion of" << table;
            continue;
        }
        const QString id = valueText(pair.at(0));
        const QString version = valueText(pair.at(1));
        stale.addBindValue(id);
        stale.addBindValue(id);
        stale.addBindValue(version);
        if (!run(stale)) {
            if (isFatal(stale.lastError()))
                return false;
            continue;
        }
        remove.addBindValue(id);
        remove.addBindValue(version);
        if (!run(remove) && isFatal(remove.lastError()))
            return false;
    }
    return true;
}

bool SyncHelper::restoreReferencedRows(const QString& name)
{
    // Reference records deleted on one side while bills still use them come back from their
    // tombstones, so that no bill points at nothing.
    const QString table = QStringLiteral("tbl_") + name;
    const QString buried = table + QStringLiteral("_deleted");
    // Without tombstones there is nothing to bring back, and no need to read every bill.
    QSqlQuery any;
    any.prepare(QStringLiteral("select exists (select 1 from %1)").arg(buried));
    if (!run(any))
        return !isFatal(any.lastError());
    if (any.next() && any.value(0).toInt() == 0)
        return true;
    // A transfer names its target account too: a target that is gone would leave the amount nowhere.
    QStringList naming;
    for (const QString& column : billColumnsNaming(name))
        naming << QStringLiteral("select %1 from tbl_bill").arg(column);
    QSqlQuery used;
    used.prepare(
        QStringLiteral("select id from %1 where id in ( %2)").arg(buried, naming.join(QStringLiteral(" union "))));
    if (!run(used))
        return !isFatal(used.lastError());
    QStringList ids;
    while (used.next())
        ids << used.value(0).toString();
    QSqlQuery restore;
    restore.prepare(QStringLiteral("insert into %1 select * from  %2 where id =?").arg(table, buried));
    QSqlQuery forget;
    forget.prepare(QStringLiteral("delete from %1 where  id = ?").arg(buried));
    for (const QString& id : std::as_const(ids)) {
        restore.addBindValue(id);
        if (!run(restore) && isFatal(restore.lastError()))
            return false;
        forget.addBindValue(id);
        if (!run(forget) && isFatal(forget.lastError()))
            return false;
    }
    QSqlQuery live;
    live.prepare(QStringLiteral("delete from %1 where  id in (select id from %2)").arg(buried, table));
    return run(live) || !isFatal(live.lastError());
}

bool SyncHelper::isFatal(const QSqlError& error)
{
    // SQLite's primary result codes: busy, locked, out of memory, read-only, interrupted, I/O error,
    // corrupt, full, cannot open, protocol error, not a database.
    const int code = error.nativeErrorCode().toInt() & 0xff;
    switch (code) {
    case 5:
    case 6:
    case 7:
    case 8:
    case 9:
    case 10:
    case 11:
    case 13:
    case 14:
    case 15:
    case 26:
        return true;
    default:
        return false;
    }
}

void SyncHelper::fail(int code, const QString& message)
{
    running = false;
    emit syncError(code, message);
}

void SyncHelper::failLater(int code, const QString& message)
{
    // From the event loop, as every other end of a run: the caller of sync() has not returned yet.
    QMetaObject::invokeMethod(
        this, [this, code, message] { fail(code, message); }, Qt::QueuedConnection);
}

QString SyncHelper::unreadableBook()
{
    return tr("读取账本时出错，本次同步没有进行。账本可能正被其他程序使用，请稍后再试。");
}
