#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QVariant>
#include <functional>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;
struct sqlite3_value;
class SqliteRow;

// Steps through the rows of one query on the open book (the default connection) through SQLite's
// own API. The values read are exactly what QSqlQuery::value(column).toString() / toDouble() /
// toInt() / toDate() give for the same row, without a QVariant per column and without SQLite's
// UTF-16 copy of every text: the bill list reads every bill this way. Texts that repeat (the ids
// of accounts, categories and members, kinds, titles) come out as one shared string each, which
// keeps a large list small.
class SqliteReader {
public:
    SqliteReader() = default;
    ~SqliteReader();
    SqliteReader(const SqliteReader&) = delete;
    SqliteReader& operator=(const SqliteReader&) = delete;

    // Prepares sql on the default connection; false (see error()) when there is no open book or
    // the statement is invalid.
    bool prepare(const QString& sql);
    // Binds a text to the parameter at index (from 1) of the prepared statement; false on an error.
    bool bindText(int index, const QString& value);
    // The fastest way through many rows: sql reads them as arguments of eachRowFunction, an
    // aggregate of this class's, as in "select quorvane_each_row(kind, amount) from tbl_bill", and
    // SQLite hands every row's values to row while it reads, instead of every row and value being
    // asked for one call at a time. False (see error()) when there is no open book, the statement
    // is invalid or stops.
    static const char* const eachRowFunction;
    bool forEachRow(const QString& sql, const std::function<void(const SqliteRow&)>& row);
    // Steps to the next row; false at the end and on an error (see error()).
    bool next();
    QString error() const { return lastError; }

    QString text(int column) const;
    // The same value as text(), shared with the earlier rows that had the same text in this column.
    QString sharedText(int column);
    // Sets *field to sharedText(column), leaving it untouched when it already holds that text (a
    // reload of the same rows then changes nothing).
    void readText(int column, QString* field);
    // The column's text as UTF-8 bytes, valid until the next step: a key for lookups that must not
    // allocate.
    QByteArray utf8Key(int column) const;
    double toDouble(int column) const;
    int toInt(int column) const;
    QDate toDate(int column) const;

    // The column as SQLite itself converts it (the value total() or a comparison sees), with the
    // fewest calls into SQLite: for reading every row of the book. The text's bytes (NULL: none)
    // are valid until the next step.
    qint64 toInt64(int column) const;
    double real(int column) const;
    const char* textBytes(int column, int* size) const;
    // The column as stored: its storage class and its value, for values ordered as SQLite orders
    // them.
    enum class Type { Null, Integer, Float, Text, Blob };
    struct Cell {
        Type type = Type::Null;
        const char* data = nullptr;
        int size = 0;
        qint64 integer = 0;
        double real = 0;
    };
    Cell cell(int column) const;

    // A quick hash of short texts (ids, kinds, titles), eight bytes at a time: Qt's own hash of
    // QByteArray costs more than the rest of reading a row.
    static quint64 hashBytes(const char* data, int size);

private:
    // What Qt's SQLite driver would hand to QVariant for this column of the current row.
    QVariant driverValue(int column) const;

    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
    QString lastError;
    // Repeated texts of one column and their shared string, up to a bound so that columns of mostly
    // unique texts do not grow a table as large as the list. Open addressing on a cheap hash: this
    // runs for every text of every bill.
    class TextTable {
    public:
        const QString* find(const char* data, int size, quint64 hash) const;
        void insert(const char* data, int size, quint64 hash, const QString& value);
        int size() const { return count; }

    private:
        struct Entry {
            quint64 hash = 0;
            QByteArray bytes;
            QString value;
            bool used = false;
        };
        std::vector<Entry> entries;
        int count = 0;
    };
    std::vector<TextTable> shared;
};

// The values of one row as forEachRow() hands them out, read as SqliteReader reads a column.
class SqliteRow {
public:
    SqliteRow(sqlite3_value** values, int count)
        : values(values)
        , count(count)
    {
    }
    qint64 toInt64(int column) const;
    double real(int column) const;
    const char* textBytes(int column, int* size) const;
    SqliteReader::Cell cell(int column) const;

private:
    sqlite3_value** values;
    int count;
};
