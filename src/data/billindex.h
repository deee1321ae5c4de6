#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <memory>
#include <vector>

// What the bill list, the status bar, the balances and the month list need of the open book's bills,
// kept in memory so that none of them reads the whole bill table again after a change:
// - for each bill condition asked for lately (the bill list's filters), the row ids of its bills in
//   list order (newest date first, then latest created first, then as stored) and its totals per kind;
// - for the whole book, per month the number of bills and the totals per kind, and the sums of the
//   amounts per account, per target account and per borrower.
// Everything is read from the book the first time it is asked for (the whole book in one pass) and
// kept current by every write of the bill records, which tell the index what the written row was
// before and is after (Change). Whatever else changes bills (the synchronisation, the reset, SQL of
// a test) ends in MBill::clearCache(), which calls forget(): the next question reads the book again.
// A bill-data announcement that the bill records did not make, and a rolled-back transaction on the
// book, forget too. Nothing here is ever written to the book.
class BillIndex {
public:
    // Sums of amounts by a text (a kind key, an account id), as SQLite's total() adds them up.
    using Totals = QHash<QString, double>;
    enum class SumColumn { Account, ToAccount, Borrower };

    // The number of bills that match condition (SQL after "where", as MBill::get takes it); 0 when
    // the book rejects the condition.
    static int count(const QString& condition);
    // The row ids of the bills at positions from … from + count - 1 of the condition's list, as far
    // as it goes.
    static std::vector<qint64> rowIds(const QString& condition, int from, int count);
    // The totals per kind of the bills that match condition; empty when the book rejects it.
    static Totals totals(const QString& condition);
    // The totals per kind of the bills of one month (yyyyMM).
    static Totals monthTotals(int month);
    // The months (yyyyMM) that have bills, newest first.
    static QList<int> months();
    // The sums of the amounts of all bills by the text of one column.
    static Totals sums(SumColumn column);

    // One write of one bill through the bill records: made before the statement runs, with the
    // bill's id, it reads the row as stored; finish() reads it again after the statement and moves
    // every figure from the one to the other (a row that is gone, or was not there, counts as none).
    // Costs two reads of one row by its key, and nothing while the index has not been built.
    class Change {
    public:
        explicit Change(const QString& id);
        ~Change();
        Change(const Change&) = delete;
        Change& operator=(const Change&) = delete;
        void finish();
        // The row ids the bill had before and has after the write (0: no row).
        qint64 rowIdBefore() const;
        qint64 rowIdAfter() const;

    private:
        struct Data;
        std::unique_ptr<Data> data;
    };

    // Everything is read from the book again when it is next asked for.
    static void forget();
    // The month figures and the sums only (the account and borrower records reload their balances).
    static void forgetSums();
    // Counts the forget() calls: whoever keeps bills read by row id reads them again when it changed.
    static quint64 generation();

    // While one lives, a bill-data announcement is the bill records' own, made with the index
    // current; any other announcement makes the index forget.
    class Announcement {
    public:
        Announcement();
        ~Announcement();
        Announcement(const Announcement&) = delete;
        Announcement& operator=(const Announcement&) = delete;
    };
    static bool isAnnouncing();
};
