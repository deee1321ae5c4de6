#pragma once

// The hostile texts of the reliability tests: one table of strings that every path a text takes
// through the program is run with, so that each path sees exactly the same strings.
#include <QList>
#include <QString>

namespace HostileText {

struct Entry {
    const char* name; // the test row's name
    QString text;
};

// Every text, in a fixed order: the SQL, LIKE, HTML and script characters one by one, line ends,
// the line separator, characters outside the BMP, a text of 10,000 characters and combinations.
const QList<Entry>& all();
// The one of 10,000 characters (a record's dialog would never let it in; a sync reply or an
// import does).
QString longText();

// Adds the column "text" and a row per entry to the current _data() function.
void addRows();

// What an HTML parser makes of text: every CR LF and lone CR becomes LF (a page shows no
// difference, and no reader of a page can tell them apart).
QString htmlNewlines(const QString& text);
// What a page shows of text as flowing text: HTML's white space (and the line separator, which
// rich text takes as a line break) as single spaces, trimmed.
QString flowing(const QString& text);
// Lower case for ASCII letters only, as SQLite's LIKE compares.
QString likeFolded(const QString& text);

} // namespace HostileText
