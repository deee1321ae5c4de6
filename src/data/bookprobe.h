#pragma once

#include <QString>

// Reads the login password of a book that is not the open one. The file is opened on a connection
// of its own that is removed at once; a probe never creates a file.
//
// The answer fails closed: a book whose password cannot be read (another program holds it locked
// past the wait, the file is damaged, a crashed writer's journal cannot be rolled back) is never
// reported as a book without password. A journal left by a crashed writer is rolled back first,
// as any program that opens the book would, so that the password read is the one last stored.
class BookProbe {
public:
    struct Result {
        // The question is answered: the password was read, or the file holds no settings to read
        // it from (not a book at all; opening it as the book fails later, with its own message).
        bool opened = false;
        QString errorText; // why the password could not be read
        QString password; // plain; empty when the book has none or it does not unscramble
    };

    // How long a probe waits for a book that another program is writing.
    static constexpr int defaultLockWaitMs = 5000;

    // connectionName names the probe's connection; a name already in use is not disturbed.
    static Result probe(const QString& path, const QString& connectionName, int lockWaitMs = defaultLockWaitMs);
};
