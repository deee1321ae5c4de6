#include "data/mbill.h"

#include <QDebug>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>

#include "data/maccount.h"
#include "data/mborrower.h"
#include "data/mcategory.h"
#include "data/mmember.h"
#include "data/notifier.h"
#include "data/recordarena.h"
#include "data/sqlhelper.h"
#include "data/sqlitereader.h"
#include "data/logging.h"

namespace {

// A bill id as stored (UTF-8), hashed quickly: the lookup runs for every row of every reload.
struct BillKey {
    QByteArray utf8;
    bool operator==(const BillKey& other) const { return utf8 == other.utf8; }
};

size_t qHash(const BillKey& key, size_t seed)
{
    return size_t(SqliteReader::hashBytes(key.utf8.constData(), int(key.utf8.size()))) ^ seed;
}

RecordArena<MBill> records;
// One object per bill id for the life of the process: a reload refreshes the bills it meets
// instead of making new ones, so memory stays bounded by the book however often it reloads, and a
// pointer held across a write shows the bill as it is now stored. Keyed by the id's UTF-8 text, so
// that a reload finds the bills it already has without making a string per row.
QHash<BillKey, MBill*> billsById;
RecordArena<QList<MBill*>> lists;
RecordArena<QList<int>> monthLists;
QList<MBill*>* cache = nullptr;
QString storedCondition;
// The months as last compared, ascending; absent until the first month list is built.
QList<int> referenceMonths;
bool hasReferenceMonths = false;

int batchDepth = 0;
bool batchWritten = false;

// The end of every write: the change chain, now or at the end of the batch.
void written()
{
    if (batchDepth > 0)
        batchWritten = true;
    else
        MBill::clearCache();
}

QList<int> loadMonths()
{
    QList<int> months;
    QSqlQuery query;
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("select distinct month  from tbl_bill order by month desc"))) {
        qCWarning(lcSql) << "MBill: cannot read the months:" << query.lastError().text();
        return months;
    }
    while (query.next())
        months.append(query.value(0).toInt());
    return months;
}

QVariantList dataFields(const MBill* bill)
{
    return { bill->getAmount(), bill->getDescription(), bill->getDate(), bill->getMonth(), bill->getCategoryId(),
        bill->getSubCategoryId(), bill->getAccountId(), bill->getToAccountId(), bill->getBorrowerId(),
        bill->getMemberId(), bill->getTitle(), bill->getKind() };
}

} // namespace

MBill::MBill() = default;

QList<MBill*>* MBill::get(const QString& condition)
{
    if (cache && condition == storedCondition)
        return cache;
    if (condition != storedCondition)
        Notifier::getInstance()->notifyListConditionChanged(condition);
    storedCondition = condition;
    cache = lists.make();

    const QString sql = QStringLiteral("select id,amount,description,date,month,category_id,sub_category_id,account_id,"
                                       "to_account_id,borrower_id, member_id, title, kind from tbl_bill where ")
        + condition + QStringLiteral(" order by date desc, created_time desc");
    // The largest read of the program (every bill of the book when no filter is set): read through
    // SQLite directly, with the texts that repeat shared between the bills.
    SqliteReader rows;
    if (!rows.prepare(sql)) {
        qCWarning(lcSql) << "MBill: cannot load bills:" << rows.error();
        return cache;
    }
    while (rows.next()) {
        const QByteArray key = rows.utf8Key(0);
        MBill* bill = billsById.value(BillKey { key });
        if (!bill) {
            bill = records.make();
            bill->id = rows.text(0);
            billsById.insert(BillKey { QByteArray(key.constData(), key.size()) }, bill);
        }
        bill->amount = rows.toDouble(1);
        rows.readText(2, &bill->description);
        bill->date = rows.toDate(3);
        bill->month = rows.toInt(4);
        rows.readText(5, &bill->categoryId);
        rows.readText(6, &bill->subCategoryId);
        rows.readText(7, &bill->accountId);
        rows.readText(8, &bill->toAccountId);
        rows.readText(9, &bill->borrowerId);
        rows.readText(10, &bill->memberId);
        rows.readText(11, &bill->title);
        rows.readText(12, &bill->kind);
        cache->append(bill);
    }
    if (!rows.error().isEmpty())
        qCWarning(lcSql) << "MBill: reading bills stopped:" << rows.error();
    return cache;
}

QList<int>* MBill::getMonthList()
{
    QList<int>* months = monthLists.make();
    *months = loadMonths();
    if (!hasReferenceMonths) {
        referenceMonths = *months;
        std::sort(referenceMonths.begin(), referenceMonths.end());
        hasReferenceMonths = true;
    }
    return months;
}

void MBill::clearCache()
{
    if (cache) {
        // Emptied with its memory: a list of every bill is large, and the class keeps the list
        // object itself for the life of the process.
        *cache = QList<MBill*>();
        cache = nullptr;
    }
    Notifier::getInstance()->notifyBillDataChanged();
    MAccount::calculateBalance();
    MBorrower::calculateBalance();

    QList<int> fresh = loadMonths();
    std::sort(fresh.begin(), fresh.end());
    if (!hasReferenceMonths) {
        // The first list ever built is the reference: nothing to compare it with.
        referenceMonths = fresh;
        hasReferenceMonths = true;
        return;
    }
    if (fresh == referenceMonths)
        return;
    referenceMonths = fresh;
    Notifier::getInstance()->notifyMonthListChanged();
}

bool MBill::insert(MBill* bill)
{
    bill->id = newRecordId();
    QVariantList values = dataFields(bill);
    values.prepend(bill->id);
    const bool ok = execWrite(QSqlDatabase::database(),
        QStringLiteral("insert into tbl_bill (id,amount,description,date,month,category_id,sub_category_id,account_id,"
                       "to_account_id,borrower_id,member_id,title,kind)  values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                       "?) "),
        values);
    written();
    return ok;
}

bool MBill::update(const MBill* bill)
{
    QVariantList values = dataFields(bill);
    values.append(bill->id);
    // A stored date that names no day ('2024-02-30') reads as an invalid date, which binds as NULL:
    // such a bill keeps the date it has until it is given a real one.
    const bool ok = execWrite(QSqlDatabase::database(),
        QStringLiteral("update tbl_bill set amount=?,description=?,date=coalesce(?,date),month=?,category_id=?,"
                       "sub_category_id=?,account_id=?,to_account_id=?,borrower_id=?,member_id=?,title=?,kind=? "
                       "where id = ? "),
        values);
    written();
    return ok;
}

bool MBill::remove(const MBill* bill)
{
    const bool ok = deleteWithTombstone(QStringLiteral("tbl_bill"), bill->id);
    written();
    return ok;
}

MBill::Batch::Batch()
{
    ++batchDepth;
}

MBill::Batch::~Batch()
{
    if (--batchDepth > 0 || !batchWritten)
        return;
    batchWritten = false;
    MBill::clearCache();
}

void MBill::resetState()
{
    cache = nullptr;
    billsById.clear();
    storedCondition = QString();
    referenceMonths.clear();
    hasReferenceMonths = false;
}

QString MBill::getStoredDate(const QString& id)
{
    return sqlValue(QSqlDatabase::database(), QStringLiteral("select date from tbl_bill where id=?"), { id }, QString())
        .toString();
}

bool MBill::isCategoryKind(const QString& kind)
{
    return kind == QLatin1String("expense") || kind == QLatin1String("income");
}

MBill* MBill::clone() const
{
    auto* copy = new MBill();
    copy->amount = amount;
    copy->description = description;
    copy->date = date;
    copy->month = month;
    copy->categoryId = categoryId;
    copy->subCategoryId = subCategoryId;
    copy->accountId = accountId;
    copy->toAccountId = toAccountId;
    copy->borrowerId = borrowerId;
    copy->memberId = memberId;
    copy->kind = kind;
    copy->title = title;
    return copy;
}

MAccount* MBill::getAccount() const
{
    return MAccount::getById(accountId);
}

MAccount* MBill::getToAccount() const
{
    return MAccount::getById(toAccountId);
}

MCategory* MBill::getCategory() const
{
    return MCategory::getById(categoryId);
}

MCategory* MBill::getSubCategory() const
{
    return MCategory::getSubCategoryById(subCategoryId);
}

MBorrower* MBill::getBorrower() const
{
    return MBorrower::getById(borrowerId);
}

MMember* MBill::getMember() const
{
    return MMember::getById(memberId);
}
