#include "exportedtable.h"

#include <QFile>
#include <QXmlStreamReader>

QList<QStringList> exportedTable(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return {};
    }
    QXmlStreamReader xml(&file);
    QList<QStringList> rows;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("tr"))
            rows.append(QStringList());
        else if (xml.isStartElement() && xml.name() == QLatin1String("td") && !rows.isEmpty())
            rows.last().append(xml.readElementText());
    }
    if (xml.hasError() && error)
        *error = xml.errorString();
    return rows;
}
