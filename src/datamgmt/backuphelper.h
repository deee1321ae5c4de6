#pragma once

#include <QObject>
#include <QString>

// Copies of the current book: backups in the backup folder, and the restore that puts a chosen
// book file in the current book's place.
class BackupHelper : public QObject
{
    Q_OBJECT

public:
    explicit BackupHelper(QObject* parent = nullptr);

    // The current book's name up to its first ".", then the local time as yyyyMMddhhmmsszzz, ".db".
    static QString generateBackupFileName();
    // Copies the current book into the backup folder under the given name (a generated one when
    // empty); never replaces an existing file. True when the copy was made.
    static bool backup(const QString& backupFileName = QString());
    // Replaces the current book with file, after a safety backup; the restored book counts as never
    // synchronised. A file that is not a book replaces nothing. True when file now stands in its place.
    static bool restore(const QString& file);
    // Replaces the current book with the other program's data file, converted.
    static bool kobel(const QString& file);
    // True when path is an SQLite file with the tables of a book; it is opened read-only.
    static bool isBook(const QString& path);
};
