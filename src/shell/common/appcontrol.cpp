#include "shell/common/appcontrol.h"

#include <QCoreApplication>
#include <QProcess>

#include "data/filesetting.h"

bool AppControl::restart(const QStringList& arguments)
{
    FileSetting::getInstance()->sync();
    const Relauncher& launch = relauncher();
    return launch ? launch(arguments) : defaultRelaunch(arguments);
}

void AppControl::setRelauncher(Relauncher launch)
{
    relauncher() = std::move(launch);
}

bool AppControl::defaultRelaunch(const QStringList& arguments)
{
    if (!QProcess::startDetached(QCoreApplication::applicationFilePath(), arguments))
        return false;
    QCoreApplication::quit();
    return true;
}

AppControl::Relauncher& AppControl::relauncher()
{
    static Relauncher instance;
    return instance;
}
