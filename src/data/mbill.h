#pragma once

#include <QDate>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

class MAccount;
class MBorrower;
class MCategory;
class MMember;
class SqliteReader;

// A bill (a row of tbl_bill) and the bill list's tree node. The static operations are the only
// road to the bills: every write ends in clearCache(), the change chain of the whole program.
// Bills handed out by get() stay valid for the life of the process; there is one object per bill,
// refreshed by every reload.
class MBill : public QObject {
    Q_OBJECT

public:
    MBill();

    // The bills that match condition, newest date first, then latest created first. condition is
    // SQL pasted after "where" (the bill list's " 1=1 and ..."): every literal in it must be quoted
    // with sqlText() or sqlContains() (data/sqlhelper.h). The same condition returns the cached
    // list without SQL; a new one is announced with Notifier::listConditionChanged first. A query
    // that fails yields an empty list. The list stays the class's; do not hold it across a write.
    // The bills in it are the same objects as in earlier lists, with their fields as now stored.
    static QList<MBill*>* get(const QString& condition);
    // The number of bills that match condition, and those at positions from … from + count - 1 of
    // the same list: one page of it, without building the rest. Both announce a new condition and
    // store it as get() does. The lists of the last conditions are kept as row ids in memory and
    // follow every write (data/billindex.h), so that a page, a filter or a write costs no sort of
    // the whole book; the bills themselves are read a few pages at a time and not again until a
    // write changes them or clearCache() runs. The bills are the same objects as those of get().
    static int count(const QString& condition);
    static QList<MBill*> getRange(const QString& condition, int from, int count);
    // The distinct months (yyyyMM) that have bills, newest first: a new list on every call, owned
    // by the class and valid for the life of the process (never delete it).
    static QList<int>* getMonthList();
    // Drops the cached list, emits billDataChanged, recomputes the account and borrower balances
    // and emits monthListChanged when a month gained its first bill or lost its last one. Everything
    // kept about the bills is read from the book again: writers that bypass this class end here.
    // (The writes of this class keep those figures current and run the same chain without that.)
    static void clearCache();
    // Always gives bill a new id first. True when the row was written.
    static bool insert(MBill* bill);
    // A bill whose date is invalid (its stored date names no day) keeps its stored date.
    static bool update(const MBill* bill);
    // Deletes the row; the object stays valid.
    static bool remove(const MBill* bill);
    // Holds back the change chain while several bills are written in a row: instead of once per
    // bill, the cache is dropped, the balances recomputed and the signals emitted once, when the
    // outermost batch ends (and only when a bill was written in it).
    class Batch {
    public:
        Batch();
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;
    };

    // Forgets the cache, the last condition and the months compared, without signals: for a
    // freshly opened book.
    static void resetState();

    // The date of the bill with id as the book holds it: the text behind a date that names no day.
    static QString getStoredDate(const QString& id);

    // The kinds of bill, as tbl_bill.kind stores them; no other file spells them out.
    static constexpr QLatin1String Expense { "expense" };
    static constexpr QLatin1String Income { "income" };
    static constexpr QLatin1String Transfer { "transfer" };
    static constexpr QLatin1String Lend { "lend" };
    static constexpr QLatin1String Borrow { "borrow" };
    static constexpr QLatin1String Refund { "refund" };
    static constexpr QLatin1String Repay { "repay" };

    // Expenses and incomes are booked on a category and a member; the other kinds on a target
    // account or a borrower.
    static bool isCategoryKind(const QString& kind);
    // Lending, borrowing and their repayments, booked on a borrower.
    static bool isLoanKind(const QString& kind);
    // Money leaves the account with these kinds, so their amounts are stored negative.
    static bool isOutgoingKind(const QString& kind);

    // A new bill owned by the caller with every data field but the id.
    MBill* clone() const;

    MAccount* getAccount() const;
    MAccount* getToAccount() const;
    MCategory* getCategory() const;
    MCategory* getSubCategory() const;
    MBorrower* getBorrower() const;
    MMember* getMember() const;

    QString getId() const { return id; }
    void setId(const QString& value) { id = value; }
    double getAmount() const { return amount; }
    void setAmount(double value) { amount = value; }
    QString getDescription() const { return description; }
    void setDescription(const QString& value) { description = value; }
    QDate getDate() const { return date; }
    void setDate(const QDate& value);
    int getMonth() const { return month; }
    void setMonth(int value) { month = value; }
    QString getCategoryId() const { return categoryId; }
    void setCategoryId(const QString& value) { categoryId = value; }
    QString getSubCategoryId() const { return subCategoryId; }
    void setSubCategoryId(const QString& value) { subCategoryId = value; }
    QString getAccountId() const { return accountId; }
    void setAccountId(const QString& value) { accountId = value; }
    QString getToAccountId() const { return toAccountId; }
    void setToAccountId(const QString& value) { toAccountId = value; }
    QString getBorrowerId() const { return borrowerId; }
    void setBorrowerId(const QString& value) { borrowerId = value; }
    QString getMemberId() const { return memberId; }
    void setMemberId(const QString& value) { memberId = value; }
    QString getKind() const { return kind; }
    void setKind(const QString& value) { kind = value; }
    QString getTitle() const { return title; }
    void setTitle(const QString& value) { title = value; }

    // Tree links of the bill list; never stored. The children list does not own its bills.
    QList<MBill*>* getChildren() { return &children; }
    bool isDayRow() const { return dayRow; }
    void setDayRow(bool value) { dayRow = value; }
    bool isExpanded() const { return expanded; }
    void setExpanded(bool value) { expanded = value; }
    // The tree parent, not an owner: setParent(MBill*) hides QObject::setParent on purpose.
    MBill* getParent() const { return treeParent; }
    void setParent(MBill* value) { treeParent = value; }

private:
    // The bill of the current row, whose columns from first on are id, amount, description, date,
    // month, the five ids, member id, title and kind: the one object of its id, made on first
    // sight, with its fields as now stored.
    static MBill* readBill(SqliteReader& rows, int first);
    // What a write stores in the date column.
    QVariant storedDateField() const;

    QString id;
    double amount = 0;
    QString description;
    QDate date;
    int month = 0;
    QString categoryId;
    QString subCategoryId;
    QString accountId;
    QString toAccountId;
    QString borrowerId;
    QString memberId;
    QString kind;
    QString title;
    // The stored date as it stands when it is no date (another program's form, a day that does not
    // exist), so that a write of the bill's other fields keeps it; null when the date was read.
    QString storedDate;
    QList<MBill*> children;
    bool dayRow = false;
    bool expanded = true;
    MBill* treeParent = nullptr;
};
