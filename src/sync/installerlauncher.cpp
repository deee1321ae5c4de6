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
    return QProcess::startDetached(file, arguments);
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
