#pragma once

#include <QString>
#include <memory>

class MainWindow;

// The program's own classes set up the way the benchmark steps need them: a private program folder,
// fresh copies of a book, the main window shown offscreen.

// The name of the book in the program folder.
extern const char* const benchBookName;

// Makes a private program folder under root (books, settings and backups never touch a real home)
// and the current instances of Constants and FileSetting on it; no backups, no update check.
void useProgramFolder(const QString& root);
// Replaces to with a copy of from, writable by its owner.
bool copyFresh(const QString& from, const QString& to);
// Closes the default connection, forgets everything read from its book and gives up its lock.
void forgetBook();
// Builds the main window on the book in the program folder and shows it, and waits until it is
// exposed and its events are handled.
std::unique_ptr<MainWindow> showMainWindow();
