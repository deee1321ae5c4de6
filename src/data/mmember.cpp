#include "data/mmember.h"

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>

#include "data/notifier.h"
#include "data/recordarena.h"
#include "data/recordlist.h"
#include "data/sqlhelper.h"
#include "data/logging.h"

namespace {

RecordArena<MMember> records;
RecordArena<QList<MMember*>> lists;
QList<MMember*>* cache = nullptr;

} // namespace

QList<MMember*>* MMember::get()
{
    if (cache)
        return cache;
    cache = lists.make();
    QSqlQuery query;
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("select id,name,description,sort from tbl_member order by sort"))) {
        qCWarning(lcSql) << "MMember: cannot load members:" << query.lastError().text();
        return cache;
    }
    while (query.next()) {
        MMember* member = records.make();
        member->id = query.value(0).toString();
        member->name = query.value(1).toString();
        member->description = query.value(2).toString();
        member->sort = query.value(3).toInt();
        cache->append(member);
    }
    return cache;
}

MMember* MMember::getById(const QString& id)
{
    return findById(*get(), id);
}

int MMember::indexOf(const MMember* member)
{
    return indexById(*get(), member->id);
}

bool MMember::insert(MMember* member)
{
    const bool ok = insertRow(member, QSqlDatabase::database());
    clearCache();
    return ok;
}

bool MMember::insertRow(MMember* member, const QSqlDatabase& db)
{
    if (member->id.isEmpty())
        member->id = newRecordId();
    if (member->sort == SortNotSet)
        member->sort = sqlValue(db, QStringLiteral("select coalesce(max(sort),0)+1 from tbl_member"), {}, 1).toInt();
    return execWrite(db, QStringLiteral("insert into tbl_member (id, name,description,sort)  values (?, ?, ?,?) "),
        { member->id, member->name, member->description, member->sort });
}

bool MMember::update(const MMember* member)
{
    const bool ok = execWrite(QSqlDatabase::database(),
        QStringLiteral("update tbl_member set name = ? ,description=?,sort=? where id = ? "),
        { member->name, member->description, member->sort, member->id });
    clearCache();
    return ok;
}

bool MMember::remove(const QString& id)
{
    const bool ok = deleteWithTombstone(QStringLiteral("tbl_member"), id);
    clearCache();
    return ok;
}

int MMember::getBillCount(const QString& id)
{
    return sqlValue(
        QSqlDatabase::database(), QStringLiteral("select count(*) from tbl_bill where member_id=?"), { id }, 0)
        .toInt();
}

void MMember::clearCache()
{
    if (cache) {
        cache->clear();
        cache = nullptr;
    }
    Notifier::getInstance()->notifyMemberDataChanged();
}
