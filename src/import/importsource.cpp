#include "import/importsource.h"

#include <QFile>
#include <QFileInfo>
#include <QObject>

#include "import/importpreset.h"
#include "import/qifreader.h"
#include "import/textdecoder.h"
#include "import/valueparser.h"

bool ImportSource::load(const QString& filePath, QString* error)
{
    path = filePath;
    bytes.clear();
    decodedWith.clear();
    text.clear();
    csvRecords.clear();
    splitWith = 0;
    const QFileInfo info(filePath);
    if (!info.isFile()) {
        *error = QObject::tr("找不到文件 %1。").arg(filePath);
        return false;
    }
    if (info.size() > MaxFileSize) {
        *error = QObject::tr("文件太大（%1 MB），最多可以导入 %2 MB 的文件。")
                     .arg(info.size() / (1024 * 1024))
                     .arg(MaxFileSize / (1024 * 1024));
        return false;
    }
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QObject::tr("无法读取文件 %1：%2").arg(filePath, file.errorString());
        return false;
    }
    // Read into a buffer of the file's size (readAll would grow one by half again), and one byte
    // more to see whether the file grew meanwhile.
    bytes = QByteArray(info.size(), Qt::Uninitialized);
    const qint64 got = file.read(bytes.data(), info.size());
    char more = 0;
    const bool grew = got == info.size() && file.read(&more, 1) > 0;
    if (got < 0 || file.error() != QFileDevice::NoError) {
        bytes.clear();
        *error = QObject::tr("无法读取文件 %1：%2").arg(filePath, file.errorString());
        return false;
    }
    // A file written to while it is read gives part of one state and part of another (a row cut
    // short reads as another amount): only a file that stayed as it was is imported.
    const QFileInfo after(filePath);
    if (got != info.size() || grew || after.size() != info.size() || after.lastModified() != info.lastModified()) {
        bytes.clear();
        *error = QObject::tr("文件 %1 在读取时发生了变化，没有导入。请等它写完后再导入。").arg(filePath);
        return false;
    }
    return true;
}

bool ImportSource::looksLikeHeader(const QStringList& fields)
{
    // A data row has a date or an amount somewhere; a header row has neither.
    for (const QString& field : fields) {
        double amount = 0;
        if (ValueParser::dateShape(field).readable || ValueParser::parseAmount(field, &amount))
            return false;
    }
    return true;
}

bool ImportSource::parse(const Settings& settings, QString* error)
{
    readRecords.clear();
    wholeRead = false;
    samples.clear();
    kinds.clear();
    pairs = 0;
    readNotes.clear();
    roles.clear();
    preset.clear();
    headings.clear();

    if (text.isNull() || decodedWith != settings.encoding) {
        const TextDecoder::Result decoded = TextDecoder::decode(bytes, settings.encoding);
        if (!decoded.ok) {
            text.clear();
            *error = decoded.error;
            return false;
        }
        text = decoded.text;
        decodedWith = settings.encoding;
        usedEncoding = decoded.encoding;
        csvRecords.clear();
        splitWith = 0;
    }

    qif = QifReader::looksLikeQif(text);
    if (qif) {
        QifReader::Result read = QifReader::read(text, settings.defaultAccount, settings.dateOrder);
        readRecords = std::move(read.records);
        kinds = std::move(read.accountKinds);
        pairs = read.pairedTransfers;
        readNotes = std::move(read.notes);
        // The records hold what the bills need: the decoded text (twice the file's size) is
        // decoded again from the bytes only should the file be read once more.
        text = QString();
        if (readRecords.isEmpty()) {
            *error = QObject::tr("文件里没有可以导入的账目。");
            return false;
        }
        return true;
    }

    usedDelimiter = settings.delimiter ? settings.delimiter : CsvReader::detectDelimiter(text);
    if (splitWith != usedDelimiter || (!csvComplete && settings.maxRecords < 0)) {
        // A UTF-8 file is read as it lies, without turning its text back into bytes.
        const int limit = settings.maxRecords < 0 ? -1 : settings.maxRecords + 1;
        QString refused;
        csvRecords = usedEncoding == QLatin1String("UTF-8")
            ? CsvReader::read(bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes, usedDelimiter, limit, &refused)
            : CsvReader::read(text.toUtf8(), usedDelimiter, limit, &refused);
        if (!refused.isEmpty()) {
            splitWith = 0;
            *error = refused;
            return false;
        }
        splitWith = usedDelimiter;
        csvComplete = limit < 0 || csvRecords.size() < limit;
    }
    if (csvRecords.isEmpty()) {
        *error = QObject::tr("文件里没有可以导入的账目。");
        return false;
    }
    headerRow = settings.header < 0 ? looksLikeHeader(csvRecords.constFirst().fields) : settings.header == 1;
    int width = 0;
    for (const CsvRecord& record : std::as_const(csvRecords).mid(0, 100))
        width = std::max(width, int(record.fields.size()));
    if (headerRow) {
        headings = csvRecords.constFirst().fields;
        width = int(headings.size());
    } else {
        for (int i = 0; i < width; ++i)
            headings << QObject::tr("列%1").arg(i + 1);
    }
    samples = csvRecords.mid(headerRow ? 1 : 0, 100);

    if (!settings.columns.isEmpty()) {
        roles = settings.columns;
    } else if (headerRow) {
        const ImportPreset* chosen = ImportPreset::find(settings.preset);
        int matched = 0;
        if (chosen)
            roles = chosen->rolesFor(headings, &matched);
        if (matched > 0)
            preset = chosen->key;
        else
            roles = ImportPreset::guess(headings, &preset);
    }
    while (roles.size() < width)
        roles.append(ColumnRole::Skip);

    auto columns = std::make_shared<ImportRecord::Columns>();
    columns->fill(-1);
    for (int column = 0; column < roles.size(); ++column) {
        if (roles.at(column) != ColumnRole::Skip)
            (*columns)[size_t(roles.at(column))] = column;
    }
    const qsizetype end = settings.maxRecords < 0
        ? csvRecords.size()
        : std::min<qsizetype>(csvRecords.size(), settings.maxRecords + (headerRow ? 1 : 0));
    readRecords.reserve(end);
    for (qsizetype i = headerRow ? 1 : 0; i < end; ++i) {
        const CsvRecord& csv = csvRecords.at(i);
        ImportRecord record;
        record.line = csv.line;
        if (csv.fields.size() < width)
            record.problem = QObject::tr("只有 %1 个字段，应有 %2 个").arg(csv.fields.size()).arg(width);
        else
            record.fields = csv.fields;
        record.columns = columns;
        readRecords.append(std::move(record));
    }
    if (readRecords.isEmpty()) {
        *error = QObject::tr("文件里只有标题行，没有可以导入的账目。");
        return false;
    }
    // The records split earlier may be the whole file while this parse was asked for its first ones.
    wholeRead = csvComplete && end == csvRecords.size();
    return true;
}
