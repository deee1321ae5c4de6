#include "shell/startup.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QSplashScreen>
#include <QTranslator>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include "data/backuphelper.h"
#include "data/booklist.h"
#include "data/bookprobe.h"
#include "data/constants.h"
#include "data/filesetting.h"
#include "shell/mainwindow.h"
#include "shell/uskin.h"
#include "widgets/appcontrol.h"
#include "widgets/dlogin.h"
#include "widgets/dmessagebox.h"

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

QString infoText(const QStringList& arguments)
{
    if (arguments.size() != 2)
        return QString();
    const QString word = arguments.at(1);
    const QString version = QStringLiteral("Quorvane记账 %1\n").arg(Constants::getVersion());
    if (word == QLatin1String("--version") || word == QLatin1String("-v"))
        return version;
    if (word != QLatin1String("--help") && word != QLatin1String("-h"))
        return QString();
    return version
        + QObject::tr("\n"
                      "用法：quorvane [命令 文件]\n"
                      "\n"
                      "  book 文件      打开账本文件夹中的这个账本，例如 book 家庭.db\n"
                      "  restore 文件   先用这个备份文件恢复当前账本，再打开它\n"
                      "  kobel 文件     先导入另一个记账程序的这个数据文件，再打开账本\n"
                      "  --help, -h     显示这段说明\n"
                      "  --version, -v  显示版本\n"
                      "\n"
                      "不带命令时打开上次用过的账本；账本文件夹中有几个账本时，先询问打开哪一个。\n");
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

Q_LOGGING_CATEGORY(lcStartup, "quorvane.startup", QtInfoMsg)

int signalPipe[2] = { -1, -1 };
volatile std::sig_atomic_t terminateSignalled = 0;
bool mainLoopRunning = false;

void onTerminate(int)
{
    terminateSignalled = 1;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
}

bool terminating()
{
    return terminateSignalled != 0;
}

// Ends a waiting box or dialog the way its close button would.
void endModal(QWidget* modal)
{
    if (auto* dialog = qobject_cast<QDialog*>(modal))
        dialog->reject();
    else
        modal->close();
}

void endModals()
{
    // Innermost first: a box over the login dialog, then the dialog.
    for (QWidget* modal = QApplication::activeModalWidget(); modal; modal = QApplication::activeModalWidget()) {
        endModal(modal);
        if (QApplication::activeModalWidget() == modal)
            break; // it would not close
    }
}

// Before the event loop runs, quitting it does nothing, and the program waits in boxes and dialogs
// of its own: the outcome of a command word, the probe's warning, the login, the messages of the
// opening book. Once a terminate request came, each of them, also one that opens afterwards, is
// ended at once. (Developers see them come with QT_LOGGING_RULES="quorvane.startup.debug=true".)
class ModalWatcher : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            auto* widget = static_cast<QWidget*>(watched);
            if (widget->isWindow() && widget->isModal()) {
                qCDebug(lcStartup) << "waiting in" << widget->metaObject()->className();
                if (terminating())
                    QMetaObject::invokeMethod(
                        widget, [widget] { endModal(widget); }, Qt::QueuedConnection);
            }
        }
        return false;
    }
};

// A terminate or interrupt request (logging out, Ctrl+C) ends the program like the tray's quit, in
// whatever phase it comes, with the exit code 0.
void quitOnTerminate(QApplication& app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char byte = 0;
        [[maybe_unused]] const ssize_t got = ::read(signalPipe[1], &byte, 1);
        // Leaving the event loop directly: no window is asked first, so nothing (the tray, a
        // synchronisation at close) can hold the program back.
        if (mainLoopRunning)
            QCoreApplication::exit(0);
        else
            endModals();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

// The end of a start that was asked to stop: what it wrote to the settings reaches the file.
int ended()
{
    FileSetting::getInstance()->sync();
    return 0;
}

void applyStyleSheet(QApplication& app)
{
    QString sheet;
    QFile file(QStringLiteral(":/rc/style/default.qss"));
    if (file.open(QIODevice::ReadOnly))
        sheet = QString::fromLatin1(file.readAll());
    app.setStyleSheet(USkin::withStoredSkin(sheet));
}

} // namespace

void runCommand(const Command& command)
{
    if (command.word == QLatin1String("restore")) {
        if (BackupHelper::restore(command.argument))
            QMessageBox::warning(nullptr, QObject::tr("恢复成功"), QObject::tr("您已经成功恢复数据文件。"));
        else
            QMessageBox::warning(nullptr, QObject::tr("恢复失败"), QObject::tr("恢复数据文件出现错误。"));
    } else if (command.word == QLatin1String("kobel")) {
        int skippedRows = 0;
        bool unopened = false;
        if (BackupHelper::kobel(command.argument, &skippedRows, &unopened)) {
            QString text = QObject::tr("您已经成功导入数据文件。");
            // Rows the book cannot hold are left out; the user learns how many.
            if (skippedRows > 0)
                text += QObject::tr("其中有%1条记录无法导入，已跳过。").arg(skippedRows);
            QMessageBox::warning(nullptr, QObject::tr("导入成功"), text);
        } else {
            if (unopened)
                DMessageBox::information(nullptr, QObject::tr("数据文件错误"), QObject::tr("打开数据文件出现错误。"));
            QMessageBox::warning(nullptr, QObject::tr("导入失败"), QObject::tr("导入数据文件出现错误。"));
        }
    }
}

int run(QApplication& app)
{
    quitOnTerminate(app);
    ModalWatcher watcher;
    app.installEventFilter(&watcher);
    applyStyleSheet(app);

    auto* translator = new QTranslator(&app);
    if (translator->load(QStringLiteral(":/rc/qm/qt_zh_CN.qm")))
        app.installTranslator(translator);

    const Command command = parseCommand(app.arguments());
    runCommand(command);
    if (terminating())
        return ended();

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
    if (terminating())
        return ended();
    if (!choice.currentBook.isEmpty())
        Constants::getInstance()->setBookName(choice.currentBook);
    if (choice.login) {
        DLogin login(nullptr, choice.loginBook);
        if (terminating() || login.exec() != QDialog::Accepted)
            return ended();
    }
    if (terminating())
        return ended();

    QSplashScreen splash(QPixmap(QStringLiteral(":/rc/images/Splash.png")));
    splash.show();
    app.processEvents();
    auto* window = new MainWindow(nullptr);
    if (terminating())
        return ended();
    if (!window->isBookOpen()) {
        splash.close();
        return 1;
    }
    window->show();
    splash.finish(window);
    if (terminating())
        return ended();
    app.removeEventFilter(&watcher);
    mainLoopRunning = true;
    qCDebug(lcStartup) << "running";
    const int exitCode = AppControl::exec();
    // The window and its book go before a restart starts the next run on the same book file.
    delete window;
    return AppControl::finishRun(exitCode);
}

} // namespace Startup
