#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// What the crash test compares of a book: the rows of the six synchronised tables and of their
// tombstone tables (every column but the stamps user_id, version and created_time, NULL read as ""),
// and of the settings row its login password and how many rows it has. The same structure is the
// test's model of the book, moved on by the writes the driver announces.
struct BookState {
    using Row = QMap<QString, QString>;
    using Table = QMap<QString, Row>; // by id

    QMap<QString, Table> rows; // by table name without "tbl_"
    QMap<QString, Table> buried; // the tombstone tables, by the same names
    QString password;
    int settingsRows = 1;
    QString schemaVersion;

    // The id a write announces before it knows its new record's id; at most one row has it.
    static const QString AnyId;

    static const QStringList& tables();
    // The compared columns of a table, in the order they are read.
    static const QStringList& columnsOf(const QString& table);

    static BookState read(const QSqlDatabase& db);
    static BookState read(const QString& path);

    // The differences to other, one line each; empty when both hold the same. A row with AnyId in
    // this state matches one row of other that this state lacks.
    QStringList differences(const BookState& other) const;
    int liveRows() const;

    // The writes the driver announces, as the program's classes perform them.
    void insert(const QString& table, const QString& id, const QJsonObject& fields);
    void update(const QString& table, const QString& id, const QJsonObject& fields);
    void remove(const QString& table, const QString& id);
    void quickChange(const QString& type, const QJsonArray& ids, const QString& value, const QString& sub);
    // The first synchronisation's id migration: two-character ids get the account's prefix.
    void migrate(const QString& prefix);
    // A change set of the service merged as the synchronisation merges it, for a reply whose every
    // row and deletion is later than the book's own.
    void applyReply(const QJsonArray& reply);
};
