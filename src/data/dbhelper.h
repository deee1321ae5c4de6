#pragma once

#include <functional>

#include <QMap>
#include <QMultiMap>
#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

class MCategory;

// Brings the open book to the program's schema version and fills a new or emptied book with the
// default records (accounts, borrower, category tree, members with fixed two-digit ids).
class DBHelper : public QObject {
    Q_OBJECT

public:
    static DBHelper* getInstance();

    // Opens the book at path as the default connection, where the record classes and pages run
    // their SQL. False when it cannot be opened.
    static bool openDefaultConnection(const QString& path);
    static void closeDefaultConnection();

    // True when the open book has the tables and columns the program reads, as far as a book of its
    // stored version has them (the upgrade adds the rest). A file that is some other SQLite file,
    // or a book that lost a table, opens all the same: this says whether it is a book of ours.
    static bool checkSchema();
    // The same for the book on db.
    static bool checkSchema(const QSqlDatabase& db);
    // True when the program may write the book at path: the file, and its folder, where every
    // write keeps its journal. With the program's effective rights.
    static bool isWritable(const QString& path);

    // Runs the statements that bring the open book from its stored version to the current one, in
    // one transaction; statements whose effect the book already has are skipped. The version is
    // stored only after a clean run: on any other failure everything is rolled back, the version
    // stays and false is returned, so the next open tries again. A book whose settings row is
    // missing counts as version 0 and gets the template's row. Creates DbSetting on first use
    // (and loads it again after writing a missing row).
    bool upgrade();
    // The same for a book that is not the open one, on a connection of its own (a restored book
    // before it takes the open book's place): the version is read and stored with SQL, and the
    // settings row is otherwise left as it is.
    bool upgradeBook(const QSqlDatabase& db);

    // The book's own record of the changes it has not uploaded yet: a row (table, id, an increasing
    // number) for every insert, update and deletion of the synchronised tables, written by triggers,
    // so that what a synchronisation sends does not hang on the computer's clock. Makes the table and
    // its triggers where they are missing, and makes them anew where another program changed them
    // (whatever such a table held is then unknown, and the synchronisation's version rule stands in
    // for it). False when they cannot be made; *repaired tells whether anything had to be made.
    static bool ensurePendingChanges(const QSqlDatabase& db, bool* repaired = nullptr);
    // The synchronised tables, without "tbl_".
    static const QStringList& synchronisedTables();

    // Inserts the default records and stamps them with the old version, all in one transaction that
    // is rolled back on any error. "" works on the open book (the record classes' signals fire as
    // each record is written); a path works on that book file through a connection of its own,
    // leaving the open book, its caches and its signals alone.
    bool initDefaultData(const QString& path);

    // Walks the default category tree, the expense kind and then the income kind: each top
    // category followed by its sub-categories. Top categories and sub-categories are numbered apart
    // from 1 on, and the number gives the two-digit id ("01" …). visit gets each record (id, name,
    // kind, description, and a sub-category's top category id; the sort left unset) with its
    // number; the walk stops at the first false, and returns it.
    static bool forEachDefaultCategory(const std::function<bool(MCategory& record, int number)>& visit);

    // Drops the records held in memory and the bill index, so that they are read from the book
    // again after a write that changed it beneath them (a reset, an import, a synchronisation).
    static void clearRecordCaches();

private:
    explicit DBHelper(QObject* parent = nullptr);

    bool fillDefaultData(const QString& connectionName);
    // Runs the statements that bring the book on db from version from to the current one, inside
    // the caller's transaction. False at the first statement that fails.
    bool runUpgradeStatements(const QSqlDatabase& db, int from);
    // The default category tree of one kind ("expense" or "income"): the top category names in
    // order, and by top name the sub-category names in order. Empty for another kind.
    static QStringList defaultCategoryNames(const QString& kind);
    static QMultiMap<QString, QStringList> defaultSubCategoryNames(const QString& kind);
    static bool isApplied(const QSqlDatabase& db, const QString& statement);

    QMap<int, QStringList> upgradeMap;
};
