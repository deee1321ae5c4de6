#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// One record of a CSV file: its fields and the line of the file it starts on (from 1).
struct CsvRecord {
    int line = 0;
    QStringList fields;
};

// Reads CSV text as RFC 4180 describes it (quoted fields with doubled quotes, delimiters and line
// breaks inside), through libcsv. Lines that hold nothing are passed over; spaces around an
// unquoted field are dropped.
class CsvReader {
public:
    // The delimiters a file may use: comma, semicolon, tab.
    static QList<char> delimiters();
    // The delimiter that splits the first records of text most evenly into more than one field;
    // a comma when none does.
    static char detectDelimiter(const QString& text);
    // No statement has rows this wide or fields this long; a file that has them is refused before
    // it takes the machine's memory.
    static constexpr int MaxColumns = 500;
    static constexpr int MaxFieldBytes = 16 * 1024;

    // Every record of text; at most maxRecords when it is not negative. Nothing, with the reason in
    // *error, when a record is wider or a field longer than the limits.
    static QList<CsvRecord> read(const QString& text, char delimiter, int maxRecords = -1, QString* error = nullptr);
    // The same from UTF-8 bytes.
    static QList<CsvRecord> read(const QByteArray& utf8, char delimiter, int maxRecords = -1, QString* error = nullptr);
};
