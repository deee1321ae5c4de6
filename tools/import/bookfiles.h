#pragma once

#include <memory>

#include <QLockFile>
#include <QString>

// What quorvane-import needs of a book file until the data layer has it for every caller: a new
// book made whole before it gets its name, and the lock a running program holds on its book.
class BookFiles {
public:
    // Creates the book at path from the template with its default records, under a temporary name
    // that becomes path only when all of it is written. False with the reason when it could not.
    static bool create(const QString& path, QString* error);
    // The lock on the book at path, held while the returned object lives; null when another
    // running program holds it.
    static std::unique_ptr<QLockFile> lock(const QString& path);
};
