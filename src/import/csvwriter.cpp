#include "import/csvwriter.h"

#include <csv.h>

QByteArray CsvWriter::record(const QStringList& fields, char delimiter)
{
    QByteArray line;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += delimiter;
        const QByteArray field = fields.at(i).toUtf8();
        // Quoted, a field needs at most twice its bytes and the two quotes.
        QByteArray quoted(field.size() * 2 + 2, Qt::Uninitialized);
        const size_t written = csv_write(quoted.data(), size_t(quoted.size()), field.constData(), size_t(field.size()));
        quoted.truncate(qsizetype(written));
        line += quoted;
    }
    line += "\r\n";
    return line;
}
