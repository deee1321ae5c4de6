#pragma once

#include <QString>

// Reads the login password of a book that is not the open one. The file is opened read-only on
// a connection of its own that is removed at once, so a probe never creates a file and changes one
// only to undo a write that a crash cut off (as opening the book would).
class BookProbe {
public:
    struct Result {
        bool opened = false; // false: the password could not be read, and may exist
        QString errorText; // the driver's text when the file did not open or could not be read
        QString password; // plain; empty when the book has none or it does not unscramble
    };

    // connectionName names the probe's connection; a name already in use is not disturbed.
    static Result probe(const QString& path, const QString& connectionName);
};
