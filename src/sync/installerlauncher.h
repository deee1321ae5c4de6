#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// How the update dialog hands over to a downloaded installer: start it as a process of its own
// that outlives this one, then end the program. Tests put in their own start and quit, so they
// see the file and its arguments without starting anything.
class InstallerLauncher {
public:
    using Starter = std::function<bool(const QString& file, const QStringList& arguments)>;
    using Quitter = std::function<void()>;

    // Starts file detached with the arguments; true when it started. Once it has ended, file and
    // its folder (when empty then) are removed.
    static bool start(const QString& file, const QStringList& arguments);
    // Writes pending settings and ends the application's event loops, as the tray menu's quit does.
    static void quit();

    static void setStarter(Starter starter);
    static void setQuitter(Quitter quitter);
    // Brings back the real start and quit.
    static void reset();
};
