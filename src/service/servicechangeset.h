#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QList>
#include <QString>
#include <functional>

// A change set as a client uploads it, UTF-8 JSON text: an array of table objects with "table_name",
// "update_columns", "update_data" (rows of cells) and "delete_data" (id and version pairs); other keys
// are passed over. It is read where it lies, never copied: first its outline (is it JSON, which
// tables does it name, with which columns), then the rows and deletions of one table after another,
// each handed on by itself.
class ServiceChangeSet {
public:
    // What the outline knows of one element of the change set.
    struct Table {
        bool isObject = false;
        // "table_name", when it is a text.
        bool named = false;
        QString name;
        // "update_columns" (empty unless it is an array); whether each of them is a text.
        QList<QString> columns;
        QList<bool> columnIsText;
        // Where "update_data" and "delete_data" start in the text, or -1 where they are no arrays.
        qsizetype rowsAt = -1;
        qsizetype deletionsAt = -1;
    };

    // One element of "update_data" or "delete_data": a row, or an id with its version.
    struct Element {
        bool isArray = false;
        // The cells, texts as UTF-8 (any other cell counts as an empty text), and the first cell
        // that is no text (-1 when every one is).
        QByteArrayList cells;
        int firstNotText = -1;
    };

    explicit ServiceChangeSet(const QByteArray& data);

    // Reads the outline; false when the text is no JSON array.
    bool readOutline();
    const QList<Table>& tables() const { return outline; }

    // Hands on each element of the array that starts at offset (one of a table's rowsAt and
    // deletionsAt) in turn; false as soon as visit returns false.
    bool readElements(qsizetype offset, const std::function<bool(const Element&)>& visit) const;

private:
    const QByteArray& text;
    QList<Table> outline;
};
