#include "shell/startup.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QSplashScreen>
#include <QTranslator>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include "data/constants.h"
#include "datamgmt/backuphelper.h"
#include "shell/common/booklist.h"
#include "shell/common/bookprobe.h"
#include "shell/common/dlogin.h"
#include "shell/uskin.h"
#include "shell/mainwindow.h"

namespace Startup {

Command parseCommand(const QStringList& arguments)
{
    Command command;
    if (arguments.size() > 1)
        command.word = arguments.at(1);
    if (arguments.size() > 2)
        command.argument = arguments.at(2);
    return command;
}

Choice chooseBook(const QString& dbDir, const QStringList& files, const QString& chosenBook)
{
    Choice choice;
    if (files.size() != 1 && chosenBook.isEmpty()) {
        choice.login = !files.isEmpty();
        return choice;
    }
    const QString probeBook = chosenBook.isEmpty() ? files.first() : chosenBook;
    const BookProbe::Result probe = BookProbe::probe(dbDir + probeBook, probeBook);
    if (!probe.opened) {
        // A book whose password could not be read is never opened unlocked: the user chooses in
        // the login dialog, which is given the book that was asked for.
        choice.probeFailed = true;
        choice.probeError = probe.errorText;
        choice.login = true;
        choice.loginBook = chosenBook;
    } else if (probe.password.isEmpty()) {
        choice.currentBook = probeBook;
    } else {
        choice.login = true;
        choice.loginBook = chosenBook;
    }
    return choice;
}

namespace {

int signalPipe[2] = { -1, -1 };
bool terminateRequested = false;

void onTerminate(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
}

// A terminate or interrupt request (logging out, Ctrl+C) ends the program like the tray's quit, so
// that what the run wrote to the settings reaches the file. A request that comes while the window
// is still being built ends the program as soon as it is.
void quitOnTerminate(QApplication& app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char byte = 0;
        [[maybe_unused]] const ssize_t got = ::read(signalPipe[1], &byte, 1);
        terminateRequested = true;
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

void applyStyleSheet(QApplication& app)
{
    QString sheet;
    QFile file(QStringLiteral(":/rc/style/default.qss"));
    if (file.open(QIODevice::ReadOnly))
        sheet = QString::fromLatin1(file.readAll());
    app.setStyleSheet(USkin::withStoredSkin(sheet));
}

void runCommand(const Command& command)
{
    if (command.word == QLatin1String("restore")) {
        if (BackupHelper::restore(command.argument))
            QMessageBox::warning(nullptr, QObject::tr("恢复成功"), QObject::tr("您已经成功恢复数据文件。"));
        else
            QMessageBox::warning(nullptr, QObject::tr("恢复失败"), QObject::tr("恢复数据文件出现错误。"));
    } else if (command.word == QLatin1String("kobel")) {
        if (BackupHelper::kobel(command.argument))
            QMessageBox::warning(nullptr, QObject::tr("导入成功"), QObject::tr("您已经成功导入数据文件。"));
        else
            QMessageBox::warning(nullptr, QObject::tr("导入失败"), QObject::tr("导入数据文件出现错误。"));
    }
}

} // namespace

int run(QApplication& app)
{
    quitOnTerminate(app);
    applyStyleSheet(app);

    auto* translator = new QTranslator(&app);
    if (translator->load(QStringLiteral(":/rc/qm/qt_zh_CN.qm")))
        app.installTranslator(translator);

    const Command command = parseCommand(app.arguments());
    runCommand(command);

    const QString dbDir = Constants::getInstance()->getDbDir();
    Constants::makeDir(dbDir);
    QString chosenBook;
    if (command.word == QLatin1String("book") && Constants::isValidBookName(command.argument)
        && QFileInfo(dbDir + command.argument).isFile())
        chosenBook = command.argument;

    const Choice choice = chooseBook(dbDir, BookList::files(dbDir), chosenBook);
    if (choice.probeFailed) {
        QMessageBox::warning(nullptr, QObject::tr("数据文件错误"), QObject::tr("打开数据文件出现错误。") + choice.probeError);
    }
    if (!choice.currentBook.isEmpty())
        Constants::getInstance()->setBookName(choice.currentBook);
    if (choice.login) {
        DLogin login(nullptr, choice.loginBook);
        if (login.exec() != QDialog::Accepted)
            return 0;
    }

    QSplashScreen splash(QPixmap(QStringLiteral(":/rc/images/Splash.png")));
    splash.show();
    app.processEvents();
    auto* window = new MainWindow(nullptr);
    if (!window->isBookOpen()) {
        splash.close();
        return 1;
    }
    window->show();
    splash.finish(window);
    if (terminateRequested)
        return 0;
    return app.exec();
}

} // namespace Startup
