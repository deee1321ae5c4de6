// Loaded into the real program with LD_PRELOAD by tst_settinglogin: plays the user at start-up.
// It types the passwords named by QUORVANE_DRIVER_PASSWORDS (one per line) into the login dialog,
// one try after the other, answers every message box with its "确定" button, and writes what it
// saw, line by line, to the file named by QUORVANE_DRIVER_REPORT:
//     login <book shown> | password asked|no password asked
//     try <password>
//     box <title> | <text>
//     main window
// It ends the program as soon as the main window shows, and cancels the login when it has no
// password left to try. The program itself knows nothing of it.
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "modalanswerer.h"

namespace {

class LoginDriver : public QObject {
public:
    LoginDriver(const QString& reportPath, const QStringList& passwords)
        : QObject(qApp)
        , report(reportPath)
        , passwords(passwords)
    {
        report.open(QIODevice::WriteOnly | QIODevice::Truncate);
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, &LoginDriver::poll);
        timer->start(20);
    }

private:
    void record(const QString& line)
    {
        report.write(line.toUtf8() + '\n');
        report.flush();
    }

    void poll()
    {
        if (quitting) {
            // The window shows before the main event loop runs, and a quit before it is lost: ask
            // until the loop has taken it.
            QCoreApplication::quit();
            return;
        }
        if (finished)
            return;
        const auto windows = QApplication::topLevelWidgets();
        for (QWidget* window : windows) {
            if (window->inherits("MainWindow") && window->isVisible()) {
                record(QStringLiteral("main window"));
                finished = true;
                quitting = true;
                return;
            }
        }

        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        if (modal->inherits("DLogin")) {
            if (!login) {
                login = modal;
                const auto* books = modal->findChild<QComboBox*>(QStringLiteral("cbDbList"));
                const auto* field = modal->findChild<QLineEdit*>(QStringLiteral("lePassword"));
                record(QStringLiteral("login %1 | %2")
                           .arg(books ? books->currentText() : QString(),
                               field && field->isEnabled() ? QStringLiteral("password asked")
                                                           : QStringLiteral("no password asked")));
            }
            // The next try once the one before has come back (its box answered).
            if (!trying)
                QTimer::singleShot(0, modal, [this] { tryNext(); });
            trying = true;
            return;
        }
        if (answered.contains(modal))
            return;
        answered.append(modal);
        record(QStringLiteral("box %1 | %2").arg(ModalAnswerer::titleOf(modal), ModalAnswerer::textOf(modal)));
        QTimer::singleShot(0, modal, [modal] { ModalAnswerer::press(QStringLiteral("确定"))(modal); });
    }

    void tryNext()
    {
        if (!login)
            return;
        if (passwords.isEmpty()) {
            record(QStringLiteral("cancel"));
            finished = true;
            login->findChild<QPushButton*>(QStringLiteral("pbCancel"))->click();
            return;
        }
        const QString password = passwords.takeFirst();
        record(QStringLiteral("try ") + password);
        auto* field = login->findChild<QLineEdit*>(QStringLiteral("lePassword"));
        field->clear();
        for (const QChar c : password)
            QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(c), Qt::NoModifier);
        // A refusal runs its message box inside this click.
        QTest::mouseClick(login->findChild<QPushButton*>(QStringLiteral("pbOK")), Qt::LeftButton);
        trying = false;
    }

    QFile report;
    QStringList passwords;
    QPointer<QWidget> login;
    QList<QPointer<QWidget>> answered;
    bool trying = false;
    bool finished = false;
    bool quitting = false;
};

void startDriver()
{
    const QString reportPath = qEnvironmentVariable("QUORVANE_DRIVER_REPORT");
    if (reportPath.isEmpty())
        return;
    const QStringList passwords
        = qEnvironmentVariable("QUORVANE_DRIVER_PASSWORDS").split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    // The application is still being built: the driver starts with the first event loop.
    QMetaObject::invokeMethod(
        qApp, [reportPath, passwords] { new LoginDriver(reportPath, passwords); }, Qt::QueuedConnection);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startDriver)
