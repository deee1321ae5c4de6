#pragma once

#include <QByteArray>
#include <QStringList>

// Writes CSV records as RFC 4180 describes them, through libcsv: every field quoted, quotes inside
// doubled, records ended by CR LF.
class CsvWriter {
public:
    // One record, UTF-8.
    static QByteArray record(const QStringList& fields, char delimiter = ',');
};
