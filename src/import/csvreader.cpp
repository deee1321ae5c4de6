#include "import/csvreader.h"

#include <cstdlib>

#include <QHash>
#include <QObject>

#include <csv.h>

namespace {

struct Collector {
    QList<CsvRecord> records;
    QStringList fields;
    int rowStart = 0;
    int maxRecords = -1;
    // Why the file is no statement (a record too wide, a field too long); the rest is passed over.
    QString error;
};

QString fieldTooLong(int line)
{
    return QObject::tr("第 %1 行有一个超过 %2 KB 的字段，这不是账目文件。")
        .arg(line)
        .arg(CsvReader::MaxFieldBytes / 1024);
}

// libcsv gathers a field in a buffer that it grows a little at a time: a field longer than any
// statement's is refused as it grows, not gathered whole (megabytes copied over and over) and
// refused at its end.
void* growField(void* buffer, size_t size)
{
    if (size > size_t(CsvReader::MaxFieldBytes) + 1024)
        return nullptr;
    return std::realloc(buffer, size);
}

void onField(void* data, size_t size, void* target)
{
    auto* collector = static_cast<Collector*>(target);
    if (!collector->error.isEmpty())
        return;
    if (collector->fields.size() >= CsvReader::MaxColumns) {
        collector->error
            = QObject::tr("第 %1 行有超过 %2 列，这不是账目文件。").arg(collector->rowStart).arg(CsvReader::MaxColumns);
        return;
    }
    if (size > size_t(CsvReader::MaxFieldBytes)) {
        collector->error = fieldTooLong(collector->rowStart);
        return;
    }
    collector->fields.append(QString::fromUtf8(static_cast<const char*>(data), qsizetype(size)));
}

void onRecordEnd(int, void* target)
{
    auto* collector = static_cast<Collector*>(target);
    if (!collector->error.isEmpty())
        return;
    QStringList fields;
    fields.swap(collector->fields);
    collector->fields.reserve(fields.size());
    // A line of blanks or bare delimiters is no record.
    const bool blank
        = std::all_of(fields.cbegin(), fields.cend(), [](const QString& field) { return field.isEmpty(); });
    if (blank)
        return;
    if (collector->maxRecords >= 0 && collector->records.size() >= collector->maxRecords)
        return;
    collector->records.append(CsvRecord { collector->rowStart, std::move(fields) });
}

// Only the blank separates fields by being around them: a tab is a delimiter, and a tab of a
// tab-separated file must not vanish as space.
int isBlank(unsigned char c)
{
    return c == ' ' ? 1 : 0;
}

// libcsv's state between two records.
constexpr int RowNotBegun = 0;

} // namespace

QList<char> CsvReader::delimiters()
{
    return { ',', ';', '\t' };
}

char CsvReader::detectDelimiter(const QString& text)
{
    // The first lines are enough to see how the file is split.
    const QString head = text.left(64 * 1024);
    char best = ',';
    int bestScore = 0;
    for (char delimiter : delimiters()) {
        const QList<CsvRecord> records = read(head, delimiter, 50);
        QHash<int, int> widths;
        for (const CsvRecord& record : records)
            ++widths[int(record.fields.size())];
        // The score: how many records share the most common width, when that width splits them.
        int score = 0;
        for (auto width = widths.cbegin(); width != widths.cend(); ++width) {
            if (width.key() > 1)
                score = std::max(score, width.value() * 1000 + width.key());
        }
        if (score > bestScore) {
            bestScore = score;
            best = delimiter;
        }
    }
    return best;
}

QList<CsvRecord> CsvReader::read(const QString& text, char delimiter, int maxRecords, QString* error)
{
    return read(text.toUtf8(), delimiter, maxRecords, error);
}

QList<CsvRecord> CsvReader::read(const QByteArray& bytes, char delimiter, int maxRecords, QString* error)
{
    csv_parser parser;
    csv_init(&parser, 0);
    csv_set_delim(&parser, static_cast<unsigned char>(delimiter));
    csv_set_space_func(&parser, isBlank);
    csv_set_realloc_func(&parser, growField);
    Collector collector;
    collector.maxRecords = maxRecords;

    qsizetype start = 0;
    int line = 1;
    while (start < bytes.size() && collector.error.isEmpty()) {
        if (maxRecords >= 0 && collector.records.size() >= maxRecords)
            break;
        qsizetype end = bytes.indexOf('\n', start);
        end = end < 0 ? bytes.size() : end + 1;
        if (parser.pstate == RowNotBegun)
            collector.rowStart = line;
        // A long line is fed in pieces, so that a file that is no statement is given up early.
        for (qsizetype piece = start; piece < end && collector.error.isEmpty(); piece += 64 * 1024) {
            const qsizetype length = std::min<qsizetype>(64 * 1024, end - piece);
            const size_t parsed
                = csv_parse(&parser, bytes.constData() + piece, size_t(length), onField, onRecordEnd, &collector);
            if (parsed < size_t(length) && collector.error.isEmpty())
                collector.error = fieldTooLong(collector.rowStart);
        }
        start = end;
        ++line;
    }
    if (collector.error.isEmpty())
        csv_fini(&parser, onField, onRecordEnd, &collector);
    csv_free(&parser);
    if (!collector.error.isEmpty()) {
        if (error)
            *error = collector.error;
        return {};
    }
    return collector.records;
}
