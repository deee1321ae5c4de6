#include "sync/installerlauncher.h"

#include <QProcess>

#include "data/filesetting.h"
#include "widgets/appcontrol.h"

namespace {

struct Hooks {
    InstallerLauncher::Starter starter;
    InstallerLauncher::Quitter quitter;
};

Hooks& hooks()
{
    static Hooks instance;
    return instance;
}

} // namespace

bool InstallerLauncher::start(const QString& file, const QStringList& arguments)
{
    if (hooks().starter)
        return hooks().starter(file, arguments);
    // The installer needs its file for as long as it runs (a script is read by its interpreter
    // after the start, an installer may unpack itself): a shell waits for it and then removes the
    // file and its private folder, if nothing else is in it. The names reach the shell as its
    // arguments, never as part of the script.
    const QString script = QStringLiteral(
        "\"$0\" \"$@\"; status=$?; rm -f -- \"$0\"; rmdir -- \"${0%/*}\" 2>/dev/null; exit $status");
    return QProcess::startDetached(QStringLiteral("/bin/sh"), QStringList { QStringLiteral("-c"), script, file } + arguments);
}

void InstallerLauncher::quit()
{
    if (hooks().quitter) {
        hooks().quitter();
        return;
    }
    FileSetting::getInstance()->sync();
    AppControl::quit();
}

void InstallerLauncher::setStarter(Starter starter)
{
    hooks().starter = std::move(starter);
}

void InstallerLauncher::setQuitter(Quitter quitter)
{
    hooks().quitter = std::move(quitter);
}

void InstallerLauncher::reset()
{
    hooks() = Hooks();
}
