#include "data/maccount.h"

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

RecordArena<MAccount> records;
RecordArena<QList<MAccount*>> lists;
QList<MAccount*>* cache = nullptr;

} // namespace

QList<MAccount*>* MAccount::get()
{
    if (cache)
        return cache;
    // The list is in place before any SQL runs, so the balance step below finds it.
    cache = lists.make();
    QSqlQuery query;
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("select id,name,kind,amount,description,sort from tbl_account order by sort"))) {
        qCWarning(lcSql) << "MAccount: cannot load accounts:" << query.lastError().text();
        return cache;
    }
    while (query.next()) {
        MAccount* account = records.make();
        account->id = query.value(0).toString();
        account->name = query.value(1).toString();
        account->kind = query.value(2).toString();
        account->amount = query.value(3).toDouble();
        account->description = query.value(4).toString();
        account->sort = query.value(5).toInt();
        account->balance = account->amount;
        cache->append(account);
    }
    calculateBalance();
    return cache;
}

void MAccount::calculateBalance()
{
    if (!cache) {
        get(); // loading computes the balances
        return;
    }
    // The sums per account that the bill records keep current: no pass over the bills.
    const BillIndex::Totals booked = BillIndex::sums(BillIndex::SumColumn::Account);
    const BillIndex::Totals transferred = BillIndex::sums(BillIndex::SumColumn::ToAccount);
    for (MAccount* account : *cache)
        account->balance = account->amount + booked.value(account->id) - transferred.value(account->id);
}

MAccount* MAccount::getById(const QString& id)
{
    return findById(*get(), id);
}

int MAccount::indexOf(const MAccount* account)
{
    return indexById(*get(), account->id);
}

bool MAccount::insert(MAccount* account)
{
    const bool ok = insertRow(account, QSqlDatabase::database());
    clearCache();
    return ok;
}

bool MAccount::insertRow(MAccount* account, const QSqlDatabase& db)
{
    if (account->id.isEmpty())
        account->id = newRecordId();
    if (account->sort == SortNotSet)
        account->sort = sqlValue(db, QStringLiteral("select coalesce(max(sort),0)+1 from tbl_account"), {}, 1).toInt();
    return execWrite(db,
        QStringLiteral("insert into tbl_account (id, name,kind,amount,description,sort)  values (?,?, ?,?,?,?) "),
        { account->id, account->name, account->kind, account->amount, account->description, account->sort });
}

bool MAccount::update(const MAccount* account)
{
    const bool ok = execWrite(QSqlDatabase::database(),
        QStringLiteral("update tbl_account set name = ? ,kind =? ,amount=?, description=? , sort=? where id = ? "),
        { account->name, account->kind, account->amount, account->description, account->sort, account->id });
    clearCache();
    return ok;
}

bool MAccount::remove(const QString& id)
{
    const bool ok = deleteWithTombstone(QStringLiteral("tbl_account"), id);
    clearCache();
    return ok;
}

int MAccount::getBillCount(const QString& id)
{
    // A transfer's target counts: without it the amount would leave one account and arrive nowhere.
    return sqlValue(QSqlDatabase::database(),
        QStringLiteral("select count(*) from tbl_bill where account_id=? or to_account_id=?"), { id, id }, 0)
        .toInt();
}

void MAccount::clearCache()
{
    if (cache) {
        cache->clear();
        cache = nullptr;
    }
    // The next load reads the balances from the book as it is now.
    BillIndex::forgetSums();
    Notifier::getInstance()->notifyAccountDataChanged();
}
