#include "data/booklist.h"

#include <QDir>

QStringList BookList::files(const QString& dir)
{
    // Exactly ".db": Qt's name filters ignore case unless told otherwise, and "Trip.DB" would be
    // listed and then opened, renamed or deleted as "Trip.db".
    return QDir(dir).entryList({ QStringLiteral("*.db") }, QDir::Files | QDir::CaseSensitive, QDir::Time);
}

QString BookList::displayName(const QString& fileName)
{
    return fileName.chopped(qMin<qsizetype>(3, fileName.size()));
}

QString BookList::caseTwin(const QString& dir, const QString& fileName, const QString& except)
{
    for (const QString& file : files(dir)) {
        if (file != fileName && file != except && file.compare(fileName, Qt::CaseInsensitive) == 0)
            return file;
    }
    return QString();
}
