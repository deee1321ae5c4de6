#pragma once

#include <QString>
#include <QStringList>

class QIODevice;

// Reads the service's change set from a device as it is parsed, table by table, without holding
// the reply: a JSON array of table objects with "table_name", "update_columns", "update_data" (rows
// of plain values) and "delete_data" (id and version pairs); other keys are passed over. Every cell
// is handed on as the text that is stored: texts as they are, numbers with at most 15 significant
// digits, true and false as words, null as "".
class ChangeSetReader {
public:
    // What the reader hands on. For each table object: beginTable() once its name and columns are
    // known (at the latest at its end), then its rows, then its deletions, then endTable(). A
    // function that returns false stops the reading.
    class Consumer {
    public:
        virtual ~Consumer() = default;
        virtual bool beginTable(const QString& name, const QStringList& columns) = 0;
        virtual bool row(const QStringList& cells) = 0;
        virtual bool deletion(const QStringList& cells) = 0;
        virtual bool endTable() = 0;
    };

    enum class Outcome {
        // The whole change set was read and handed on.
        Read,
        // The text is no change set (not JSON, not an array of tables, a table without a text name,
        // a cell that is an array or object, ...): what was handed on before must be undone.
        NotChangeSet,
        // A consumer function returned false.
        Stopped,
    };

    // Reads from the device's current position to its end (or a zero byte).
    static Outcome read(QIODevice* device, Consumer* consumer);
};
