#include "engine/changesetreader.h"

#include <QIODevice>
#include <QList>
#include <rapidjson/reader.h>

namespace {

// A rapidjson input stream over a QIODevice, read in blocks; a zero character marks the end.
class DeviceStream {
public:
    using Ch = char;

    explicit DeviceStream(QIODevice* device)
        : device(device)
        , buffer(blockSize, '\0')
    {
        fill();
    }

    Ch Peek() const { return current < end ? buffer[current] : '\0'; }
    Ch Take()
    {
        if (current >= end)
            return '\0';
        const Ch c = buffer[current++];
        if (current == end)
            fill();
        return c;
    }
    size_t Tell() const { return size_t(consumed + current); }

    // Only for writing streams; never called on this one.
    Ch* PutBegin() { return nullptr; }
    void Put(Ch) { }
    void Flush() { }
    size_t PutEnd(Ch*) { return 0; }

private:
    void fill()
    {
        consumed += end;
        current = 0;
        const qint64 got = device->read(buffer.data(), blockSize);
        end = got > 0 ? got : 0;
    }

    static constexpr qint64 blockSize = 256 * 1024;
    QIODevice* device;
    QByteArray buffer;
    qint64 current = 0;
    qint64 end = 0;
    qint64 consumed = 0;
};

class Handler : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Handler> {
public:
    explicit Handler(ChangeSetReader::Consumer* consumer)
        : consumer(consumer)
    {
    }

    ChangeSetReader::Outcome outcome = ChangeSetReader::Outcome::NotChangeSet;

    bool Null() { return scalar(QLatin1String("")); }
    bool Bool(bool value) { return scalar(value ? QStringLiteral("true") : QStringLiteral("false")); }
    bool Int(int value) { return number(double(value)); }
    bool Uint(unsigned value) { return number(double(value)); }
    bool Int64(int64_t value) { return number(double(value)); }
    bool Uint64(uint64_t value) { return number(double(value)); }
    bool Double(double value) { return number(value); }
    bool String(const char* text, rapidjson::SizeType length, bool)
    {
        if (skipping == 0 && depth == 2 && key == Field::TableName) {
            name = QString::fromUtf8(text, length);
            named = true;
            return true;
        }
        return scalar(QString::fromUtf8(text, length), true);
    }
    bool Key(const char* text, rapidjson::SizeType length, bool)
    {
        if (skipping > 0)
            return true;
        const QByteArray word = QByteArray::fromRawData(text, int(length));
        key = word == "table_name"     ? Field::TableName
            : word == "update_columns" ? Field::UpdateColumns
            : word == "delete_columns" ? Field::DeleteColumns
            : word == "update_data"    ? Field::UpdateData
            : word == "delete_data"    ? Field::DeleteData
                                       : Field::Other;
        return true;
    }
    bool StartObject()
    {
        if (skipping > 0 || (depth == 2 && key == Field::Other)) {
            ++skipping;
            return true;
        }
        if (depth != 1)
            return invalid();
        depth = 2;
        beginObject();
        return true;
    }
    bool EndObject(rapidjson::SizeType)
    {
        if (skipping > 0) {
            --skipping;
            return true;
        }
        depth = 1;
        return endObject();
    }
    bool StartArray()
    {
        if (skipping > 0 || (depth == 2 && key == Field::Other)) {
            ++skipping;
            return true;
        }
        switch (depth) {
        case 0:
            depth = 1;
            return true;
        case 2:
            if (key == Field::TableName)
                return invalid();
            depth = 3;
            return true;
        case 3:
            if (key != Field::UpdateData && key != Field::DeleteData)
                return invalid();
            depth = 4;
            cells.clear();
            return true;
        default:
            return invalid();
        }
    }
    bool EndArray(rapidjson::SizeType)
    {
        if (skipping > 0) {
            --skipping;
            return true;
        }
        if (depth == 4) {
            depth = 3;
            return endRow();
        }
        if (depth == 3) {
            if (key == Field::UpdateColumns)
                columnsKnown = true;
            depth = 2;
            return true;
        }
        // The end of the change set.
        depth = 0;
        outcome = ChangeSetReader::Outcome::Read;
        return true;
    }

private:
    enum class Field { TableName, UpdateColumns, DeleteColumns, UpdateData, DeleteData, Other };

    bool invalid()
    {
        outcome = ChangeSetReader::Outcome::NotChangeSet;
        return false;
    }
    bool stopped()
    {
        outcome = ChangeSetReader::Outcome::Stopped;
        return false;
    }

    bool number(double value) { return scalar(QString::number(value, 'g', 15)); }

    // A plain value: a cell of a row, a column name, or the value of a key passed over.
    bool scalar(const QString& text, bool isText = false)
    {
        if (skipping > 0 || (depth == 2 && key == Field::Other))
            return true;
        switch (depth) {
        case 3:
            // Column lists hold texts; rows must be arrays.
            if (!isText || (key != Field::UpdateColumns && key != Field::DeleteColumns))
                return invalid();
            if (key == Field::UpdateColumns)
                columns << text;
            return true;
        case 4:
            cells << text;
            return true;
        default:
            // A table name that is no text, or an element of the change set that is no table.
            return invalid();
        }
    }

    void beginObject()
    {
        name.clear();
        named = false;
        columns.clear();
        columnsKnown = false;
        begun = false;
        rows.clear();
        deletions.clear();
    }

    bool begin()
    {
        begun = true;
        if (!consumer->beginTable(name, columns))
            return false;
        for (const QStringList& held : std::as_const(rows)) {
            if (!consumer->row(held))
                return false;
        }
        rows.clear();
        return true;
    }

    bool endRow()
    {
        if (key == Field::DeleteData) {
            // Deletions go after the table's rows, wherever the service put them.
            deletions << cells;
            return true;
        }
        // Rows whose table or columns are still to come wait for them.
        if (!begun && !(named && columnsKnown)) {
            rows << cells;
            return true;
        }
        if (!begun && !begin())
            return stopped();
        return consumer->row(cells) || stopped();
    }

    bool endObject()
    {
        if (!named)
            return invalid();
        if (!begun && !begin())
            return stopped();
        for (const QStringList& deletion : std::as_const(deletions)) {
            if (!consumer->deletion(deletion))
                return stopped();
        }
        deletions.clear();
        return consumer->endTable() || stopped();
    }

    ChangeSetReader::Consumer* consumer;
    int depth = 0;
    int skipping = 0;
    Field key = Field::Other;
    QString name;
    bool named = false;
    QStringList columns;
    bool columnsKnown = false;
    bool begun = false;
    QStringList cells;
    QList<QStringList> rows;
    QList<QStringList> deletions;
};

} // namespace

ChangeSetReader::Outcome ChangeSetReader::read(QIODevice* device, Consumer* consumer)
{
    DeviceStream stream(device);
    Handler handler(consumer);
    rapidjson::Reader reader;
    // Iterative: a deeply nested reply costs no stack.
    const rapidjson::ParseResult result = reader.Parse<rapidjson::kParseIterativeFlag>(stream, handler);
    if (result)
        return handler.outcome;
    // The handler's own reason, or JSON that is broken.
    return result.Code() == rapidjson::kParseErrorTermination ? handler.outcome : Outcome::NotChangeSet;
}
