#pragma once

#include <QStringList>
#include <functional>

// Ends this run of the program and starts it again with command words ("book <file>",
// "restore <file>", "kobel <file>"): how the program changes its book.
class AppControl {
public:
    // Starts the new process; true when it started. The default starts this executable detached
    // with the arguments and then ends the event loop. Tests put in one of their own.
    using Relauncher = std::function<bool(const QStringList& arguments)>;

    // Flushes the INI first, so that nothing written by this run is lost, then relaunches.
    // False when the new process could not be started; this run then goes on.
    static bool restart(const QStringList& arguments);

    // An empty function brings the default back.
    static void setRelauncher(Relauncher relauncher);

private:
    static bool defaultRelaunch(const QStringList& arguments);
    static Relauncher& relauncher();
};
