#include "data/sqlitereader.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <cstring>
#include <limits>
#include <sqlite3.h>

namespace {

const int sharedPerColumn = 4096;

// The SQLite handle behind the default connection, or null when no book is open.
sqlite3* openBook()
{
    const QSqlDatabase db = QSqlDatabase::database();
    if (!db.isOpen() || !db.driver())
        return nullptr;
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(handle.constData());
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int number(const char* digits, int count)
{
    int value = 0;
    for (int i = 0; i < count; ++i)
        value = value * 10 + (digits[i] - '0');
    return value;
}

// The callback of the forEachRow() running now; forEachRow() may run inside another one's row.
const std::function<void(const SqliteRow&)>* eachRowCallback = nullptr;
// The connection on which the aggregate was registered last.
sqlite3* registeredOn = nullptr;

void eachRowStep(sqlite3_context*, int count, sqlite3_value** values)
{
    if (eachRowCallback)
        (*eachRowCallback)(SqliteRow(values, count));
}

void eachRowFinal(sqlite3_context* context)
{
    sqlite3_result_null(context);
}

bool registerEachRow(sqlite3* db)
{
    return sqlite3_create_function_v2(
               db, SqliteReader::eachRowFunction, -1, SQLITE_UTF8, nullptr, nullptr, eachRowStep, eachRowFinal, nullptr)
        == SQLITE_OK;
}

} // namespace

const char* const SqliteReader::eachRowFunction = "quorvane_each_row";

quint64 SqliteReader::hashBytes(const char* data, int size)
{
    quint64 hash = 0x9E3779B97F4A7C15ull ^ quint64(size);
    int i = 0;
    for (; i + 8 <= size; i += 8) {
        quint64 word;
        std::memcpy(&word, data + i, 8);
        hash = (hash ^ word) * 0xFF51AFD7ED558CCDull;
        hash ^= hash >> 29;
    }
    quint64 last = 0;
    std::memcpy(&last, data + i, size_t(size - i));
    hash = (hash ^ last) * 0xC4CEB9FE1A85EC53ull;
    return hash ^ (hash >> 32);
}

SqliteReader::~SqliteReader()
{
    sqlite3_finalize(statement);
}

bool SqliteReader::prepare(const QString& sql)
{
    sqlite3_finalize(statement);
    statement = nullptr;
    shared.clear();
    db = openBook();
    if (!db) {
        lastError = QStringLiteral("no open book");
        return false;
    }
    const QByteArray utf8 = sql.toUtf8();
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &statement, &tail) != SQLITE_OK) {
        lastError = QString::fromUtf8(sqlite3_errmsg(db));
        statement = nullptr;
        return false;
    }
    // Like the Qt driver: one statement at a time, never a second one pasted behind the first.
    if (!statement || (tail && !QByteArray(tail).trimmed().isEmpty())) {
        lastError = statement ? QStringLiteral("unable to execute multiple statements at a time")
                              : QStringLiteral("no statement");
        sqlite3_finalize(statement);
        statement = nullptr;
        return false;
    }
    shared.resize(size_t(sqlite3_column_count(statement)));
    return true;
}

bool SqliteReader::bindText(int index, const QString& value)
{
    if (!statement)
        return false;
    const QByteArray utf8 = value.toUtf8();
    if (sqlite3_bind_text(statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT) == SQLITE_OK)
        return true;
    lastError = QString::fromUtf8(sqlite3_errmsg(db));
    return false;
}

bool SqliteReader::forEachRow(const QString& sql, const std::function<void(const SqliteRow&)>& row)
{
    sqlite3* book = openBook();
    if (book && book != registeredOn && registerEachRow(book))
        registeredOn = book;
    if (!prepare(sql)) {
        // A connection opened where an earlier one was does not have the aggregate yet.
        if (!book || !lastError.contains(QLatin1String(eachRowFunction)) || !registerEachRow(book))
            return false;
        registeredOn = book;
        lastError.clear();
        if (!prepare(sql))
            return false;
    }
    const auto* outer = eachRowCallback;
    eachRowCallback = &row;
    while (next()) { }
    eachRowCallback = outer;
    return lastError.isEmpty();
}

bool SqliteReader::next()
{
    if (!statement)
        return false;
    const int result = sqlite3_step(statement);
    if (result == SQLITE_ROW)
        return true;
    if (result != SQLITE_DONE)
        lastError = QString::fromUtf8(sqlite3_errmsg(db));
    return false;
}

QVariant SqliteReader::driverValue(int column) const
{
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_BLOB:
        return QByteArray(
            static_cast<const char*>(sqlite3_column_blob(statement, column)), sqlite3_column_bytes(statement, column));
    case SQLITE_INTEGER:
        return qlonglong(sqlite3_column_int64(statement, column));
    case SQLITE_FLOAT:
        return sqlite3_column_double(statement, column);
    case SQLITE_NULL:
        return QVariant(QMetaType::fromType<QString>());
    default:
        return text(column);
    }
}

QString SqliteReader::text(int column) const
{
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_NULL:
        return QString();
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
        return driverValue(column).toString();
    default: {
        // Text and blobs alike: the stored UTF-8 bytes.
        const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
        return QString::fromUtf8(data, sqlite3_column_bytes(statement, column));
    }
    }
}

QString SqliteReader::sharedText(int column)
{
    if (sqlite3_column_type(statement, column) != SQLITE_TEXT)
        return text(column);
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    const int size = sqlite3_column_bytes(statement, column);
    TextTable& known = shared[size_t(column)];
    const quint64 hash = hashBytes(data, size);
    if (const QString* found = known.find(data, size, hash))
        return *found;
    const QString value = QString::fromUtf8(data, size);
    if (known.size() < sharedPerColumn)
        known.insert(data, size, hash, value);
    return value;
}

void SqliteReader::readText(int column, QString* field)
{
    if (sqlite3_column_type(statement, column) == SQLITE_TEXT && !field->isNull()) {
        // Plain ASCII text is one byte per character in both forms: compared in place.
        const auto* data = reinterpret_cast<const unsigned char*>(sqlite3_column_text(statement, column));
        const int size = sqlite3_column_bytes(statement, column);
        if (size == field->size()) {
            const QChar* chars = field->constData();
            int i = 0;
            while (i < size && data[i] < 0x80 && chars[i].unicode() == data[i])
                ++i;
            if (i == size)
                return;
        }
    }
    *field = sharedText(column);
}

const QString* SqliteReader::TextTable::find(const char* data, int size, quint64 hash) const
{
    if (entries.empty())
        return nullptr;
    const size_t mask = entries.size() - 1;
    for (size_t i = size_t(hash) & mask;; i = (i + 1) & mask) {
        const Entry& entry = entries[i];
        if (!entry.used)
            return nullptr;
        if (entry.hash == hash && entry.bytes.size() == size
            && std::memcmp(entry.bytes.constData(), data, size_t(size)) == 0)
            return &entry.value;
    }
}

void SqliteReader::TextTable::insert(const char* data, int size, quint64 hash, const QString& value)
{
    // Kept at most half full, so that a probe ends soon.
    if (size_t(count + 1) * 2 > entries.size()) {
        std::vector<Entry> old(std::max<size_t>(64, entries.size() * 2));
        old.swap(entries);
        count = 0;
        for (Entry& entry : old) {
            if (entry.used)
                insert(entry.bytes.constData(), int(entry.bytes.size()), entry.hash, entry.value);
        }
    }
    const size_t mask = entries.size() - 1;
    size_t i = size_t(hash) & mask;
    while (entries[i].used)
        i = (i + 1) & mask;
    entries[i] = { hash, QByteArray(data, size), value, true };
    ++count;
}

QByteArray SqliteReader::utf8Key(int column) const
{
    if (sqlite3_column_type(statement, column) != SQLITE_TEXT)
        return text(column).toUtf8();
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return QByteArray::fromRawData(data, sqlite3_column_bytes(statement, column));
}

double SqliteReader::toDouble(int column) const
{
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_FLOAT:
        return sqlite3_column_double(statement, column);
    case SQLITE_INTEGER:
        return double(sqlite3_column_int64(statement, column));
    case SQLITE_NULL:
        return 0;
    default:
        return driverValue(column).toDouble();
    }
}

int SqliteReader::toInt(int column) const
{
    if (sqlite3_column_type(statement, column) == SQLITE_INTEGER) {
        const sqlite3_int64 value = sqlite3_column_int64(statement, column);
        if (value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max())
            return int(value);
    }
    return driverValue(column).toInt();
}

QDate SqliteReader::toDate(int column) const
{
    if (sqlite3_column_type(statement, column) == SQLITE_TEXT && sqlite3_column_bytes(statement, column) == 10) {
        // The form every writer stores, "yyyy-MM-dd", read without building a string.
        const auto* d = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
        if (isDigit(d[0]) && isDigit(d[1]) && isDigit(d[2]) && isDigit(d[3]) && d[4] == '-' && isDigit(d[5])
            && isDigit(d[6]) && d[7] == '-' && isDigit(d[8]) && isDigit(d[9]))
            return QDate(number(d, 4), number(d + 5, 2), number(d + 8, 2));
    }
    return driverValue(column).toDate();
}

qint64 SqliteReader::toInt64(int column) const
{
    return sqlite3_column_int64(statement, column);
}

double SqliteReader::real(int column) const
{
    return sqlite3_column_double(statement, column);
}

const char* SqliteReader::textBytes(int column, int* size) const
{
    // The pointer first, then the size: the size of the converted value is wanted.
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    *size = sqlite3_column_bytes(statement, column);
    return data;
}

SqliteReader::Cell SqliteReader::cell(int column) const
{
    Cell cell;
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
        cell.type = Type::Integer;
        cell.integer = sqlite3_column_int64(statement, column);
        break;
    case SQLITE_FLOAT:
        cell.type = Type::Float;
        cell.real = sqlite3_column_double(statement, column);
        break;
    case SQLITE_TEXT:
        cell.type = Type::Text;
        cell.data = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
        cell.size = sqlite3_column_bytes(statement, column);
        break;
    case SQLITE_BLOB:
        cell.type = Type::Blob;
        cell.data = static_cast<const char*>(sqlite3_column_blob(statement, column));
        cell.size = sqlite3_column_bytes(statement, column);
        break;
    default:
        break;
    }
    return cell;
}

qint64 SqliteRow::toInt64(int column) const
{
    return column < count ? sqlite3_value_int64(values[column]) : 0;
}

double SqliteRow::real(int column) const
{
    return column < count ? sqlite3_value_double(values[column]) : 0;
}

const char* SqliteRow::textBytes(int column, int* size) const
{
    if (column >= count) {
        *size = 0;
        return nullptr;
    }
    const auto* data = reinterpret_cast<const char*>(sqlite3_value_text(values[column]));
    *size = sqlite3_value_bytes(values[column]);
    return data;
}

SqliteReader::Cell SqliteRow::cell(int column) const
{
    SqliteReader::Cell cell;
    if (column >= count)
        return cell;
    sqlite3_value* value = values[column];
    switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
        cell.type = SqliteReader::Type::Integer;
        cell.integer = sqlite3_value_int64(value);
        break;
    case SQLITE_FLOAT:
        cell.type = SqliteReader::Type::Float;
        cell.real = sqlite3_value_double(value);
        break;
    case SQLITE_TEXT:
        cell.type = SqliteReader::Type::Text;
        cell.data = reinterpret_cast<const char*>(sqlite3_value_text(value));
        cell.size = sqlite3_value_bytes(value);
        break;
    case SQLITE_BLOB:
        cell.type = SqliteReader::Type::Blob;
        cell.data = static_cast<const char*>(sqlite3_value_blob(value));
        cell.size = sqlite3_value_bytes(value);
        break;
    default:
        break;
    }
    return cell;
}
