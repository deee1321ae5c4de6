#include "data/booklist.h"

#include <QDir>

QStringList BookList::files(const QString& dir)
{
    return QDir(dir).entryList({ QStringLiteral("*.db") }, QDir::Files, QDir::Time);
}

QString BookList::displayName(const QString& fileName)
{
    return fileName.chopped(qMin<qsizetype>(3, fileName.size()));
}
