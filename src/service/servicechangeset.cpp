#include "servicechangeset.h"

#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

namespace {

// Iterative: a deeply nested upload costs no stack. Numbers are not converted (none is kept, and
// one too large for a double is still JSON). Text that is no UTF-8 is refused.
constexpr unsigned parseFlags
    = rapidjson::kParseIterativeFlag | rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseValidateEncodingFlag;

// The outline: depth 1 is the change set, 2 a table object, 3 the array of one of its keys.
class OutlineHandler : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, OutlineHandler> {
public:
    OutlineHandler(const rapidjson::MemoryStream& stream, QList<ServiceChangeSet::Table>* tables)
        : stream(stream)
        , tables(tables)
    {
    }

    bool Null() { return value(false); }
    bool Bool(bool) { return value(false); }
    bool Int(int) { return value(false); }
    bool Uint(unsigned) { return value(false); }
    bool Int64(int64_t) { return value(false); }
    bool Uint64(uint64_t) { return value(false); }
    bool Double(double) { return value(false); }
    bool RawNumber(const char*, rapidjson::SizeType, bool) { return value(false); }
    bool String(const char* text, rapidjson::SizeType length, bool)
    {
        if (skipping == 0 && depth == 2 && field == Field::Name) {
            tables->last().named = true;
            tables->last().name = QString::fromUtf8(text, qsizetype(length));
            return true;
        }
        if (skipping == 0 && depth == 3 && field == Field::Columns) {
            tables->last().columns << QString::fromUtf8(text, qsizetype(length));
            tables->last().columnIsText << true;
            return true;
        }
        return value(false);
    }
    bool Key(const char* text, rapidjson::SizeType length, bool)
    {
        if (skipping > 0)
            return true;
        const QByteArray word = QByteArray::fromRawData(text, qsizetype(length));
        field = word == "table_name"   ? Field::Name
            : word == "update_columns" ? Field::Columns
            : word == "update_data"    ? Field::Rows
            : word == "delete_data"    ? Field::Deletions
                                       : Field::Other;
        // The last of a key given twice counts.
        ServiceChangeSet::Table& table = tables->last();
        switch (field) {
        case Field::Name:
            table.named = false;
            table.name.clear();
            break;
        case Field::Columns:
            table.columns.clear();
            table.columnIsText.clear();
            break;
        case Field::Rows:
            table.rowsAt = -1;
            break;
        case Field::Deletions:
            table.deletionsAt = -1;
            break;
        case Field::Other:
            break;
        }
        return true;
    }
    bool StartObject()
    {
        if (skipping > 0 || depth != 1) {
            if (depth == 0)
                return false;
            return value(true);
        }
        depth = 2;
        tables->append(ServiceChangeSet::Table());
        tables->last().isObject = true;
        return true;
    }
    bool EndObject(rapidjson::SizeType) { return end(); }
    bool StartArray()
    {
        if (skipping == 0 && depth == 0) {
            depth = 1;
            return true;
        }
        if (skipping == 0 && depth == 2) {
            // The '[' is the next character, or was just taken (as the reader parses recursively).
            qsizetype at = qsizetype(stream.Tell());
            if (at >= qsizetype(stream.size_) || stream.begin_[at] != '[')
                --at;
            switch (field) {
            case Field::Columns:
                depth = 3;
                return true;
            case Field::Rows:
                tables->last().rowsAt = at;
                break;
            case Field::Deletions:
                tables->last().deletionsAt = at;
                break;
            default:
                break;
            }
        }
        return value(true);
    }
    bool EndArray(rapidjson::SizeType) { return end(); }

private:
    enum class Field { Name, Columns, Rows, Deletions, Other };

    // A value other than those taken above: an element of the change set that is no table, a column
    // that is no text, or something passed over; nested ones are passed over to their end.
    bool value(bool nested)
    {
        if (skipping == 0) {
            if (depth == 0)
                return false;
            if (depth == 1)
                tables->append(ServiceChangeSet::Table());
            else if (depth == 3) {
                tables->last().columns << QString();
                tables->last().columnIsText << false;
            }
        }
        if (nested)
            ++skipping;
        return true;
    }

    bool end()
    {
        if (skipping > 0) {
            --skipping;
            return true;
        }
        --depth;
        return true;
    }

    const rapidjson::MemoryStream& stream;
    QList<ServiceChangeSet::Table>* tables;
    int depth = 0;
    int skipping = 0;
    Field field = Field::Other;
};

// The elements of one array: depth 1 is the array, 2 an element, 3 a value nested in a cell.
class ElementHandler : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, ElementHandler> {
public:
    explicit ElementHandler(const std::function<bool(const ServiceChangeSet::Element&)>& visit)
        : visit(visit)
    {
    }

    bool stopped = false;

    bool Null() { return cell(nullptr, 0); }
    bool Bool(bool) { return cell(nullptr, 0); }
    bool Int(int) { return cell(nullptr, 0); }
    bool Uint(unsigned) { return cell(nullptr, 0); }
    bool Int64(int64_t) { return cell(nullptr, 0); }
    bool Uint64(uint64_t) { return cell(nullptr, 0); }
    bool Double(double) { return cell(nullptr, 0); }
    bool RawNumber(const char*, rapidjson::SizeType, bool) { return cell(nullptr, 0); }
    bool String(const char* text, rapidjson::SizeType length, bool) { return cell(text, length); }
    bool Key(const char*, rapidjson::SizeType, bool) { return true; }
    bool StartObject() { return nested(); }
    bool EndObject(rapidjson::SizeType) { return end(); }
    bool StartArray()
    {
        if (depth == 0) {
            depth = 1;
            return true;
        }
        if (depth == 1) {
            depth = 2;
            element.isArray = true;
            element.cells.clear();
            element.firstNotText = -1;
            return true;
        }
        return nested();
    }
    bool EndArray(rapidjson::SizeType)
    {
        if (depth == 2)
            return done();
        return end();
    }

private:
    bool cell(const char* text, rapidjson::SizeType length)
    {
        if (depth == 1) {
            // An element that is no array.
            element.isArray = false;
            element.cells.clear();
            return done();
        }
        if (depth == 2) {
            if (!text && element.firstNotText < 0)
                element.firstNotText = int(element.cells.size());
            element.cells << (text ? QByteArray(text, qsizetype(length)) : QByteArray());
        }
        return true;
    }

    bool nested()
    {
        // Only the outermost of nested values counts: the element itself, or one cell.
        if (nestedAt == 0 && (depth == 1 || depth == 2)) {
            // An element that is an object, or a cell that is an array or object: passed over to its
            // end, where it counts as one.
            nestedAt = depth;
            if (depth == 2 && element.firstNotText < 0)
                element.firstNotText = int(element.cells.size());
            if (depth == 2)
                element.cells << QByteArray();
            else
                element.isArray = false;
        }
        ++depth;
        return true;
    }

    bool end()
    {
        --depth;
        if (depth == 1 && nestedAt == 1) {
            nestedAt = 0;
            element.cells.clear();
            return done();
        }
        if (depth == nestedAt)
            nestedAt = 0;
        return true;
    }

    bool done()
    {
        if (depth == 2)
            depth = 1;
        if (!visit(element)) {
            stopped = true;
            return false;
        }
        return true;
    }

    const std::function<bool(const ServiceChangeSet::Element&)>& visit;
    ServiceChangeSet::Element element;
    int depth = 0;
    int nestedAt = 0;
};

} // namespace

ServiceChangeSet::ServiceChangeSet(const QByteArray& data)
    : text(data)
{
}

bool ServiceChangeSet::readOutline()
{
    outline.clear();
    // A zero byte is never JSON; the reader would take it for the end.
    if (text.contains('\0'))
        return false;
    rapidjson::MemoryStream stream(text.constData(), size_t(text.size()));
    OutlineHandler handler(stream, &outline);
    rapidjson::Reader reader;
    if (!reader.Parse<parseFlags>(stream, handler)) {
        outline.clear();
        return false;
    }
    return true;
}

bool ServiceChangeSet::readElements(qsizetype offset, const std::function<bool(const Element&)>& visit) const
{
    if (offset < 0 || offset >= text.size())
        return false;
    rapidjson::MemoryStream stream(text.constData() + offset, size_t(text.size() - offset));
    ElementHandler handler(visit);
    rapidjson::Reader reader;
    return bool(reader.Parse<parseFlags | rapidjson::kParseStopWhenDoneFlag>(stream, handler)) && !handler.stopped;
}
