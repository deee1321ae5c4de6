#include "data/mbill.h"

#include <QDebug>
#include <QHash>
#include <QSqlDatabase>
#include <QStringList>
#include <algorithm>

#include "data/billindex.h"
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

// The bills of pages read so far by their row ids, as stored when read; forgotten with the index's
// figures, and per bill when a write changes it.
QHash<qint64, MBill*> rowsRead;
quint64 rowsReadGeneration = 0;
// Around the page asked for, this many bills on each side are read with it: paging on to the next
// pages then reads nothing.
const int readAround = 100;

int batchDepth = 0;
bool batchWritten = false;

const QString billColumns = QStringLiteral("id,amount,description,date,month,category_id,sub_category_id,account_id,"
                                           "to_account_id,borrower_id, member_id, title, kind");

// Announces a condition other than the stored one and stores it; the list of the condition before
// is dropped from the cache, not emptied, so whoever holds it keeps its bills.
void useCondition(const QString& condition)
{
    if (condition == storedCondition)
        return;
    Notifier::getInstance()->notifyListConditionChanged(condition);
    storedCondition = condition;
    cache = nullptr;
}

// The change chain of a write whose figures the bill index already follows.
void runChangeChain()
{
    if (cache) {
        // Emptied with its memory: a list of every bill is large, and the class keeps the list
        // object itself for the life of the process.
        *cache = QList<MBill*>();
        cache = nullptr;
    }
    {
        const BillIndex::Announcement announcement;
        Notifier::getInstance()->notifyBillDataChanged();
    }
    MAccount::calculateBalance();
    MBorrower::calculateBalance();

    QList<int> fresh = BillIndex::months();
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

// The end of every write: the change chain, now or at the end of the batch.
void written()
{
    if (batchDepth > 0)
        batchWritten = true;
    else
        runChangeChain();
}

// A write of the bill with id: the index follows it, and the bill's row is read again when next
// shown.
template <typename Write> bool followWrite(const QString& id, Write write)
{
    BillIndex::Change change(id);
    const bool ok = write();
    change.finish();
    rowsRead.remove(change.rowIdBefore());
    rowsRead.remove(change.rowIdAfter());
    written();
    return ok;
}

QVariantList dataFields(const MBill* bill, const QVariant& date)
{
    return { bill->getAmount(), bill->getDescription(), date, bill->getMonth(), bill->getCategoryId(),
        bill->getSubCategoryId(), bill->getAccountId(), bill->getToAccountId(), bill->getBorrowerId(),
        bill->getMemberId(), bill->getTitle(), bill->getKind() };
}

} // namespace

MBill::MBill() = default;

MBill* MBill::readBill(SqliteReader& rows, int first)
{
    const QByteArray key = rows.utf8Key(first);
    MBill* bill = billsById.value(BillKey { key });
    if (!bill) {
        bill = records.make();
        bill->id = rows.text(first);
        billsById.insert(BillKey { QByteArray(key.constData(), key.size()) }, bill);
    }
    bill->amount = rows.toDouble(first + 1);
    rows.readText(first + 2, &bill->description);
    bill->date = rows.toDate(first + 3);
    bill->storedDate = QString();
    if (!bill->date.isValid()) {
        bill->storedDate = rows.text(first + 3);
        if (bill->storedDate.isNull())
            bill->storedDate = QStringLiteral("");
    }
    bill->month = rows.toInt(first + 4);
    rows.readText(first + 5, &bill->categoryId);
    rows.readText(first + 6, &bill->subCategoryId);
    rows.readText(first + 7, &bill->accountId);
    rows.readText(first + 8, &bill->toAccountId);
    rows.readText(first + 9, &bill->borrowerId);
    rows.readText(first + 10, &bill->memberId);
    rows.readText(first + 11, &bill->title);
    rows.readText(first + 12, &bill->kind);
    return bill;
}

QList<MBill*>* MBill::get(const QString& condition)
{
    if (cache && condition == storedCondition)
        return cache;
    useCondition(condition);
    cache = lists.make();

    const QString sql = QStringLiteral("select ") + billColumns + QStringLiteral(" from tbl_bill where ") + condition
        + QStringLiteral(" order by date desc, created_time desc");
    // Every bill of the condition at once (for the export and the printout; every bill of the book
    // when no filter is set): read through SQLite directly, with the texts that repeat shared
    // between the bills.
    SqliteReader rows;
    if (!rows.prepare(sql)) {
        qCWarning(lcSql) << "MBill: cannot load bills:" << rows.error();
        return cache;
    }
    while (rows.next())
        cache->append(readBill(rows, 0));
    if (!rows.error().isEmpty())
        qCWarning(lcSql) << "MBill: reading bills stopped:" << rows.error();
    return cache;
}

int MBill::count(const QString& condition)
{
    useCondition(condition);
    return BillIndex::count(condition);
}

QList<MBill*> MBill::getRange(const QString& condition, int from, int count)
{
    useCondition(condition);
    if (rowsReadGeneration != BillIndex::generation()) {
        rowsRead.clear();
        rowsReadGeneration = BillIndex::generation();
    }
    const std::vector<qint64> ids = BillIndex::rowIds(condition, from, count);
    if (!std::all_of(ids.cbegin(), ids.cend(), [](qint64 id) { return rowsRead.contains(id); })) {
        QStringList wanted;
        for (qint64 id : BillIndex::rowIds(condition, from - readAround, count + 2 * readAround)) {
            if (!rowsRead.contains(id))
                wanted.append(QString::number(id));
        }
        SqliteReader rows;
        if (!rows.prepare(QStringLiteral("select rowid,") + billColumns
                + QStringLiteral(" from tbl_bill where rowid in (") + wanted.join(QLatin1Char(',')) + QLatin1Char(')')))
            qCWarning(lcSql) << "MBill: cannot load bills:" << rows.error();
        while (rows.next())
            rowsRead.insert(rows.toInt64(0), readBill(rows, 1));
        if (!rows.error().isEmpty())
            qCWarning(lcSql) << "MBill: reading bills stopped:" << rows.error();
    }
    QList<MBill*> bills;
    bills.reserve(qsizetype(ids.size()));
    for (qint64 id : ids) {
        // A row deleted behind the index's back stays out until clearCache() reads everything again.
        if (MBill* bill = rowsRead.value(id))
            bills.append(bill);
    }
    return bills;
}

QList<int>* MBill::getMonthList()
{
    QList<int>* months = monthLists.make();
    *months = BillIndex::months();
    if (!hasReferenceMonths) {
        referenceMonths = *months;
        std::sort(referenceMonths.begin(), referenceMonths.end());
        hasReferenceMonths = true;
    }
    return months;
}

void MBill::clearCache()
{
    BillIndex::forget();
    runChangeChain();
}

bool MBill::insert(MBill* bill)
{
    bill->id = newRecordId();
    QVariantList values = dataFields(bill, bill->storedDateField());
    values.prepend(bill->id);
    return followWrite(bill->id, [&values] {
        return execWrite(QSqlDatabase::database(),
            QStringLiteral("insert into tbl_bill (id,amount,description,date,month,category_id,sub_category_id,"
                           "account_id,to_account_id,borrower_id,member_id,title,kind)  values (?, ?, ?, ?, ?, ?, ?, "
                           "?, ?, ?, ?, ?, ?) "),
            values);
    });
}

bool MBill::update(const MBill* bill)
{
    QVariantList values = dataFields(bill, bill->storedDateField());
    values.append(bill->id);
    // A stored date that names no day ('2024-02-30') reads as an invalid date, which binds as NULL:
    // such a bill keeps the date it has until it is given a real one.
    return followWrite(bill->id, [&values] {
        return execWrite(QSqlDatabase::database(),
            QStringLiteral("update tbl_bill set amount=?,description=?,date=coalesce(?,date),month=?,category_id=?,"
                           "sub_category_id=?,account_id=?,to_account_id=?,borrower_id=?,member_id=?,title=?,kind=? "
                           "where id = ? "),
            values);
    });
}

bool MBill::remove(const MBill* bill)
{
    return followWrite(bill->id, [bill] { return deleteWithTombstone(QStringLiteral("tbl_bill"), bill->id); });
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
    runChangeChain();
}

void MBill::resetState()
{
    cache = nullptr;
    billsById.clear();
    rowsRead.clear();
    BillIndex::forget();
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
    return kind == Expense || kind == Income;
}

bool MBill::isLoanKind(const QString& kind)
{
    return kind == Lend || kind == Borrow || kind == Refund || kind == Repay;
}

bool MBill::isOutgoingKind(const QString& kind)
{
    return kind == Expense || kind == Transfer || kind == Lend || kind == Repay;
}

MBill* MBill::clone() const
{
    auto* copy = new MBill();
    copy->amount = amount;
    copy->description = description;
    copy->date = date;
    copy->storedDate = storedDate;
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

void MBill::setDate(const QDate& value)
{
    date = value;
    storedDate = QString();
}

QVariant MBill::storedDateField() const
{
    return storedDate.isNull() ? QVariant(date) : QVariant(storedDate);
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
