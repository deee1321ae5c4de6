#include "bookfiles.h"

#include <QFile>
#include <QSqlDatabase>

#include "data/dbhelper.h"
#include "data/sqlhelper.h"

bool BookFiles::create(const QString& path, QString* error)
{
    const QString partial = path + QStringLiteral(".creating");
    for (const QString& leftover : { partial, partial + QStringLiteral("-journal"), path + QStringLiteral("-journal") })
        QFile::remove(leftover);
    if (!QFile::copy(QStringLiteral(":/rc/data/init.db"), partial)) {
        *error = QStringLiteral("cannot write %1").arg(partial);
        return false;
    }
    QFile::setPermissions(partial, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    // The default records go in on a connection of their own; the file is a book only with them.
    if (!DBHelper::getInstance()->initDefaultData(partial) || !QFile::rename(partial, path)) {
        QFile::remove(partial);
        *error = QStringLiteral("cannot create the book %1").arg(path);
        return false;
    }
    return true;
}

std::unique_ptr<QLockFile> BookFiles::lock(const QString& path)
{
    auto lock = std::make_unique<QLockFile>(path + QStringLiteral(".lock"));
    // A lock left by a program that died is taken over.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0))
        return nullptr;
    return lock;
}
