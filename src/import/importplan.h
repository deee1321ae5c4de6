#pragma once

#include <QDate>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include "import/importrecord.h"
#include "import/valueparser.h"

class ImportSource;
class QSqlQuery;

// The bills a file's records become in the open book (the default connection), before and when
// they are booked: each row's kind, signed amount and names as they will be stored, whether it is
// new, a duplicate of a bill already there or cannot be read and why; the
// names the book does not have yet; and the booking of all of it in one transaction.
class ImportPlan {
public:
    enum class Status : quint8 { New, Duplicate, Unreadable };

    // A name of a record the rows refer to. kind is the category kind for categories and
    // sub-categories; parent the category of a sub-category.
    enum class NameType { Account, Category, SubCategory, Member, Borrower };
    struct Name {
        NameType type = NameType::Account;
        QString kind;
        QString parent;
        QString name;
        bool operator==(const Name& other) const
        {
            return type == other.type && kind == other.kind && parent == other.parent && name == other.name;
        }
    };
    struct Row {
        int line = 0;
        // Rows of one QIF split share a number above 0: they are booked all or none.
        int group = 0;
        Status status = Status::New;
        // Booked when ticked: new rows are, duplicates are not until the user ticks them.
        bool ticked = false;
        QDate date;
        // Signed as the book stores it: negative for expense, transfer, lend and repay.
        double amount = 0;
        // The record of the file the row is read from, by index.
        int record = -1;
        QString reason;
        QString kind;
        // The names the row refers to, as indexes into the plan's table of names (text() gives
        // them as they will be booked), or -1: a row of a large file costs little more than its
        // record. A category is none when the sub-category is mapped to one of the book's, which
        // brings its own.
        struct Refs {
            int account = -1;
            int toAccount = -1;
            int category = -1;
            int subCategory = -1;
            int member = -1;
            int borrower = -1;
        } refs;
    };

    // A name the book does not have: created when the rows are booked, unless the user maps it to a
    // record the book has.
    struct MissingName {
        Name name;
        int rows = 0;
        // Why it cannot be created (too long, a line break); mapping it is the only way then.
        QString problem;
        // The id of the record it is mapped to; empty: created.
        QString mappedTo;
    };

    struct Summary {
        int booked = 0;
        int duplicates = 0;
        int unreadable = 0;
        // Line and reason of every row that cannot be read.
        QList<QPair<int, QString>> unreadableRows;
        // Line and text of what the import changed from the file to book it (a name shortened,
        // the rest of a split).
        QList<QPair<int, QString>> notes;
        int createdNames = 0;
        QString backupName;
        bool dryRun = false;
    };

    // Reads the book's names and bills once, for the checks of every build() after it.
    ImportPlan();

    // The rows of source's records. order settles dates such as 3/4/2023 (Unknown: only when the
    // file itself tells); rows naming no account are booked on defaultAccount. Mappings of names
    // made before stay.
    void build(const ImportSource& source, ValueParser::DateOrder order, const QString& defaultAccount);

    // What is wrong with the whole file (no date column, no amount column); empty when the rows
    // can be booked.
    QString problem() const { return fileProblem; }
    // True when the file has dates such as 3/4/2023 and nothing in it tells the order: the user
    // must choose one.
    bool needsDateOrder() const { return orderNeeded; }
    // The order the file's dates themselves show, or Unknown.
    ValueParser::DateOrder fileDateOrder() const { return detectedOrder; }

    const QList<Row>& rows() const { return planned; }
    // The text a row is booked with in role: its Title or Description, or the name of its
    // Account, ToAccount, Category, SubCategory, Member or Borrower (the book's record's, or the
    // file's for one to be created); empty when none.
    QString text(const Row& row, ColumnRole::Role role) const;
    // Books or skips the duplicate row at index.
    void setTicked(int index, bool ticked);
    int count(Status status) const;
    int tickedCount() const;

    const QList<MissingName>& missingNames() const { return missing; }
    // Maps the missing name at index to the record with id (empty: create it); the rows follow.
    void mapName(int index, const QString& id);
    // The records of the book that a name of type (and kind) may be mapped to: (name, id).
    QList<QPair<QString, QString>> candidates(NameType type, const QString& kind) const;

    // Books every ticked row: first an automatic backup of the book (as before a synchronisation;
    // when it cannot be made nothing is booked), then, in one transaction, the missing names and the
    // bills. Nothing is written when anything fails; the record caches and the bill index are read
    // again afterwards. False with the reason in *error. Once booked, the plan holds no rows: a file
    // is checked against the book anew by a new plan.
    bool book(Summary* summary, QString* error);
    // What book() would do, without writing.
    Summary preview() const;

    // The closing text: how many were booked, skipped as duplicates and unreadable (with lines).
    // At most maxListed unreadable rows are listed when it is not negative.
    static QString summaryText(const Summary& summary, int maxListed = -1);

private:
    struct Known {
        QString id;
        QString parentId;
        QString name;
        QString parentName;
    };
    void loadBook();
    QString key(const Name& name) const;
    // The record the name stands for, the mapped one or the book's of that name; null when it is
    // to be created.
    const Known* resolve(const Name& name) const;
    void readRow(const ImportRecord& record, const QString& defaultAccount, ValueParser::DateOrder order, Row* row);
    // The category, sub-category and member of an expense or income row.
    void noteCategoryAndMember(const ImportRecord& record, Row* row);
    struct Booking;
    // The id of a name while booking: the mapped or existing record's, or that of the record made
    // for it now; when that record cannot be written, booking->failed is set.
    QString bookedId(const Name& name, QString* parentId, Booking* booking);
    bool insertName(const Name& name, const QString& id, const Booking& booking) const;
    // Writes the bill of row with insert, and the records of the names it needs first. False, with
    // the reason in *error when the bill's statement failed, when nothing more is to be booked.
    bool bookRow(const Row& row, Booking* booking, QSqlQuery* insert, QString* error);
    // A name the rows refer to, once however many rows do: what is shown and booked for it, the
    // id duplicates are compared by (the record's, or "new:" and the name for one to be
    // created), and its entry among the missing names (-1 when the book has it).
    struct NameUse {
        Name name;
        QString shown;
        // The category of a sub-category mapped to one of the book's.
        QString parentShown;
        QString id;
        int missing = -1;
        // Created when the rows are booked (missing and not mapped to one of the book's).
        bool created = false;
    };
    // Notes that row refers to name and returns its index in uses; a name the book lacks is
    // listed as missing (and its row is unreadable when the name cannot be created).
    int noteName(Row* row, const Name& name);
    void rebuild();
    // The name as the book can hold it: one over the dialogs' limit is cut to it, and noted.
    QString fitName(const QString& name, int line);
    void markDuplicates();
    QString duplicateKey(const Row& row) const;

    QHash<QString, Known> known;
    QHash<QString, Known> knownById;
    QList<ImportRecord> lastRecords;
    ValueParser::DateOrder lastOrder = ValueParser::DateOrder::Unknown;
    QString lastDefaultAccount;
    // The duplicate rows the user ticked, by index.
    QSet<int> tickedRows;
    // The book's bills by duplicate key, with how many of each.
    QHash<QString, int> existingBills;
    QList<Row> planned;
    QList<NameUse> uses;
    QHash<QString, int> useIndex;
    QList<MissingName> missing;
    QHash<QString, QString> mappings;
    QHash<QString, int> missingIndex;
    QHash<QString, QString> accountKinds;
    QList<QPair<int, QString>> sourceNotes;
    // The names cut to the limit, with the first line that had each.
    QHash<QString, int> shortenedNames;
    QList<QPair<int, QString>> nameNotes;
    QString fileProblem;
    bool orderNeeded = false;
    ValueParser::DateOrder detectedOrder = ValueParser::DateOrder::Unknown;
};
