#include "import/csvreader.h"

#include <QHash>

#include <csv.h>

namespace {

struct Collector {
    QList<CsvRecord> records;
    QStringList fields;
    int rowStart = 0;
    int maxRecords = -1;
};

void onField(void* data, size_t size, void* target)
{
    auto* collector = static_cast<Collector*>(target);
    collector->fields.append(QString::fromUtf8(static_cast<const char*>(data), qsizetype(size)));
}

void onRecordEnd(int, void* target)
{
    auto* collector = static_cast<Collector*>(target);
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

QList<CsvRecord> CsvReader::read(const QString& text, char delimiter, int maxRecords)
{
    return read(text.toUtf8(), delimiter, maxRecords);
}

QList<CsvRecord> CsvReader::read(const QByteArray& bytes, char delimiter, int maxRecords)
{
    csv_parser parser;
    csv_init(&parser, 0);
    csv_set_delim(&parser, static_cast<unsigned char>(delimiter));
    csv_set_space_func(&parser, isBlank);
    Collector collector;
    collector.maxRecords = maxRecords;

    qsizetype start = 0;
    int line = 1;
    while (start < bytes.size()) {
        if (maxRecords >= 0 && collector.records.size() >= maxRecords)
            break;
        qsizetype end = bytes.indexOf('\n', start);
        end = end < 0 ? bytes.size() : end + 1;
        if (parser.pstate == RowNotBegun)
            collector.rowStart = line;
        csv_parse(&parser, bytes.constData() + start, size_t(end - start), onField, onRecordEnd, &collector);
        start = end;
        ++line;
    }
    csv_fini(&parser, onField, onRecordEnd, &collector);
    csv_free(&parser);
    return collector.records;
}
