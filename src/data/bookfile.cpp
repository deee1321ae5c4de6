#include "data/bookfile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <QStorageInfo>

#include <sqlite3.h>

#include "data/booklock.h"
#include "data/dbhelper.h"
#include "data/logging.h"
#include "data/scopedumask.h"
#include "data/sqlhelper.h"

namespace {

const QFileDevice::Permissions OwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
const char* const TemplateBook = ":/rc/data/init.db";
// Room beyond the bytes of a file that a folder must have for its writing not to count as a full disk.
const qint64 DiskMargin = 64 * 1024;

QString text(const char* source)
{
    return QCoreApplication::translate("BookFile", source);
}

bool fail(QString* error, const QString& reason)
{
    if (error)
        *error = reason;
    qCWarning(lcSql) << "BookFile:" << reason;
    return false;
}

QString bookName(const QString& path)
{
    QString name = QFileInfo(path).fileName();
    if (name.endsWith(QLatin1String(".db")))
        name.chop(3);
    return name;
}

bool canWriteIn(const QString& folder)
{
    return ::faccessat(AT_FDCWD, QFile::encodeName(folder).constData(), W_OK | X_OK, AT_EACCESS) == 0;
}

// Why a file of about needed bytes could not be written in folder, as the user is told it; otherwise
// (with room and rights enough) what happened, in the caller's words.
QString writeFailure(const QString& folder, qint64 needed, const QString& otherwise)
{
    const QString shown = QDir::toNativeSeparators(folder);
    if (!QFileInfo(folder).isDir())
        return text("文件夹“%1”不存在。").arg(shown);
    const QStorageInfo storage(folder);
    if (storage.isValid() && storage.bytesAvailable() >= 0 && storage.bytesAvailable() < needed + DiskMargin)
        return text("磁盘空间不足：文件夹“%1”所在的磁盘已经写满，请先腾出空间。").arg(shown);
    if (!canWriteIn(folder))
        return text("文件夹“%1”不允许写入。").arg(shown);
    return otherwise;
}

// A write that failed for another reason (detail: the system's words).
QString cannotWrite(const QString& folder, qint64 needed, const QString& detail)
{
    return writeFailure(folder, needed, text("无法写入文件夹“%1”：%2").arg(QDir::toNativeSeparators(folder), detail));
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

QString lockFailure(BookLock::Status status, const QString& path)
{
    if (status == BookLock::HeldElsewhere)
        return BookLock::heldText(QFileInfo(path).fileName());
    return cannotWrite(QFileInfo(path).absolutePath(), 0, text("无法建立锁文件"));
}

QString unsettledText(const QString& path)
{
    return text("账本“%1”有一次没有完成的写入，无法恢复。").arg(bookName(path));
}

// A rename that never replaces an existing file. Where the file system cannot be asked for that, a
// hard link does the same (it fails on an existing name too).
bool renameNoReplace(const QString& from, const QString& to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    if (::link(source.constData(), target.constData()) != 0)
        return false;
    ::unlink(source.constData());
    return true;
}

// Copies a book in WAL mode through SQLite's online backup into target (a new file), which then
// keeps its journal the ordinary way. Only reads source.
bool onlineCopy(const QString& source, const QString& target, QString* detail)
{
    sqlite3* from = nullptr;
    sqlite3* to = nullptr;
    bool ok = sqlite3_open_v2(QFile::encodeName(source).constData(), &from, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK
        && sqlite3_open_v2(
               QFile::encodeName(target).constData(), &to, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr)
            == SQLITE_OK;
    if (ok) {
        sqlite3_busy_timeout(from, 5000);
        sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main");
        ok = backup && sqlite3_backup_step(backup, -1) == SQLITE_DONE;
        ok = sqlite3_backup_finish(backup) == SQLITE_OK && ok;
        ok = ok && sqlite3_exec(to, "pragma journal_mode=delete", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    if (!ok)
        *detail = QString::fromUtf8(sqlite3_errmsg(to ? to : from));
    sqlite3_close(from);
    sqlite3_close(to);
    return ok;
}

// The name under which replaceKeeping swaps a staged book with the one it replaces.
QString outgoingName(const QString& target)
{
    return target + QStringLiteral(".replacing");
}

bool sameDisk(const QString& a, const QString& b)
{
    struct stat first {};
    struct stat second {};
    return ::stat(QFile::encodeName(a).constData(), &first) == 0
        && ::stat(QFile::encodeName(b).constData(), &second) == 0 && first.st_dev == second.st_dev;
}

// Puts staged at target and the book that stood there at kept with renames alone; false, with
// everything where it was, where that cannot be done.
bool swapOut(const QString& staged, const QString& target, const QString& kept)
{
    const QString keptFolder = QFileInfo(kept).absolutePath();
    const QString outgoing = outgoingName(target);
    if (QFileInfo::exists(outgoing) || !canWriteIn(keptFolder) || !sameDisk(QFileInfo(target).absolutePath(), keptFolder))
        return false;
    const QByteArray outgoingPath = QFile::encodeName(outgoing);
    const QByteArray targetPath = QFile::encodeName(target);
    // From here until the old book is at kept, outgoing always holds a whole book that no other
    // name holds: the staged one, then the old one.
    if (!renameNoReplace(staged, outgoing))
        return false;
    if (::renameat2(AT_FDCWD, outgoingPath.constData(), AT_FDCWD, targetPath.constData(), RENAME_EXCHANGE) == 0) {
        if (renameNoReplace(outgoing, kept)) {
            // The safety copy is the owner's and as new as the moment it was made, like a copy.
            QFile::setPermissions(kept, OwnerOnly);
            ::utimensat(AT_FDCWD, QFile::encodeName(kept).constData(), nullptr, 0);
            return true;
        }
        // The old book back in its place, whole as it was.
        if (::renameat2(AT_FDCWD, outgoingPath.constData(), AT_FDCWD, targetPath.constData(), RENAME_EXCHANGE) != 0) {
            qCWarning(lcSql) << "BookFile: the book replaced at" << target << "stays at" << outgoing;
            return true;
        }
    }
    if (!renameNoReplace(outgoing, staged))
        qCWarning(lcSql) << "BookFile: the staged book" << staged << "stays at" << outgoing;
    return false;
}

} // namespace

bool BookFile::create(const QString& path, QString* error, Contents contents)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (QFileInfo::exists(path))
        return fail(error, text("账本“%1”已经存在，请换一个名称。").arg(bookName(path)));
    BookLock lock(path);
    const BookLock::Status status = lock.lock();
    if (status != BookLock::Held)
        return fail(error, lockFailure(status, path));

    // A run that broke off left its half-made book, and perhaps its journal, which SQLite would
    // play back into this new one.
    const QString staged = path + QStringLiteral(".creating");
    QFile::remove(staged);
    removeLeftovers(staged);
    QFile templateBook { QLatin1String(TemplateBook) };
    if (!templateBook.copy(staged)) {
        QFile::remove(staged);
        return fail(error, cannotWrite(folder, templateBook.size(), templateBook.errorString()));
    }
    // A copy of a resource is read-only; the book belongs to its owner alone.
    QFile::setPermissions(staged, OwnerOnly);
    const auto abandon = [&staged, &error](const QString& reason) {
        QFile::remove(staged);
        removeLeftovers(staged);
        return fail(error, reason);
    };
    // Written on a connection of its own: the open book, its caches and its pages never see it.
    if (contents == Contents::DefaultRecords && !DBHelper::getInstance()->initDefaultData(staged)) {
        return abandon(
            writeFailure(folder, QFileInfo(staged).size(), text("无法写入新账本的默认数据，账本没有建立。")));
    }
    // A journal left by a book that once had this name would be played back into the new one.
    if (!removeLeftovers(path))
        return abandon(text("账本“%1”旁边留有无法删除的文件（%2），账本没有建立。")
                           .arg(bookName(path), leftovers(path).join(QStringLiteral("、"))));
    if (!renameNoReplace(staged, path)) {
        const QString reason = errno == EEXIST ? text("账本“%1”已经存在，请换一个名称。").arg(bookName(path))
                                               : cannotWrite(folder, 0, systemError());
        return abandon(reason);
    }
    return true;
}

bool BookFile::settle(const QString& path)
{
    if (!QFileInfo(path).isFile() || !finishInterruptedWrite(path))
        return false;
    if (!QFileInfo::exists(path + QStringLiteral("-wal")))
        return true;
    // Every committed write of the log into the book, the log emptied; the last connection to close
    // then removes it.
    return withBookConnection(path, QStringLiteral("settle"), BookAccess::ReadWrite, [](QSqlDatabase& db) {
        QSqlQuery query(db);
        return query.exec(QStringLiteral("pragma wal_checkpoint(TRUNCATE)")) && query.next()
            && query.value(0).toInt() == 0;
    });
}

bool BookFile::copy(const QString& source, const QString& target, QString* error)
{
    const QString folder = QFileInfo(target).absolutePath();
    if (QFileInfo::exists(target))
        return fail(error, text("文件“%1”已经存在。").arg(QDir::toNativeSeparators(target)));
    if (!QFileInfo(source).isFile())
        return fail(error, text("账本文件“%1”不存在。").arg(QDir::toNativeSeparators(source)));
    // A copy of the file as it lies would keep the half of a write that a crash cut off.
    if (!finishInterruptedWrite(source))
        return fail(error, unsettledText(source));

    if (!QFileInfo::exists(source + QStringLiteral("-wal"))) {
        QFile file(source);
        if (!file.copy(target)) {
            QFile::remove(target);
            return fail(error, cannotWrite(folder, file.size(), file.errorString()));
        }
        QFile::setPermissions(target, OwnerOnly);
        return true;
    }

    const QString partial = target + QStringLiteral(".partial");
    QFile::remove(partial);
    removeLeftovers(partial);
    QString detail;
    bool ok = false;
    {
        // The copy, its journal included, is the owner's from the start.
        const ScopedUmask ownerOnly(077);
        ok = onlineCopy(source, partial, &detail);
    }
    ok = ok && renameNoReplace(partial, target);
    if (!ok) {
        QFile::remove(partial);
        removeLeftovers(partial);
        return fail(error, cannotWrite(folder, QFileInfo(source).size(), detail));
    }
    QFile::setPermissions(target, OwnerOnly);
    return true;
}

bool BookFile::move(const QString& from, const QString& to, QString* error)
{
    if (!QFileInfo(from).isFile())
        return fail(error, text("账本文件“%1”不存在。").arg(QDir::toNativeSeparators(from)));
    if (QFileInfo::exists(to))
        return fail(error, text("“%1”已经存在。").arg(QDir::toNativeSeparators(to)));
    BookLock fromLock(from);
    BookLock toLock(to);
    for (auto [lock, path] : { std::pair { &fromLock, from }, std::pair { &toLock, to } }) {
        const BookLock::Status status = lock->lock();
        if (status != BookLock::Held)
            return fail(error, lockFailure(status, path));
    }
    if (!settle(from))
        return fail(error, unsettledText(from));
    // What the settled book still has beside it holds nothing of it; what lies beside the new name
    // belongs to no book.
    if (!removeLeftovers(from) || !removeLeftovers(to))
        return fail(error,
            text("账本旁边留有无法删除的文件（%1）。")
                .arg((leftovers(from) + leftovers(to)).join(QStringLiteral("、"))));
    if (!renameNoReplace(from, to)) {
        const QString folder = QFileInfo(to).absolutePath();
        return fail(error,
            errno == EEXIST ? text("“%1”已经存在。").arg(QDir::toNativeSeparators(to))
                            : cannotWrite(folder, 0, systemError()));
    }
    return true;
}

bool BookFile::replace(const QString& staged, const QString& target, QString* error)
{
    if (!removeLeftovers(target))
        return fail(
            error, text("账本旁边留有无法删除的文件（%1）。").arg(leftovers(target).join(QStringLiteral("、"))));
    if (std::rename(QFile::encodeName(staged).constData(), QFile::encodeName(target).constData()) != 0)
        return fail(error, cannotWrite(QFileInfo(target).absolutePath(), 0, systemError()));
    return true;
}

QString BookFile::interruptedReplacement(const QString& target)
{
    const QString outgoing = outgoingName(target);
    return QFileInfo(outgoing).isFile() ? outgoing : QString();
}

bool BookFile::replaceKeeping(const QString& staged, const QString& target, const QString& kept, QString* error)
{
    if (QFileInfo::exists(kept))
        return fail(error, text("文件“%1”已经存在。").arg(QDir::toNativeSeparators(kept)));
    if (!removeLeftovers(target))
        return fail(
            error, text("账本旁边留有无法删除的文件（%1）。").arg(leftovers(target).join(QStringLiteral("、"))));
    if (swapOut(staged, target, kept))
        return true;
    // Another disk, a file system that cannot swap two names, or a swap cut off before: a copy.
    return copy(target, kept, error) && replace(staged, target, error);
}

QStringList BookFile::leftovers(const QString& path)
{
    QStringList found;
    for (const char* suffix : { "-journal", "-wal", "-shm" }) {
        const QString leftover = path + QLatin1String(suffix);
        if (QFileInfo::exists(leftover))
            found << leftover;
    }
    return found;
}

bool BookFile::removeLeftovers(const QString& path)
{
    for (const QString& leftover : leftovers(path))
        QFile::remove(leftover);
    return leftovers(path).isEmpty();
}
