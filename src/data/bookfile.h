#pragma once

#include <QString>
#include <QStringList>

// Book files as files: making a new book, and copying, renaming or moving one, so that every book
// file is whole wherever it goes. SQLite keeps part of a book beside it: the rollback journal of a
// write a crash cut off ("-journal", played back at the next open) and the write-ahead log of a book
// in WAL mode ("-wal", "-shm"). A book file that moves without them loses writes or is damaged,
// and one that lands beside another book's would have them played into it. So an interrupted write
// is finished before a book goes anywhere, a log is folded into the book, and no book gets a name
// beside leftovers of another.
//
// Every operation that names a book takes its lock (BookLock) for the time it works and refuses a
// book that another running program holds. Errors are texts for the program's message box.
class BookFile {
public:
    enum class Contents {
        DefaultRecords, // a book as the program makes it: the template with the default records
        TemplateOnly, // the template alone, for callers that fill the book themselves
    };

    // Makes a new book at path from the template: built under a name of its own, its default
    // records written, and given path only when all of that succeeded, so that a failure (a full
    // disk, a folder that cannot be written) leaves no file that could be taken for a book. Never
    // replaces a file; journals left at path by a book that stood there once are removed first.
    // The book is its owner's alone (0600). False with the reason in *error.
    static bool create(const QString& path, QString* error = nullptr, Contents contents = Contents::DefaultRecords);

    // Brings the book at path to where its file alone holds all of it: a write cut off by a crash
    // is rolled back, a write-ahead log is checkpointed into the file. False when that cannot be done
    // (the journal cannot be played back, another connection keeps the log busy); the file is then
    // as it was.
    static bool settle(const QString& path);

    // Copies the book at source to target, which must not exist, owner-only. A book with a
    // write-ahead log is read through SQLite (its online backup), so that the copy holds what the
    // log holds and needs no log beside it; any other book is copied as it lies once an interrupted
    // write is finished. False with the reason when no whole copy was made (nothing is left at target).
    static bool copy(const QString& source, const QString& target, QString* error = nullptr);

    // Renames the book at from to to (another name, or another folder on the same disk), which
    // must not exist; both names are locked for the time, the book is settled first and to is
    // cleared of leftovers. One rename: afterwards the book is wholly at one name or the other.
    static bool move(const QString& from, const QString& to, QString* error = nullptr);

    // Renames staged to target in one step, replacing target (whatever was there is whole either
    // way). target's leftovers must have been settled by the caller: they are removed before the
    // rename, and the rename is refused while one stays.
    static bool replace(const QString& staged, const QString& target, QString* error = nullptr);

    // Puts staged in target's place as replace() does, and keeps the book that stood there under
    // kept (a new name, the caller's safety copy of it). Where kept's folder is on target's disk the
    // old book is not copied: staged and target swap names in one step and the old book is then
    // renamed to kept, so that target is wholly the old book or wholly staged at every moment and
    // the old book always has a name. Elsewhere the old book is copied to kept first. On failure
    // target is as it was, staged is where it was and nothing is at kept. target must be settled.
    static bool replaceKeeping(
        const QString& staged, const QString& target, const QString& kept, QString* error = nullptr);
    // A whole book that a replaceKeeping cut off between its renames left beside target (the one it
    // was putting in place or the one that stood there); empty when there is none. It is never
    // removed here: the caller keeps it where the user can find it.
    static QString interruptedReplacement(const QString& target);

    // The files SQLite keeps beside the book at path that exist ("-journal", "-wal", "-shm").
    static QStringList leftovers(const QString& path);
    // Removes them; true when none is left. Only for a name where no book is, or a settled book.
    static bool removeLeftovers(const QString& path);
};
