#pragma once

#include <QObject>
#include <QString>

class QDateTime;
class QSqlDatabase;

// Work on the current book as a file: backups in the backup folder, the restore that puts a chosen
// book in the current book's place, the import of the other program's data file (kobel) and the
// reset of the open book to its default records.
class BackupHelper : public QObject {
    Q_OBJECT

public:
    explicit BackupHelper(QObject* parent = nullptr);

    // The current book's name up to its first ".", then the local time as yyyyMMddhhmmsszzz, ".db".
    static QString generateBackupFileName();
    // The same for the given moment.
    static QString generateBackupFileName(const QDateTime& moment);
    // Copies the current book into the backup folder under the given name (a generated one when
    // empty); never replaces an existing file. True when the copy was made.
    static bool backup(const QString& backupFileName = QString());
    // Replaces the current book with file, after a safety backup; the restored book counts as never
    // synchronised. A file that is not a sound book replaces nothing. True when file now stands in
    // its place.
    static bool restore(const QString& file);
    // Replaces the current book, after a safety backup, with the other program's data file
    // converted into a book. The conversion is whole or not at all: the book is replaced only once
    // it has succeeded, and a file without the other program's tables replaces nothing. Rows the book
    // cannot hold (a repeated id, an empty required column) are left out and counted in
    // *skippedRows. *unopened tells the caller that the file (or the template) could not be opened
    // at all, which the user is told apart from the failed import. True when the converted file
    // now stands in the book's place.
    static bool kobel(const QString& file, int* skippedRows = nullptr, bool* unopened = nullptr);

    // Leaves a tombstone for each default record in the book on db, so that the first
    // synchronisation deletes the defaults on the server: the record is written and deleted again,
    // and the delete trigger keeps the copy. A default id that a live row already holds is left
    // alone, so that the row (the user's own) is neither deleted nor reported as deleted. Plain SQL
    // on db, inside the caller's transaction; the open book and its change signals are not touched.
    static bool addDeleteData(const QSqlDatabase& db);

    // Empties the open book down to its default records, as a book that was never synchronised,
    // in one transaction: on failure nothing is changed. The record caches are dropped afterwards,
    // so that every page hears of the change once. True when it was committed.
    static bool resetBook();

    // True when path is a sound SQLite file with the tables of a book's settings and records, each
    // with every column a book has; it is opened read-only.
    static bool isBook(const QString& path);
    // True when path is a sound SQLite file with the other program's tables and none of a book's.
    static bool isKobelFile(const QString& path);
};
