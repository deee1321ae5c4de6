#include "widgets/appcontrol.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

#include "data/dbhelper.h"
#include "data/filesetting.h"
#include "widgets/dmessagebox.h"

namespace {

struct State {
    QString program;
    AppControl::Launcher launcher;
    bool looping = false;
    bool pending = false;
    QStringList arguments;
};

State& state()
{
    static State instance;
    return instance;
}

} // namespace

bool AppControl::restart(const QStringList& arguments)
{
    const QFileInfo file(program());
    if (!file.isFile() || !file.isExecutable())
        return false;
    FileSetting::getInstance()->sync();
    state().pending = true;
    state().arguments = arguments;
    quit();
    return true;
}

void AppControl::quit()
{
    // exit(), not QCoreApplication::quit(), which first closes every window. Outside the loop exit()
    // would end every later local loop at once, modal boxes included.
    if (state().looping)
        QCoreApplication::exit(0);
}

int AppControl::exec()
{
    state().looping = true;
    const int exitCode = QCoreApplication::exec();
    state().looping = false;
    return exitCode;
}

bool AppControl::isRestartPending()
{
    return state().pending;
}

QStringList AppControl::pendingArguments()
{
    return state().arguments;
}

int AppControl::finishRun(int exitCode)
{
    if (!state().pending)
        return exitCode;
    state().pending = false;
    // Nothing of this run may touch the book once the next one has started.
    DBHelper::closeDefaultConnection();
    const Launcher& launch = state().launcher;
    const bool started
        = launch ? launch(program(), state().arguments) : QProcess::startDetached(program(), state().arguments);
    if (started)
        return exitCode;
    DMessageBox::error(nullptr, QCoreApplication::translate("AppControl", "无法重新启动程序，请再次打开程序。"));
    return 1;
}

void AppControl::setProgram(const QString& path)
{
    state().program = path;
}

void AppControl::setLauncher(Launcher launcher)
{
    state().launcher = std::move(launcher);
}

void AppControl::reset()
{
    state() = State();
}

QString AppControl::program()
{
    return state().program.isEmpty() ? QCoreApplication::applicationFilePath() : state().program;
}
