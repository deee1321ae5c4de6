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
    // The book in dir whose file name is fileName but for the case of its letters ("trip.db" for
    // "Trip.db"), other than except; empty when there is none. Two such books look alike in every
    // list, and on a disk that ignores case (a copy, a synchronised folder) they are one file.
    static QString caseTwin(const QString& dir, const QString& fileName, const QString& except = QString());
};
