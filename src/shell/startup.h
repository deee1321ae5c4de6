#pragma once

#include <QString>
#include <QStringList>

class QApplication;

// The program's start: the style sheet, Qt's translation, the command words, the choice of the
// book and the login, then the main window.
namespace Startup {

struct Command {
    QString word;
    QString argument;
};
// The first argument after the program is the command word, the second its argument.
Command parseCommand(const QStringList& arguments);

// Runs the command words "restore <file>" and "kobel <file>", before any book is opened, and tells
// the user the outcome in a box; other words do nothing here.
void runCommand(const Command& command);

struct Choice {
    bool login = false;   // run the login dialog
    QString loginBook;    // the book the login dialog is given (may be empty)
    QString currentBook;  // the book made current without login (empty: keep the remembered one)
    bool probeFailed = false;
    QString probeError;
};
// Decides which book opens and whether the login dialog runs first. chosenBook is the book the
// "book" word named (empty when none, or when that file does not exist).
Choice chooseBook(const QString& dbDir, const QStringList& files, const QString& chosenBook);

// What "--help" (or "-h") and "--version" (or "-v") print; empty for any other command line, which
// starts the program. Asked before anything of the program is made: these make no folder and no book,
// and need no screen.
QString infoText(const QStringList& arguments);

// Runs the whole start and the event loop; returns the exit code.
int run(QApplication& app);

} // namespace Startup
