#pragma once

#include <QHash>
#include <QSqlDatabase>
#include <QString>
#include <QVariantList>
#include <functional>

// Small SQL helpers shared by the record classes and by everyone who builds SQL text.

// The bill condition is SQL text pasted into the bill query, so every literal in it must be
// quoted by this function and nothing else: it encloses text in single quotes and doubles every
// quote inside. sqlText("O'Brien") is 'O''Brien'; a null text gives ''.
//     condition += " and account_id=" + sqlText(accountId);
QString sqlText(const QString& text);

// A LIKE pattern that matches values containing text literally: the quoted pattern with % on
// both sides and its own escape clause. %, _ and \ in text are escaped, so a search for "100%",
// "a_b" or "C:\x" finds exactly that text and not every value it would match as a wildcard.
// (LIKE stays case-insensitive for ASCII letters.)
//     condition += " and (title like " + sqlContains(search) + " or description like "
//                  + sqlContains(search) + ")";
// gives: title like '%O''Brien%' escape '\'
QString sqlContains(const QString& text);

// A new record id: a random UUID as 36 lower-case hexadecimal characters without braces.
QString newRecordId();

// Runs a one-value query (a count, the next sort) with positional bind values; the value of the
// first column of the first row, or fallback when the query fails or yields no row.
QVariant sqlValue(const QSqlDatabase& db, const QString& sql, const QVariantList& values, const QVariant& fallback);

// Deletes the row with id from table (on the default connection). A tombstone of the same id left
// from an earlier deletion would make the table's delete trigger fail, so when the row exists that
// stale tombstone goes first, in the same transaction; a tombstone whose id has no row stays for the
// synchronisation. True when the row's statement succeeded (also when no row had the id).
bool deleteWithTombstone(const QString& table, const QString& id);

// The totals of a grouped query "select <id column>, total(amount) ... group by <id column>" on the
// default connection, by id text. Empty when the query fails.
QHash<QString, double> sqlTotals(const QString& sql);

// Runs a prepared write with positional values on db and writes the outcome to the debug output.
bool execWrite(const QSqlDatabase& db, const QString& sql, const QVariantList& values);

// Opens the book file at path on a connection of its own (named after baseName, made unique),
// runs work with it and removes the connection again, so that no handle to the file outlives the
// call and the default connection is never touched. Read-only connections never create a file.
// Returns work's result; false without calling work when the file does not open, with the
// driver's text in *openError.
enum class BookAccess { ReadOnly, ReadWrite };
bool withBookConnection(const QString& path, const QString& baseName, BookAccess access,
    const std::function<bool(QSqlDatabase& db)>& work, QString* openError = nullptr);

// A process that dies in the middle of a commit leaves part of the write in the book file and the
// book's former pages in its rollback journal beside it ("<book>-journal"). SQLite puts the book back
// at the first read on a writable connection; until then a copy of the file, or a read-only reader,
// sees the half-made write. Whoever copies a book file or reads it read-only calls this first: it
// opens the book writable once when such a journal is there. True when no journal is left to play
// back, false when one is there and could not be played back (the book stays as it was).
bool finishInterruptedWrite(const QString& path);
