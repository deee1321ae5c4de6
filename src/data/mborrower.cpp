#include "data/mborrower.h"

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>

#include "data/billindex.h"
#include "data/notifier.h"
#include "data/recordarena.h"
#include "data/recordlist.h"
#include "data/sqlhelper.h"
#include "data/logging.h"

namespace {

RecordArena<MBorrower> records;
RecordArena<QList<MBorrower*>> lists;
QList<MBorrower*>* cache = nullptr;

} // namespace

QList<MBorrower*>* MBorrower::get(const QString&)
{
    if (cache)
        return cache;
    cache = lists.make();
    QSqlQuery query;
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("select id,name,kind,description,sort  from tbl_borrower order by sort  "))) {
        qCWarning(lcSql) << "MBorrower: cannot load borrowers:" << query.lastError().text();
        return cache;
    }
    while (query.next()) {
        MBorrower* borrower = records.make();
        borrower->id = query.value(0).toString();
        borrower->name = query.value(1).toString();
        borrower->description = query.value(3).toString();
        borrower->sort = query.value(4).toInt();
        cache->append(borrower);
    }
    calculateBalance();
    return cache;
}

void MBorrower::calculateBalance()
{
    if (!cache) {
        get(); // loading computes the balances
        return;
    }
    // The sums per borrower that the bill records keep current: no pass over the bills.
    const BillIndex::Totals totals = BillIndex::sums(BillIndex::SumColumn::Borrower);
    for (MBorrower* borrower : *cache)
        borrower->balance = totals.value(borrower->id);
}

MBorrower* MBorrower::getById(const QString& id)
{
    return findById(*get(), id);
}

int MBorrower::indexOf(const MBorrower* borrower)
{
    return indexById(*get(), borrower->id);
}

bool MBorrower::insert(MBorrower* borrower)
{
    const bool ok = insertRow(borrower, QSqlDatabase::database());
    clearCache();
    return ok;
}

bool MBorrower::insertRow(MBorrower* borrower, const QSqlDatabase& db)
{
    if (borrower->id.isEmpty())
        borrower->id = newRecordId();
    if (borrower->sort == SortNotSet)
        borrower->sort
            = sqlValue(db, QStringLiteral("select coalesce(max(sort),0)+1 from tbl_borrower"), {}, 1).toInt();
    return execWrite(db, QStringLiteral("insert into tbl_borrower (id, name, description, sort) values (?, ?, ?, ?) "),
        { borrower->id, borrower->name, borrower->description, borrower->sort });
}

bool MBorrower::update(const MBorrower* borrower)
{
    const bool ok = execWrite(QSqlDatabase::database(),
        QStringLiteral("update tbl_borrower set name = ?, description=?, sort=? where id = ? "),
        { borrower->name, borrower->description, borrower->sort, borrower->id });
    clearCache();
    return ok;
}

bool MBorrower::remove(const QString& id)
{
    const bool ok = deleteWithTombstone(QStringLiteral("tbl_borrower"), id);
    clearCache();
    return ok;
}

int MBorrower::getBillCount(const QString& id)
{
    return sqlValue(
        QSqlDatabase::database(), QStringLiteral("select count(*) from tbl_bill where borrower_id=?"), { id }, 0)
        .toInt();
}

void MBorrower::clearCache()
{
    if (cache) {
        cache->clear();
        cache = nullptr;
    }
    // The next load reads the balances from the book as it is now.
    BillIndex::forgetSums();
    Notifier::getInstance()->notifyBorrowerDataChanged();
}
