#include "engine/synchelper.h"

#include <algorithm>
#include <cstdlib>
#include <functional>

#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryFile>
#include <QUrl>

#include "data/backuphelper.h"
#include "data/constants.h"
#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "data/dbhelper.h"
#include "data/maccount.h"
#include "data/mbill.h"
#include "data/mborrower.h"
#include "data/mcategory.h"
#include "data/mmember.h"
#include "data/settingkeys.h"
#include "data/sqltransaction.h"
#include "engine/changesetreader.h"
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

// The message of the service's error object, or failed when it holds no text.
QString replyMessage(const QVariantMap& reply, const QString& failed)
{
    const QVariant message = reply.value(QStringLiteral("message"));
    const QString text = message.typeId() == QMetaType::QString ? message.toString() : QString();
    return text.trimmed().isEmpty() ? failed : text;
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

// A statement failed: true when the book itself is in trouble (locked, full, unwritable) and the run
// must be undone, false when only that row is at fault and is skipped.
bool isFatal(const QSqlError& error)
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

// Merges the service's tables into the book as the reply is read, with one set of prepared
// statements per table: a row the book lacks is added (unless the book deleted it later), an older
// local row takes the service's values, and an older local row that the service deleted goes.
//
// The service keeps no version later than its own clock and a tolerance: a row this book stamped
// further ahead (its clock was fast) comes back with the service's time. Such a local version yields
// to the service's row and deletion, whatever their order, or the book would hold it for good. horizon
// is that limit as a text, or null when the service's time is unknown.
class TableMerge : public ChangeSetReader::Consumer {
public:
    // A row changed here since the upload was read (pending after uploaded) keeps its change for
    // the next run rather than yield for being ahead; uploaded is -1 without pending changes.
    TableMerge(const QStringList& tables, const QVariant& horizon, qint64 uploaded)
        : synchronised(tables)
        , horizon(horizon)
        , uploaded(uploaded)
    {
    }

    bool beginTable(const QString& name, const QStringList& sent) override
    {
        skip = !synchronised.contains(name);
        if (skip) {
            qCInfo(lcSync) << "ignored a table the book does not synchronise:" << name;
            return true;
        }
        table = QStringLiteral("tbl_") + name;
        const QString buried = quoted(table + QStringLiteral("_deleted"));
        const QString ahead = uploaded < 0
            ? QStringLiteral("coalesce(version>?, 0)")
            : QStringLiteral("(coalesce(version>?, 0) and id not in (select id from tbl_sync_pending where tbl='%1' "
                             "and seq>%2))")
                  .arg(name, QString::number(uploaded));
        // The service's columns that the book has, and where each is in a row; other names are ignored.
        const QStringList local = columnsOf(table);
        columns.clear();
        positions.clear();
        for (int i = 0; i < sent.size(); ++i) {
            const QString& column = sent.at(i);
            if (local.contains(column) && !columns.contains(column)) {
                columns << column;
                positions << i;
            } else {
                qCInfo(lcSync) << "ignored a column" << table << "does not have:" << column;
            }
        }
        idAt = int(columns.indexOf(QLatin1String("id")));
        versionAt = int(columns.indexOf(QLatin1String("version")));
        reportedNoKey = false;
        if (idAt >= 0 && versionAt >= 0) {
            QStringList assignments;
            QStringList quotedColumns;
            for (const QString& column : std::as_const(columns)) {
                assignments << quoted(column) + QStringLiteral("=?");
                quotedColumns << quoted(column);
            }
            find.prepare(QStringLiteral("select 1 from %1 where id=?").arg(quoted(table)));
            update.prepare(QStringLiteral("update %1 set %2 where id=? and (version<? or %3)")
                               .arg(quoted(table), assignments.join(QLatin1Char(',')), ahead));
            tombstone.prepare(
                QStringLiteral("select version>? and not coalesce(version>?, 0) from %1 where id=?").arg(buried));
            insert.prepare(QStringLiteral("insert into %1 (%2) values (%3)")
                               .arg(quoted(table), quotedColumns.join(QLatin1Char(',')),
                                   QStringList(columns.size(), QStringLiteral("?")).join(QLatin1Char(','))));
            forget.prepare(QStringLiteral("delete from %1 where id=?").arg(buried));
        }
        // Deletions: only an older local row goes; its delete trigger leaves a fresh tombstone, which
        // needs the id's stale one out of the way.
        stale.prepare(
            QStringLiteral("delete from %1 where id=? and exists (select 1 from %2 where id=? and (version<? or %3))")
                .arg(buried, quoted(table), ahead));
        remove.prepare(QStringLiteral("delete from %1 where id=? and (version<? or %2)").arg(quoted(table), ahead));
        // A deletion stamped ahead here takes the service's version of it.
        restamp.prepare(QStringLiteral("update %1 set version=? where id=? and coalesce(version>?, 0)").arg(buried));
        return true;
    }

    bool row(const QStringList& cells) override
    {
        if (skip)
            return true;
        if (idAt < 0 || versionAt < 0) {
            if (!reportedNoKey)
                qCInfo(lcSync) << "ignored the rows of" << table << "without id or version";
            reportedNoKey = true;
            return true;
        }
        values.clear();
        for (int position : std::as_const(positions)) {
            if (position >= cells.size())
                break;
            values << cells.at(position);
        }
        if (values.size() != columns.size()) {
            qCInfo(lcSync) << "ignored a short row of" << table;
            return true;
        }
        const QString& id = values.at(idAt);
        const QString& version = values.at(versionAt);
        find.addBindValue(id);
        if (!run(find))
            return !isFatal(find.lastError());
        const bool live = find.next();
        find.finish();
        if (live) {
            // Only an older local row takes the service's values, its version included.
            for (const QString& value : std::as_const(values))
                update.addBindValue(value);
            update.addBindValue(id);
            update.addBindValue(version);
            update.addBindValue(horizon);
            return run(update) || !isFatal(update.lastError());
        }
        // A local deletion later than the service's row keeps the row deleted; an earlier one makes
        // way for it.
        tombstone.addBindValue(version);
        tombstone.addBindValue(horizon);
        tombstone.addBindValue(id);
        if (!run(tombstone))
            return !isFatal(tombstone.lastError());
        const bool buried = tombstone.next();
        const bool later = buried && tombstone.value(0).toInt() != 0;
        tombstone.finish();
        if (later)
            return true;
        for (const QString& value : std::as_const(values))
            insert.addBindValue(value);
        if (!run(insert))
            return !isFatal(insert.lastError());
        if (!buried)
            return true;
        forget.addBindValue(id);
        return run(forget) || !isFatal(forget.lastError());
    }

    bool deletion(const QStringList& pair) override
    {
        if (skip)
            return true;
        if (pair.size() < 2) {
            qCInfo(lcSync) << "ignored a short deletion of" << table;
            return true;
        }
        const QString& id = pair.at(0);
        const QString& version = pair.at(1);
        stale.addBindValue(id);
        stale.addBindValue(id);
        stale.addBindValue(version);
        stale.addBindValue(horizon);
        if (!run(stale))
            return !isFatal(stale.lastError());
        remove.addBindValue(id);
        remove.addBindValue(version);
        remove.addBindValue(horizon);
        if (!run(remove) && isFatal(remove.lastError()))
            return false;
        restamp.addBindValue(version);
        restamp.addBindValue(id);
        restamp.addBindValue(horizon);
        return run(restamp) || !isFatal(restamp.lastError());
    }

    bool endTable() override { return true; }

private:
    const QStringList& synchronised;
    const QVariant horizon;
    const qint64 uploaded;
    bool skip = false;
    QString table;
    QStringList columns;
    QList<int> positions;
    int idAt = -1;
    int versionAt = -1;
    bool reportedNoKey = false;
    QStringList values;
    QSqlQuery find;
    QSqlQuery update;
    QSqlQuery tombstone;
    QSqlQuery insert;
    QSqlQuery forget;
    QSqlQuery stale;
    QSqlQuery remove;
    QSqlQuery restamp;
};

} // namespace

QString SyncHelper::cellText(const QVariant& value)
{
    if (value.isNull())
        return QLatin1String("");
    if (value.typeId() == QMetaType::Double)
        return QString::number(value.toDouble(), 'g', 15);
    return value.toString();
}

namespace {

// JSON text is percent-encoded in blocks of this size, and the form written out in blocks of the
// other.
constexpr qsizetype encodeBlock = 64 * 1024;
constexpr qsizetype writeBlock = 1024 * 1024;

// The bytes that QByteArray::toPercentEncoding leaves as they are: letters, digits and "-._~".
struct Unreserved {
    bool keep[256] = {};
    constexpr Unreserved()
    {
        for (int c = 'a'; c <= 'z'; ++c)
            keep[c] = true;
        for (int c = 'A'; c <= 'Z'; ++c)
            keep[c] = true;
        for (int c = '0'; c <= '9'; ++c)
            keep[c] = true;
        keep[int('-')] = keep[int('.')] = keep[int('_')] = keep[int('~')] = true;
    }
};
constexpr Unreserved unreserved;

} // namespace

SyncHelper::FormWriter::FormWriter(QIODevice* out)
    : out(out)
{
    pending.reserve(encodeBlock + 1024);
    buffer.reserve(writeBlock + 3 * encodeBlock + 3072);
}

void SyncHelper::FormWriter::fields(const HttpHelper::FormFields& fields)
{
    raw(HttpHelper::encodeForm(fields));
}

void SyncHelper::FormWriter::startField(const QString& name)
{
    raw('&' + QUrl::toPercentEncoding(name) + '=');
}

void SyncHelper::FormWriter::json(const char* text)
{
    pending.append(text);
    if (pending.size() >= encodeBlock)
        encodePending();
}

void SyncHelper::FormWriter::value(const QString& text)
{
    escape(text);
    if (pending.size() >= encodeBlock)
        encodePending();
}

void SyncHelper::FormWriter::value(const QStringList& texts)
{
    pending.append('[');
    for (qsizetype i = 0; i < texts.size(); ++i) {
        if (i > 0)
            pending.append(',');
        escape(texts.at(i));
    }
    pending.append(']');
    if (pending.size() >= encodeBlock)
        encodePending();
}

bool SyncHelper::FormWriter::finish()
{
    encodePending();
    flush();
    return ok;
}

void SyncHelper::FormWriter::raw(const QByteArray& bytes)
{
    encodePending();
    buffer += bytes;
    if (buffer.size() >= writeBlock)
        flush();
}

// A JSON string as QJsonDocument writes one: '"', '\\' and the control characters escaped (the
// short forms where JSON has them, else \u00xx), every other character as UTF-8, and a surrogate
// that is not half of a pair (which has no UTF-8) as \uxxxx.
void SyncHelper::FormWriter::escape(const QString& text)
{
    static const char hex[] = "0123456789abcdef";
    const qsizetype start = pending.size();
    // At most six bytes for each UTF-16 unit, and the quotes.
    pending.resize(start + 6 * text.size() + 2);
    char* cursor = pending.data() + start;
    const auto* src = reinterpret_cast<const char16_t*>(text.constData());
    const char16_t* const end = src + text.size();
    *cursor++ = '"';
    while (src != end) {
        const char16_t u = *src++;
        if (u < 0x80) {
            if (u >= 0x20 && u != '"' && u != '\\') {
                *cursor++ = char(u);
                continue;
            }
            *cursor++ = '\\';
            switch (u) {
            case '"':
                *cursor++ = '"';
                break;
            case '\\':
                *cursor++ = '\\';
                break;
            case '\b':
                *cursor++ = 'b';
                break;
            case '\f':
                *cursor++ = 'f';
                break;
            case '\n':
                *cursor++ = 'n';
                break;
            case '\r':
                *cursor++ = 'r';
                break;
            case '\t':
                *cursor++ = 't';
                break;
            default:
                *cursor++ = 'u';
                *cursor++ = '0';
                *cursor++ = '0';
                *cursor++ = hex[u >> 4];
                *cursor++ = hex[u & 0xf];
            }
        } else if (u < 0x800) {
            *cursor++ = char(0xc0 | (u >> 6));
            *cursor++ = char(0x80 | (u & 0x3f));
        } else if (!QChar::isSurrogate(u)) {
            *cursor++ = char(0xe0 | (u >> 12));
            *cursor++ = char(0x80 | ((u >> 6) & 0x3f));
            *cursor++ = char(0x80 | (u & 0x3f));
        } else if (QChar::isHighSurrogate(u) && src != end && QChar::isLowSurrogate(*src)) {
            const char32_t c = QChar::surrogateToUcs4(u, *src++);
            *cursor++ = char(0xf0 | (c >> 18));
            *cursor++ = char(0x80 | ((c >> 12) & 0x3f));
            *cursor++ = char(0x80 | ((c >> 6) & 0x3f));
            *cursor++ = char(0x80 | (c & 0x3f));
        } else {
            *cursor++ = '\\';
            *cursor++ = 'u';
            *cursor++ = hex[u >> 12];
            *cursor++ = hex[(u >> 8) & 0xf];
            *cursor++ = hex[(u >> 4) & 0xf];
            *cursor++ = hex[u & 0xf];
        }
    }
    *cursor++ = '"';
    pending.resize(cursor - pending.constData());
}

// The JSON written so far, percent-encoded onto the form in one pass.
void SyncHelper::FormWriter::encodePending()
{
    if (pending.isEmpty())
        return;
    static const char hex[] = "0123456789ABCDEF";
    const qsizetype start = buffer.size();
    buffer.resize(start + 3 * pending.size());
    char* cursor = buffer.data() + start;
    for (const char byte : std::as_const(pending)) {
        const auto c = static_cast<unsigned char>(byte);
        if (unreserved.keep[c]) {
            *cursor++ = char(c);
        } else {
            *cursor++ = '%';
            *cursor++ = hex[c >> 4];
            *cursor++ = hex[c & 0xf];
        }
    }
    buffer.resize(cursor - buffer.constData());
    pending.clear();
    if (buffer.size() >= writeBlock)
        flush();
}

void SyncHelper::FormWriter::flush()
{
    if (!buffer.isEmpty() && out->write(buffer) != buffer.size())
        ok = false;
    buffer.clear();
}

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
    query.finish();
    // The book's own record of what it has not uploaded. Made anew when another program removed or
    // changed it; this run then sends what the change stamps select, as a book without it does.
    bool repaired = false;
    pendingUsable = DBHelper::ensurePendingChanges(QSqlDatabase::database(), &repaired);
    pendingUploaded = -1;
    if (repaired)
        qCInfo(lcSync) << "the record of pending changes was made anew; this run goes by the change stamps";

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
    // The migration's own writes of the records are not changes to send (their version stays); what
    // was pending before follows the records to their new ids.
    QSqlQuery query(db);
    qint64 pendingBefore = -1;
    if (pendingUsable) {
        if (!run(query, QStringLiteral("select coalesce(max(seq), 0) from tbl_sync_pending")) || !query.next())
            return false;
        pendingBefore = query.value(0).toLongLong();
        query.finish();
    }
    // Every column of a table in one statement: one pass over the bills, and one change stamp per bill.
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
    if (pendingBefore >= 0) {
        query.prepare(QStringLiteral("update tbl_sync_pending set id=?||id where length(id)==2 and seq<=?"));
        query.addBindValue(prefix);
        query.addBindValue(pendingBefore);
        if (!run(query))
            return false;
        query.prepare(QStringLiteral("delete from tbl_sync_pending where seq>? and tbl<>'bill'"));
        query.addBindValue(pendingBefore);
        if (!run(query))
            return false;
    }
    DbSetting* setting = DbSetting::getInstance();
    setting->setUserId(userId);
    if (!setting->save() || !transaction.commit()) {
        setting->setUserId(QString());
        return false;
    }
    return true;
}

bool SyncHelper::writeChangeSet(FormWriter* out, qint64 pendingUpTo) const
{
    const QString since = timestampToText(lastSyncTime);
    // Whatever the clock did, every change the book recorded as not yet uploaded goes too.
    // Found by their ids, so that the pass over a table for the stamps is the only one.
    const QString pending = pendingUpTo < 0
        ? QString()
        : QStringLiteral(" union all select %1 from %2 where id in (select id from tbl_sync_pending where tbl=? and "
                         "seq<=?) and not (version >= ? or version is null)");
    out->json("[");
    for (const QString& name : tables) {
        // Rows stamped in the very second the last run started may have been written after its
        // upload was read: those are sent again rather than never. A row without a stamp (written by
        // some other program) counts as changed, or no other device would ever get it. The keys of a
        // table go in ascending order, as everywhere in the change set: its deletions first.
        QSqlQuery deleted;
        deleted.setForwardOnly(true);
        const QString buried = QStringLiteral("tbl_%1_deleted").arg(name);
        deleted.prepare(QStringLiteral("select id,version from %1 where version >= ? or version is null").arg(buried)
            + pending.arg(QStringLiteral("id,version"), buried));
        deleted.addBindValue(since);
        if (pendingUpTo >= 0) {
            deleted.addBindValue(name);
            deleted.addBindValue(pendingUpTo);
            deleted.addBindValue(since);
        }
        // A table that cannot be read (the book held by another process, say) would go up empty and
        // its changes never: the run ends instead, and the next one tries again.
        if (!run(deleted))
            return false;
        out->json(name == tables.constFirst() ? "{" : ",{");
        out->json(R"("delete_columns":["id","version"],"delete_data":[)");
        bool first = true;
        while (deleted.next()) {
            out->json(first ? "" : ",");
            out->value(QStringList { cellText(deleted.value(0)), cellText(deleted.value(1)) });
            first = false;
        }
        if (deleted.lastError().isValid()) {
            qCWarning(lcSync) << "reading the deletions of" << name << "stopped:" << deleted.lastError().text();
            return false;
        }
        deleted.finish();

        QSqlQuery rows;
        rows.setForwardOnly(true);
        const QString live = QStringLiteral("tbl_") + name;
        rows.prepare(QStringLiteral("select * from %1 where version >= ? or version is null").arg(live)
            + pending.arg(QStringLiteral("*"), live));
        rows.addBindValue(since);
        if (pendingUpTo >= 0) {
            rows.addBindValue(name);
            rows.addBindValue(pendingUpTo);
            rows.addBindValue(since);
        }
        if (!run(rows))
            return false;
        QStringList columns;
        const QSqlRecord record = rows.record();
        QList<int> sent;
        for (int i = 0; i < record.count(); ++i) {
            if (record.fieldName(i) != QLatin1String("user_id")) {
                sent << i;
                columns.append(record.fieldName(i));
            }
        }
        out->json(R"(],"table_name":)");
        out->value(name);
        out->json(R"(,"update_columns":)");
        out->value(columns);
        out->json(R"(,"update_data":[)");
        first = true;
        QStringList row;
        row.reserve(sent.size());
        while (rows.next()) {
            row.clear();
            for (int i : std::as_const(sent))
                row.append(cellText(rows.value(i)));
            out->json(first ? "" : ",");
            out->value(row);
            first = false;
        }
        if (rows.lastError().isValid()) {
            qCWarning(lcSync) << "reading" << name << "stopped:" << rows.lastError().text();
            return false;
        }
        out->json("]}");
    }
    out->json("]");
    return true;
}

void SyncHelper::uploadData()
{
    DbSetting* setting = DbSetting::getInstance();
    // The form goes into a file as it is read from the book and is sent from there: neither the
    // change set nor its text is ever held whole.
    upload = std::make_unique<QTemporaryFile>();
    if (!upload->open()) {
        qCWarning(lcSync) << "cannot make a file for the upload:" << upload->errorString();
        failLater(0, tr("同步失败，同步时出现严重错误"));
        return;
    }
    FormWriter form(upload.get());
    form.fields({ { QStringLiteral("version"), QString::number(Constants::getInstance()->getVersionCode()) },
        { QStringLiteral("username"), setting->getSyncUsername() },
        { QStringLiteral("password"), setting->getSyncPassword() },
        { QStringLiteral("sync_time"), timestampToText(lastSyncTime) },
        { QStringLiteral("client_time"), timestampToText(nowUtc()) } });
    form.startField(QStringLiteral("data"));
    // The pending changes up to here go up; those written later stay for the next run.
    pendingUploaded = -1;
    if (pendingUsable) {
        QSqlQuery last;
        if (run(last, QStringLiteral("select coalesce(max(seq), 0) from tbl_sync_pending")) && last.next())
            pendingUploaded = last.value(0).toLongLong();
        else
            pendingUsable = false;
    }
    if (!writeChangeSet(&form, pendingUploaded)) {
        upload.reset();
        failLater(0, unreadableBook());
        return;
    }
    if (!form.finish() || !upload->seek(0)) {
        qCWarning(lcSync) << "cannot write the upload:" << upload->errorString();
        upload.reset();
        failLater(0, tr("同步失败，同步时出现严重错误"));
        return;
    }
    HttpHelper* request = newRequest();
    connect(request, &HttpHelper::spooled, this, &SyncHelper::downloadChanges);
    request->postSpooled(Constants::getBaseUrl() + ServicePaths::Sync, upload.get());
}

void SyncHelper::downloadError()
{
    const bool tooLarge = http && http->replyTooLarge();
    releaseRequest();
    upload.reset();
    if (tooLarge) {
        fail(505,
            tr("服务器发回的数据超过了 %1 MB 的上限，本次同步没有改动账本。")
                .arg(HttpHelper::maxReplyBytes() / (1024 * 1024)));
        return;
    }
    fail(505, tr("和服务器通讯时出错"));
}

void SyncHelper::downloadChanges(QIODevice* body)
{
    // The service's time, from its answer: a computer clock far off it is told, and versions this
    // book stamped further ahead than the service takes yield to the service's.
    const QDateTime serviceTime = http ? http->serverTime() : QDateTime();
    QVariant horizon;
    if (serviceTime.isValid()) {
        const qint64 ahead = serviceTime.secsTo(nowUtc());
        if (std::abs(ahead) > clockTolerance)
            emit clockWarning(ahead);
        horizon = timestampToText(serviceTime.addSecs(clockTolerance));
    }
    releaseRequest();
    upload.reset();
    qCDebug(lcSync) << "synchronisation reply:" << body->peek(200);
    // A change set is an array; anything else is the service's error object (or no JSON at all),
    // which is small and read whole.
    char first = 0;
    while (body->getChar(&first) && QChar::isSpace(uchar(first))) { }
    if (first != '[') {
        if (first != 0)
            body->ungetChar(first);
        const QByteArray bytes = body->readAll();
        const QString text
            = QString::fromUtf8(bytes.left(bytes.indexOf('\0') < 0 ? bytes.size() : bytes.indexOf('\0')));
        const QVariantMap map = JSON::getInstance()->parseMap(text);
        if (text.contains(QLatin1String("message")) && map.contains(QStringLiteral("message")))
            fail(map.value(QStringLiteral("error")).toInt(), replyMessage(map, tr("同步失败，同步时出现严重错误")));
        else
            fail(0, tr("同步失败，同步时出现严重错误"));
        return;
    }
    body->ungetChar(first);
    if (!applyChanges(body, horizon)) {
        fail(0, tr("同步失败，同步时出现严重错误"));
        return;
    }
    // The settings row in memory follows the book, so whatever is built later (the status bar after
    // the start-up synchronisation) shows this run's time.
    DbSetting::getInstance()->setSyncTime(timestampFromText(timestampToText(startTime)));
    DBHelper::clearRecordCaches();
    if (FileSetting::getInstance()->value(SettingKeys::BackupAfterSync, true).toBool())
        BackupHelper::backup(QString());
    running = false;
    emit syncFinished();
}

bool SyncHelper::applyChanges(QIODevice* reply, const QVariant& horizon)
{
    const QSqlDatabase db = QSqlDatabase::database();
    SqlTransaction transaction(db, QStringLiteral("quorvane_sync"));
    if (!transaction.isActive())
        return false;
    // What the merge writes is the service's, not a change of this book: what it adds to the record
    // (every number after this one until it ends) is taken out again.
    qint64 beforeMerge = -1;
    if (pendingUsable) {
        QSqlQuery last(db);
        if (!run(last, QStringLiteral("select coalesce(max(seq), 0) from tbl_sync_pending")) || !last.next())
            return false;
        beforeMerge = last.value(0).toLongLong();
    }
    // Each table is merged as its rows are read; a reply that turns out to be no change set is
    // undone with the transaction, so that nothing of it is applied.
    TableMerge merge(tables, horizon, pendingUsable ? pendingUploaded : -1);
    const ChangeSetReader::Outcome outcome = ChangeSetReader::read(reply, &merge);
    if (outcome == ChangeSetReader::Outcome::NotChangeSet) {
        qCWarning(lcSync) << "a reply that is no change set";
        return false;
    }
    if (outcome != ChangeSetReader::Outcome::Read)
        return false;
    // The uploaded changes are the service's now: forgotten, up to the last the upload held. Records
    // that the repair below brings back are changes of this book and stay pending.
    if (pendingUsable) {
        QSqlQuery forget(db);
        forget.prepare(QStringLiteral("delete from tbl_sync_pending where seq<=? or seq>?"));
        forget.addBindValue(pendingUploaded);
        forget.addBindValue(beforeMerge);
        if (!run(forget))
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

QString SyncHelper::clockDifferenceText(qint64 seconds)
{
    return seconds > 0 ? tr("电脑时钟快了 %1").arg(clockAmount(seconds))
                       : tr("电脑时钟慢了 %1").arg(clockAmount(seconds));
}

QString SyncHelper::clockWarningText(qint64 seconds)
{
    return tr("这台电脑的时钟比同步服务器%1 %2。同步照常完成，但几台设备改了同一条记录时，以修改时间较晚的为准："
              "时钟不准，较早的修改可能胜出，较晚的修改可能被覆盖。请把电脑的时间调准。")
        .arg(seconds > 0 ? tr("快了") : tr("慢了"), clockAmount(seconds));
}

QString SyncHelper::clockAmount(qint64 seconds)
{
    // Days and hours, or minutes when under a day: enough to tell a wrong time zone from a wrong date.
    // To the nearest minute: the service's time comes in whole seconds.
    const qint64 total = (std::abs(seconds) + 30) / 60;
    const qint64 days = total / 1440;
    const qint64 hours = total % 1440 / 60;
    const qint64 minutes = total % 60;
    QStringList parts;
    if (days > 0)
        parts << tr("%n 天", nullptr, int(days));
    if (hours > 0)
        parts << tr("%n 小时", nullptr, int(hours));
    if (days == 0 && minutes > 0)
        parts << tr("%n 分钟", nullptr, int(minutes));
    return parts.join(QLatin1Char(' '));
}

QString SyncHelper::unreadableBook()
{
    return tr("读取账本时出错，本次同步没有进行。账本可能正被其他程序使用，请稍后再试。");
}
