// Loaded into the real program with LD_PRELOAD by tools/shots/program-shots.sh: plays a user going
// through the pages and saves pictures of the whole screen on the way. The program knows nothing
// of it: it finds the widgets by their object names, clicks them and fills in the dialogs as a user
// would.
//
//     QUORVANE_SHOTS_OUT     folder for the pictures (<size>-<what>.png) and driver.log
//     QUORVANE_SHOTS_USER    the sync account to enter in the account dialog
//     QUORVANE_SHOTS_PASSWORD
//     QUORVANE_SHOTS_IMPORT  a bank statement to take through the import dialog
//
// The same walk runs at 1024 × 700 and then maximised: the bill list; every analysis page in table,
// chart and report mode, for the current month and for the whole year; every analysis page visited
// a second time (its bar must look as on the first visit); the status bar after a synchronisation;
// the settings page's book management; the data page. At 1024 × 700 it also creates and renames a
// book, backs the book up, exports a report and takes a statement through the four steps of the
// import dialog (and cancels it), taking pictures of the dialogs and of what the program says. Then
// it ends the program.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDate>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <functional>

#include "modalanswerer.h"

namespace {

class ProgramDriver : public QObject {
    Q_OBJECT

public:
    ProgramDriver(const QString& outDir, const QString& user, const QString& password, const QString& statement)
        : QObject(qApp)
        , out(outDir)
        , user(user)
        , password(password)
        , statement(statement)
    {
        log.setFileName(out.filePath(QStringLiteral("driver.log")));
        log.open(QIODevice::WriteOnly | QIODevice::Truncate);
        planWalk();
        timer.setInterval(50);
        connect(&timer, &QTimer::timeout, this, &ProgramDriver::poll);
        timer.start();
        deadline = QDateTime::currentMSecsSinceEpoch() + 600000;
    }

private slots:
    void loaded() { ++loads; }

private:
    // A step is asked again every 50 ms until it says it is done.
    using Step = std::function<bool()>;

    void record(const QString& line)
    {
        log.write(
            QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss.zzz ")).toUtf8() + line.toUtf8() + '\n');
        log.flush();
    }

    void poll()
    {
        if (QDateTime::currentMSecsSinceEpoch() > deadline) {
            record(QStringLiteral("gave up: the walk took more than ten minutes"));
            failed = true;
            steps.clear();
        }
        if (steps.isEmpty()) {
            if (!ended) {
                record(failed ? QStringLiteral("end, with failures") : QStringLiteral("end"));
                ended = true;
            }
            // A quit before the main event loop runs is lost: ask until the loop has taken it.
            QCoreApplication::exit(failed ? 3 : 0);
            return;
        }
        if (busy)
            return;
        busy = true;
        // A step may open a modal dialog and run its event loop inside; the timer goes on meanwhile.
        // Steps keep their state (a time to wait for) in themselves: the step is called in place.
        const bool done = steps.first()();
        busy = false;
        if (done && !steps.isEmpty())
            steps.removeFirst();
    }

    // ---- Finding and using widgets -----------------------------------------------------------

    static QWidget* mainWindow()
    {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->inherits("MainWindow") && window->isVisible())
                return window;
        }
        return nullptr;
    }

    template <typename T> static T* find(const QString& name)
    {
        QWidget* window = mainWindow();
        if (!window)
            return nullptr;
        // Several pages have a widget of a name (pbChart, cbYear): the one shown counts.
        T* hidden = nullptr;
        for (T* each : window->findChildren<T*>(name)) {
            if (each->isVisible())
                return each;
            hidden = each;
        }
        return hidden;
    }

    template <typename T> static T* findIn(QWidget* parent, const QString& name)
    {
        return parent ? parent->findChild<T*>(name) : nullptr;
    }

    // The modal dialog now shown, when it is of the class.
    static QWidget* modal(const char* className)
    {
        QWidget* widget = QApplication::activeModalWidget();
        return widget && widget->isVisible() && widget->inherits(className) ? widget : nullptr;
    }

    void add(const Step& step) { steps.append(step); }

    void addWait(int ms)
    {
        add([this, ms, until = qint64(-1)]() mutable {
            if (until < 0)
                until = QDateTime::currentMSecsSinceEpoch() + ms;
            return QDateTime::currentMSecsSinceEpoch() >= until;
        });
    }

    // Waits for condition, giving up (and noting it) after timeoutMs.
    void addUntil(const QString& what, const std::function<bool()>& condition, int timeoutMs = 20000)
    {
        add([this, what, condition, timeoutMs, until = qint64(-1)]() mutable {
            if (until < 0)
                until = QDateTime::currentMSecsSinceEpoch() + timeoutMs;
            if (condition())
                return true;
            if (QDateTime::currentMSecsSinceEpoch() < until)
                return false;
            record(QStringLiteral("timed out waiting for ") + what);
            failed = true;
            return true;
        });
    }

    // Clicks the button; later, when it opens a modal dialog, so that the dialog's event loop does
    // not run inside this step.
    void addClick(const QString& name, bool later = false)
    {
        add([this, name, later] {
            auto* button = find<QAbstractButton>(name);
            if (!button) {
                record(QStringLiteral("no button ") + name);
                failed = true;
                return true;
            }
            record(QStringLiteral("click ") + name);
            if (later)
                QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
            else
                button->click();
            return true;
        });
    }

    // Chooses the combo's item with this text, as a user picking it from the list.
    void addChoose(const QString& combo, const QString& text)
    {
        add([this, combo, text] {
            auto* box = find<QComboBox>(combo);
            const int index = box ? box->findText(text) : -1;
            if (index < 0) {
                record(QStringLiteral("no item %1 in %2").arg(text, combo));
                failed = true;
                return true;
            }
            record(QStringLiteral("choose %1 in %2").arg(text, combo));
            box->setCurrentIndex(index);
            return true;
        });
    }

    // Waits for a modal dialog of the class and hands it to answer.
    void addModal(const char* className, const std::function<void(QWidget*)>& answer)
    {
        add([this, className, answer, until = qint64(-1)]() mutable {
            if (until < 0)
                until = QDateTime::currentMSecsSinceEpoch() + 20000;
            if (QWidget* dialog = modal(className)) {
                record(QStringLiteral("%1: %2 | %3")
                           .arg(QString::fromLatin1(className), ModalAnswerer::titleOf(dialog),
                               ModalAnswerer::textOf(dialog)));
                answer(dialog);
                return true;
            }
            if (QDateTime::currentMSecsSinceEpoch() < until)
                return false;
            record(QStringLiteral("timed out waiting for a dialog: ") + QString::fromLatin1(className));
            failed = true;
            return true;
        });
    }

    void addShot(const QString& name)
    {
        add([this, name] {
            const QString file = out.filePath(prefix + QLatin1Char('-') + name + QStringLiteral(".png"));
            const bool saved = QGuiApplication::primaryScreen()->grabWindow(0).save(file, "PNG");
            record((saved ? QStringLiteral("shot ") : QStringLiteral("could not save ")) + file);
            failed = failed || !saved;
            return true;
        });
    }

    // Runs action, which shows a chart or a report, and waits until the web view has loaded it and
    // had a moment to draw it.
    void addWithLoad(const QString& what, const std::function<void()>& action)
    {
        add([this, what, action, started = false, before = 0, until = qint64(-1)]() mutable {
            if (!started) {
                started = true;
                before = loads;
                until = QDateTime::currentMSecsSinceEpoch() + 30000;
                action();
                // The page makes its web view with its first chart or report; its load ends later.
                for (QWidget* view : mainWindow()->findChildren<QWidget*>(QStringLiteral("webView")))
                    connect(view, SIGNAL(loadFinished(bool)), this, SLOT(loaded()), Qt::UniqueConnection);
                return false;
            }
            if (loads > before)
                return true;
            if (QDateTime::currentMSecsSinceEpoch() < until)
                return false;
            record(QStringLiteral("timed out waiting for the web view: ") + what);
            failed = true;
            return true;
        });
        // On a busy machine the page may be drawn well after its load: wait until the screen shows
        // it (more than its white background).
        addUntil(
            QStringLiteral("the web view's drawing: ") + what, [] { return webViewDrawn(); }, 30000);
        addWait(700);
    }

    // Whether the web view shown has something drawn on the screen.
    static bool webViewDrawn()
    {
        QWidget* window = mainWindow();
        if (!window)
            return false;
        for (QWidget* view : window->findChildren<QWidget*>(QStringLiteral("webView"))) {
            if (!view->isVisible())
                continue;
            const QPoint origin = view->mapToGlobal(QPoint(0, 0));
            const QImage image = QGuiApplication::primaryScreen()
                                     ->grabWindow(0, origin.x(), origin.y(), view->width(), view->height())
                                     .toImage();
            int drawn = 0;
            for (int y = 0; y < image.height(); y += 4) {
                for (int x = 0; x < image.width(); x += 4) {
                    if (image.pixel(x, y) != qRgb(255, 255, 255) && ++drawn > 200)
                        return true;
                }
            }
            return false;
        }
        return false;
    }

    void addClickWithLoad(const QString& name)
    {
        addWithLoad(name, [this, name] {
            if (auto* button = find<QAbstractButton>(name)) {
                record(QStringLiteral("click ") + name);
                button->click();
            }
        });
    }

    void addChooseWithLoad(const QString& combo, const QString& text)
    {
        addWithLoad(combo + QLatin1Char(' ') + text, [this, combo, text] {
            auto* box = find<QComboBox>(combo);
            if (box && box->findText(text) >= 0) {
                record(QStringLiteral("choose %1 in %2").arg(text, combo));
                box->setCurrentIndex(box->findText(text));
            }
        });
    }

    // ---- The walk -----------------------------------------------------------------------------

    void planWalk();
    void planSize(const QString& size);
    void planAnalysisPage(const QString& button, const QString& name);
    void planSync();
    void planBooks(bool dialogs);
    void planBackupAndExport();
    void planImport();
    // Clicks a button that asks where to save, saves as fileName and takes pictures of the dialog and
    // of what the program says then (<what>-dialog, <what>-done).
    void planSaveAs(const QString& button, const QString& fileName, const QString& what);

    QDir out;
    QString user;
    QString password;
    QString statement;
    QFile log;
    QTimer timer;
    int loads = 0;
    QList<Step> steps;
    QString prefix;
    qint64 deadline = 0;
    bool busy = false;
    bool failed = false;
    bool ended = false;
};

void startDriver()
{
    const QString outDir = qEnvironmentVariable("QUORVANE_SHOTS_OUT");
    if (outDir.isEmpty())
        return;
    const QString user = qEnvironmentVariable("QUORVANE_SHOTS_USER");
    const QString password = qEnvironmentVariable("QUORVANE_SHOTS_PASSWORD");
    const QString statement = qEnvironmentVariable("QUORVANE_SHOTS_IMPORT");
    // The application is still being built: the driver starts with the first event loop.
    QMetaObject::invokeMethod(
        qApp, [=] { new ProgramDriver(outDir, user, password, statement); }, Qt::QueuedConnection);
}

void ProgramDriver::planWalk()
{
    addUntil(
        QStringLiteral("the main window"), [] { return mainWindow() != nullptr; }, 60000);
    // The update check runs two seconds after the start.
    addWait(3000);
    planSize(QStringLiteral("1024x700"));
    planSize(QStringLiteral("max"));
}

void ProgramDriver::planSize(const QString& size)
{
    const bool first = size == QLatin1String("1024x700");
    add([this, size, first] {
        prefix = size;
        record(QStringLiteral("size ") + size);
        if (first) {
            QWidget* window = mainWindow();
            window->showNormal();
            window->resize(1024, 700);
            window->move(0, 0);
        } else {
            // As the user does it: the title bar's button.
            if (auto* button = find<QAbstractButton>(QStringLiteral("maxButton")))
                button->click();
        }
        return true;
    });
    addWait(1000);
    addClick(QStringLiteral("pbBook"));
    addClick(QStringLiteral("tbBillList"));
    addWait(800);
    addShot(QStringLiteral("billlist"));

    const QList<QPair<QString, QString>> pages = { { QStringLiteral("pbCategoryAnalysis"), QStringLiteral("category") },
        { QStringLiteral("pbAccountAnalysis"), QStringLiteral("account") },
        { QStringLiteral("pbBorrowerAnalysis"), QStringLiteral("borrower") },
        { QStringLiteral("pbMemberAnalysis"), QStringLiteral("member") },
        { QStringLiteral("pbBillStat"), QStringLiteral("statistics") } };
    for (const auto& [button, name] : pages)
        planAnalysisPage(button, name);
    // Every page again: its bar, labels and table as on the first visit.
    for (const auto& [button, name] : pages) {
        addClick(button);
        addWait(800);
        addShot(name + QStringLiteral("-visit2"));
    }

    if (first)
        planSync();
    addWait(500);
    addShot(QStringLiteral("statusbar-synced"));
    add([this] {
        if (auto* bar = find<QWidget>(QStringLiteral("wgtStatusBar")))
            bar->grab().save(out.filePath(prefix + QStringLiteral("-statusbar.png")), "PNG");
        return true;
    });
    planBooks(first);
    addClick(QStringLiteral("tbData"));
    addWait(500);
    addShot(QStringLiteral("data-page"));
    if (first) {
        planBackupAndExport();
        planImport();
    }
}

void ProgramDriver::planAnalysisPage(const QString& button, const QString& name)
{
    const QString month = QString::number(QDate::currentDate().month());
    const QString year = QStringLiteral("全年");
    addClick(button);
    addWait(1000);
    addShot(name + QStringLiteral("-table-month"));
    addChoose(QStringLiteral("cbMonth"), year);
    addWait(600);
    addShot(name + QStringLiteral("-table-year"));
    addClickWithLoad(QStringLiteral("pbChart"));
    addShot(name + QStringLiteral("-chart-year"));
    addChooseWithLoad(QStringLiteral("cbMonth"), month);
    addShot(name + QStringLiteral("-chart-month"));
    addClickWithLoad(QStringLiteral("pbReport"));
    addShot(name + QStringLiteral("-report-month"));
    addChooseWithLoad(QStringLiteral("cbMonth"), year);
    addShot(name + QStringLiteral("-report-year"));
    addClick(QStringLiteral("pbTable"));
    addChoose(QStringLiteral("cbMonth"), month);
    addWait(300);
}

void ProgramDriver::planSync()
{
    add([this] {
        auto* link = find<QLabel>(QStringLiteral("lblSync"));
        record(QStringLiteral("the status bar's sync link"));
        QMetaObject::invokeMethod(link, "linkActivated", Qt::QueuedConnection, Q_ARG(QString, QStringLiteral("#")));
        return true;
    });
    // No account yet: the program says so and opens the account dialog.
    addModal("DMessageBox", [](QWidget* box) { ModalAnswerer::press(QStringLiteral("确定"))(box); });
    addModal("DSyncConfig", [this](QWidget* dialog) {
        findIn<QLineEdit>(dialog, QStringLiteral("leSyncUsername"))->setText(user);
        findIn<QLineEdit>(dialog, QStringLiteral("leSyncPassword"))->setText(password);
        QMetaObject::invokeMethod(
            findIn<QAbstractButton>(dialog, QStringLiteral("pbOK")), &QAbstractButton::click, Qt::QueuedConnection);
    });
    addUntil(QStringLiteral("the end of the synchronisation"), [this] {
        if (QWidget* box = modal("DMessageBox")) {
            record(QStringLiteral("sync failed: ") + ModalAnswerer::textOf(box));
            failed = true;
            ModalAnswerer::press(QStringLiteral("确定"))(box);
            return true;
        }
        auto* state = find<QLabel>(QStringLiteral("lblSyncTime"));
        return state && state->text().startsWith(QStringLiteral("  上次同步 "));
    });
}

void ProgramDriver::planBooks(bool dialogs)
{
    addClick(QStringLiteral("tbSetting"));
    add([this] {
        if (auto* tabs = find<QTabWidget>(QStringLiteral("tabWidget")))
            tabs->setCurrentWidget(tabs->findChild<QWidget*>(QStringLiteral("tab_4")));
        return true;
    });
    addWait(600);
    addShot(QStringLiteral("settings-books"));
    if (!dialogs)
        return;
    const QString name = QStringLiteral("家庭账本");
    addClick(QStringLiteral("pbCreateBook"), true);
    addModal("QInputDialog", [name](QWidget* dialog) { dialog->findChild<QLineEdit*>()->setText(name); });
    addShot(QStringLiteral("settings-new-book"));
    addModal("QInputDialog", [](QWidget* dialog) { static_cast<QDialog*>(dialog)->accept(); });
    addWait(500);
    addShot(QStringLiteral("settings-created"));
    addModal("DMessageBox", [](QWidget* box) { ModalAnswerer::press(QStringLiteral("确定"))(box); });
    add([name] {
        if (auto* list = find<QListWidget>(QStringLiteral("lwBookList"))) {
            const auto items = list->findItems(name, Qt::MatchExactly);
            if (!items.isEmpty())
                list->setCurrentItem(items.first());
        }
        return true;
    });
    addClick(QStringLiteral("pbRenameBook"), true);
    addModal("QInputDialog", [](QWidget*) {});
    addWait(300);
    addShot(QStringLiteral("settings-rename"));
    addModal("QInputDialog", [](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); });
}

void ProgramDriver::planSaveAs(const QString& button, const QString& fileName, const QString& what)
{
    addClick(button, true);
    addModal("QFileDialog", [](QWidget*) {});
    addWait(500);
    addShot(what + QStringLiteral("-dialog"));
    addModal("QFileDialog", [fileName](QWidget* dialog) {
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(fileName);
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
    });
    addModal("DMessageBox", [](QWidget*) {});
    addWait(300);
    addShot(what + QStringLiteral("-done"));
    addModal("DMessageBox", [](QWidget* box) { ModalAnswerer::press(QStringLiteral("确定"))(box); });
}

void ProgramDriver::planBackupAndExport()
{
    addClick(QStringLiteral("tbData"));
    planSaveAs(QStringLiteral("pbBackup"), QStringLiteral("演示-手动备份.db"), QStringLiteral("backup"));
    addClick(QStringLiteral("pbBook"));
    addClick(QStringLiteral("pbAccountAnalysis"));
    addWait(500);
    addClickWithLoad(QStringLiteral("pbReport"));
    planSaveAs(QStringLiteral("pbExport"), QStringLiteral("账户报表"), QStringLiteral("export"));
    addClick(QStringLiteral("pbTable"));
}

void ProgramDriver::planImport()
{
    if (statement.isEmpty())
        return;
    addClick(QStringLiteral("tbData"));
    addClick(QStringLiteral("pbImport"), true);
    addModal("DImport", [](QWidget* dialog) {
        QMetaObject::invokeMethod(findIn<QAbstractButton>(dialog, QStringLiteral("pbChooseFile")),
            &QAbstractButton::click, Qt::QueuedConnection);
    });
    addModal("QFileDialog", [](QWidget*) {});
    addWait(500);
    addShot(QStringLiteral("import-choose"));
    addModal("QFileDialog", [this](QWidget* dialog) {
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(statement);
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
    });
    // Each step as the user sees it, then on to the next; the last one is cancelled.
    for (int step = 1; step <= 4; ++step) {
        addModal("DImport", [](QWidget*) {});
        addWait(800);
        addShot(QStringLiteral("import-step%1").arg(step));
        if (step < 4) {
            addModal("DImport", [this](QWidget* dialog) {
                auto* next = findIn<QAbstractButton>(dialog, QStringLiteral("pbNext"));
                if (!next || !next->isEnabled()) {
                    record(QStringLiteral("no button pbNext enabled in the import dialog"));
                    failed = true;
                    return;
                }
                next->click();
            });
        }
    }
    addModal("DImport", [](QWidget* dialog) {
        QMetaObject::invokeMethod(
            findIn<QAbstractButton>(dialog, QStringLiteral("pbCancel")), &QAbstractButton::click, Qt::QueuedConnection);
    });
    addUntil(QStringLiteral("the import dialog to close"), [] { return !modal("DImport"); });
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startDriver)

#include "programdriver.moc"
