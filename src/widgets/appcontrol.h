#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// Ends this run of the program and starts it again with command words ("book <file>",
// "restore <file>", "kobel <file>"): how the program changes its book. The new process is started
// only once this one has left its event loop and closed its book, so that the two never work on the
// same book file at once.
class AppControl {
public:
    // Starts program detached with the arguments; true when it started. Tests put in one of their own.
    using Launcher = std::function<bool(const QString& program, const QStringList& arguments)>;

    // Flushes the INI, so that nothing written by this run is lost, notes the arguments and ends the
    // event loop directly (no window is closed: the close-time synchronisation and backup do not
    // run); finishRun() then starts the new process. False, with nothing changed, when the
    // program's file cannot be started; this run then goes on.
    static bool restart(const QStringList& arguments);

    // Runs the application's event loop; restart() ends it. Only this loop is ended: before it runs
    // (or in tests, which have none) a restart is noted and nothing else happens.
    static int exec();

    // Ends the event loop directly, as the tray menu's quit does: no window is closed, so neither the
    // close-time synchronisation and backup run nor does the window hide to the tray instead.
    static void quit();

    static bool isRestartPending();
    static QStringList pendingArguments();

    // The end of a run, called once the event loop has returned and the main window is gone. With a
    // restart pending it closes the book's connection and then starts the program again. Returns
    // exitCode, or 1 when the new process could not be started (the user is told).
    static int finishRun(int exitCode);

    // The program that restart() starts (empty: this executable) and how (empty: detached).
    static void setProgram(const QString& program);
    static void setLauncher(Launcher launcher);
    // Forgets a pending restart and brings back the defaults.
    static void reset();

private:
    static QString program();
};
