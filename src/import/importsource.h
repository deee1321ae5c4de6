#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include "import/columnrole.h"
#include "import/csvreader.h"
#include "import/importrecord.h"
#include "import/valueparser.h"

// A statement file read into records: its bytes decoded, a CSV file split into fields with its
// header row found and its columns given roles (by the user, a preset or the headings), a QIF file
// read by its sections.
class ImportSource {
public:
    // Larger files are refused before they are read: a statement of 100,000 rows is some 10 MB.
    static constexpr qint64 MaxFileSize = 100 * 1024 * 1024;

    // How to read the file; every empty or negative setting is found from the file.
    struct Settings {
        QString encoding;
        char delimiter = 0;
        // -1 found from the first record, 0 no header row, 1 a header row.
        int header = -1;
        // The role of each column; empty: from the headings (with preset's first when set).
        QList<ColumnRole::Role> columns;
        QString preset;
        // The account of the QIF sections that name none.
        QString defaultAccount;
        // The order of day and month that pairs the halves of a QIF file's transfers (Unknown: as
        // the file's dates show).
        ValueParser::DateOrder dateOrder = ValueParser::DateOrder::Unknown;
        // Reads only the first records of a CSV file when not negative: enough for a first look.
        int maxRecords = -1;
    };

    // Reads the file's bytes. False with the reason for the user when it cannot be read or is too large.
    bool load(const QString& path, QString* error);
    // Splits the loaded bytes into records as settings say. False with the reason when they hold
    // no text or no record.
    bool parse(const Settings& settings, QString* error);

    QString fileName() const { return path; }
    bool isQif() const { return qif; }
    QString encoding() const { return usedEncoding; }
    char delimiter() const { return usedDelimiter; }
    bool hasHeader() const { return headerRow; }
    // The header row's fields, or "列1", "列2"… for a file without one.
    QStringList header() const { return headings; }
    // The role of each column (CSV); the preset that gave them, empty when none did.
    QList<ColumnRole::Role> columns() const { return roles; }
    QString presetKey() const { return preset; }
    // The first records as the file has them, for showing the columns (CSV).
    QList<CsvRecord> sampleRecords() const { return samples; }
    QList<ImportRecord> records() const { return readRecords; }
    QHash<QString, QString> accountKinds() const { return kinds; }
    int pairedTransfers() const { return pairs; }
    // What the reading made of the file that the user should hear of, by line.
    QList<QPair<int, QString>> notes() const { return readNotes; }
    // False when the last parse gave only the first records of the file, whatever an earlier
    // parse had read of it.
    bool isComplete() const { return qif || wholeRead; }

private:
    static bool looksLikeHeader(const QStringList& fields);

    QString path;
    QByteArray bytes;
    QString decodedWith;
    QString text;
    char splitWith = 0;
    QList<CsvRecord> csvRecords;
    bool csvComplete = false;
    bool wholeRead = false;

    bool qif = false;
    QString usedEncoding;
    char usedDelimiter = ',';
    bool headerRow = false;
    QStringList headings;
    QList<ColumnRole::Role> roles;
    QString preset;
    QList<CsvRecord> samples;
    QList<ImportRecord> readRecords;
    QHash<QString, QString> kinds;
    int pairs = 0;
    QList<QPair<int, QString>> readNotes;
};
