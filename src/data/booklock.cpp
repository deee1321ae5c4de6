#include "data/booklock.h"

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <memory>
#include <sys/file.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QThread>

#include "data/scopedumask.h"

namespace {

// How long after its making a lock file is left to the program that made it.
const qint64 FreshLockMs = 1000;

// True when a process keeps the lock file at path locked with the system (as QLockFile does while
// it holds the lock); the probe takes nothing.
bool isKeptLocked(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool kept = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return kept;
}

void waitUntilOlderThan(const QString& path, qint64 ms)
{
    const qint64 age = QFileInfo(path).lastModified().msecsTo(QDateTime::currentDateTime());
    if (age >= 0 && age < ms)
        QThread::msleep(ulong(ms - age));
}

struct Shared {
    std::unique_ptr<QLockFile> file;
    int users = 0;
};

// The locks this process holds, by the book's absolute path, and the open book's.
struct Registry {
    std::map<QString, Shared> locks;
    std::unique_ptr<BookLock> openBook;

    ~Registry()
    {
        // The open book's lock goes first, while the table it counts in is still there.
        openBook.reset();
    }
};

Registry registry;

QString keyOf(const QString& bookPath)
{
    return QDir::cleanPath(QFileInfo(bookPath).absoluteFilePath());
}

} // namespace

BookLock::BookLock(const QString& bookPath)
    : key(keyOf(bookPath))
{
}

BookLock::~BookLock()
{
    unlock();
}

BookLock::Status BookLock::lock()
{
    if (held)
        return Held;
    auto found = registry.locks.find(key);
    if (found != registry.locks.end()) {
        ++found->second.users;
        held = true;
        return Held;
    }
    auto file = std::make_unique<QLockFile>(lockFilePath(key));
    // Held for as long as the book is open, however long that is: only a lock whose program is gone
    // counts as stale (the file names the process, and QLockFile asks whether it still runs).
    file->setStaleLockTime(0);
    bool locked = false;
    {
        // The file is the owner's from the moment it exists, whatever the session's mask.
        const ScopedUmask ownerOnly(077);
        locked = file->tryLock(0);
        // QLockFile tells a dead holder by the process the file names. A program killed while it
        // made the file left it without a name, and the system may have given the number to another
        // process since. But the holder also keeps the file locked with the system for as long as it
        // lives: a file that nobody keeps locked is stale, whatever it says (removeStaleLockFile()
        // removes it only then). One a moment old may be about to be locked by the program that has
        // just made it, and is given that moment.
        if (!locked && file->error() == QLockFile::LockFailedError && !isKeptLocked(lockFilePath(key))) {
            waitUntilOlderThan(lockFilePath(key), FreshLockMs);
            if (file->removeStaleLockFile())
                locked = file->tryLock(0);
        }
    }
    if (!locked)
        return file->error() == QLockFile::LockFailedError ? HeldElsewhere : Unavailable;
    registry.locks[key] = Shared { std::move(file), 1 };
    held = true;
    return Held;
}

void BookLock::unlock()
{
    if (!held)
        return;
    held = false;
    auto found = registry.locks.find(key);
    if (found != registry.locks.end() && --found->second.users == 0) {
        found->second.file->unlock();
        registry.locks.erase(found);
    }
}

QString BookLock::lockFilePath(const QString& bookPath)
{
    // Hidden: the book folder shows the books, and what lies beside them is the program's business.
    const QFileInfo book(bookPath);
    return book.path() + QStringLiteral("/.") + book.fileName() + QStringLiteral(".lock");
}

bool BookLock::isHeldElsewhere(const QString& bookPath)
{
    BookLock probe(bookPath);
    return probe.lock() == HeldElsewhere;
}

BookLock::Status BookLock::holdOpenBook(const QString& bookPath)
{
    if (registry.openBook && registry.openBook->key == keyOf(bookPath))
        return Held;
    auto lock = std::make_unique<BookLock>(bookPath);
    const Status status = lock->lock();
    if (status == Held)
        registry.openBook = std::move(lock);
    return status;
}

void BookLock::releaseOpenBook()
{
    registry.openBook.reset();
}

QString BookLock::heldText(const QString& bookFileName)
{
    QString name = bookFileName;
    if (name.endsWith(QLatin1String(".db")))
        name.chop(3);
    return QCoreApplication::translate(
        "BookLock", "账本“%1”正在被另一个运行中的Quorvane记账使用。请先在那里关闭它，再试一次。")
        .arg(name);
}
