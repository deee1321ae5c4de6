#pragma once

#include <QString>

// The lock a program holds on a book file while it works on it: a hidden lock file beside the book
// (".<book>.lock", a QLockFile). SQLite stops nobody from renaming, replacing or deleting a book file
// that another process has open, so every program that opens, creates, restores, imports, renames,
// deletes or resets a book takes this lock first and leaves the book alone when another running
// program holds it. The lock of a program that died is taken over.
//
// Locks are counted within a process: a BookLock on a book that this process holds already shares
// that lock, so code that locks a book may be called by code that has locked it before.
//
//     BookLock lock(path);
//     if (lock.lock() == BookLock::HeldElsewhere)
//         return refuse(BookLock::heldText(name));
class BookLock {
public:
    enum Status {
        Held, // this process holds the lock
        HeldElsewhere, // another running program holds it
        Unavailable, // no lock file can be made beside the book (a folder that cannot be written)
    };

    explicit BookLock(const QString& bookPath);
    ~BookLock();
    BookLock(const BookLock&) = delete;
    BookLock& operator=(const BookLock&) = delete;

    // Takes the lock without waiting; Held when this object holds it now.
    Status lock();
    void unlock();
    bool isHeld() const { return held; }

    static QString lockFilePath(const QString& bookPath);
    // True when another running program holds the lock of the book at bookPath.
    static bool isHeldElsewhere(const QString& bookPath);

    // The open book's lock, held from the moment the program sets out to open a book (or to restore
    // or import one before opening it) until it ends or restarts. Holding it for another book gives
    // up the one held before; a refused lock leaves the one held before as it is.
    static Status holdOpenBook(const QString& bookPath);
    static void releaseOpenBook();

    // What the user is told when another running program holds the book (a file name with ".db").
    static QString heldText(const QString& bookFileName);

private:
    QString key;
    bool held = false;
};
