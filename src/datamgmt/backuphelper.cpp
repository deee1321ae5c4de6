#include "datamgmt/backuphelper.h"

#include <QDateTime>
#include <cstdio>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>

#include "data/constants.h"
#include "data/sqlhelper.h"

namespace {

QString currentBookPath()
{
    Constants* constants = Constants::getInstance();
    return constants->getDbDir() + constants->getBookName();
}

} // namespace

BackupHelper::BackupHelper(QObject* parent)
    : QObject(parent)
{
}

QString BackupHelper::generateBackupFileName()
{
    const QString fileName = QFileInfo(currentBookPath()).fileName();
    const QString base = fileName.section(QLatin1Char('.'), 0, 0);
    return base + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmsszzz")) + QStringLiteral(".db");
}

bool BackupHelper::backup(const QString& backupFileName)
{
    const QString name = backupFileName.isEmpty() ? generateBackupFileName() : backupFileName;
    const QString target = Constants::getInstance()->getBackupDir() + name;
    // QFile::copy never replaces an existing file.
    if (!QFile::copy(currentBookPath(), target))
        return false;
    QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return true;
}

bool BackupHelper::isBook(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return false;
    const QString bookTables = QStringLiteral("select count(*) from sqlite_master where type='table' and "
                                              "name in ('tbl_setting','tbl_bill','tbl_account','tbl_category')");
    return withBookConnection(path, QStringLiteral("backup-check"), BookAccess::ReadOnly,
        [&bookTables](QSqlDatabase& db) { return sqlValue(db, bookTables, {}, 0).toInt() == 4; });
}

bool BackupHelper::restore(const QString& file)
{
    const QString book = currentBookPath();
    // Only a book replaces a book, and the book cannot be restored from itself.
    if (!isBook(file) || QFileInfo(file).canonicalFilePath() == QFileInfo(book).canonicalFilePath())
        return false;
    if (!backup(generateBackupFileName()))
        return false;

    // Copy beside the book first, so that the book is replaced only by a complete copy.
    const QString incoming = book + QStringLiteral(".restoring");
    QFile::remove(incoming);
    if (!QFile::copy(file, incoming)) {
        QFile::remove(incoming);
        return false;
    }
    QFile::setPermissions(incoming, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    // Never synchronised: the next synchronisation sends everything the restored book holds.
    withBookConnection(incoming, QStringLiteral("restored"), BookAccess::ReadWrite, [](QSqlDatabase& db) {
        return execWrite(db, QStringLiteral("update tbl_setting set sync_time='2008-08-08 08:08:08';"), {});
    });
    // One rename replaces the book, so there is never a moment without a book file.
    if (std::rename(QFile::encodeName(incoming).constData(), QFile::encodeName(book).constData()) != 0) {
        QFile::remove(incoming);
        return false;
    }
    return true;
}

bool BackupHelper::kobel(const QString&)
{
    // Importing the other program's data file is not available yet: nothing is replaced.
    return false;
}
