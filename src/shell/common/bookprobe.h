#pragma once

#include <QString>

// Reads the login password of a book that is not the open one. The file is opened read-only on
// a connection of its own that is removed at once, so a probe never creates or changes a file.
class BookProbe {
public:
    struct Result {
        bool opened = false;
        QString errorText; // the driver's text when the file did not open
        QString password; // plain; empty when the book has none or it does not unscramble
    };

    // connectionName names the probe's connection; a name already in use is not disturbed.
    static Result probe(const QString& path, const QString& connectionName);
};
