#pragma once

#include <QStringList>

// The books of a book folder as every chooser offers them: plain files named "*.db", most
// recently modified first, shown without their ".db".
class BookList {
public:
    // File names (with ".db", without folder).
    static QStringList files(const QString& dir);
    // What a chooser shows for a book file: its name less the ".db".
    static QString displayName(const QString& fileName);
};
