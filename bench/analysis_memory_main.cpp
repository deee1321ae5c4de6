// quorvane-analysis-memory BOOK: the memory of the program with BOOK open in the main window, at
// start-up and after charts, and the time the first chart takes. It starts as the program does (the
// web engine's set-up before the application object), shows the main window with every bill, then
// shows the chart of each analysis page in turn. It prints: 1 (X11) or 0 (offscreen); in kB the peak
// and the current resident memory at start-up and the same after the first chart; the milliseconds
// from the click on the first page's chart button until its chart was drawn; in kB the proportional
// set size (PSS) of this process and of all the web engine's processes together after the first
// chart, and the number of those processes; then the peak after a chart on every page, the resident
// memory of the engine's processes then, and the PSS of every process then.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QLoggingCategory>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <memory>
#include <unistd.h>

#include "analysis/reportview.h"
#include "analysis/reportviewloader.h"
#include "analysis/wanalysispage.h"
#include "benchsupport.h"
#include "data/booklock.h"
#include "data/constants.h"
#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "shell/mainwindow.h"

namespace {

bool chartDrawn(ReportView* view, int timeoutMs = 30000)
{
    bool drawn = false;
    QEventLoop loop;
    view->runJavaScript(
        QStringLiteral("typeof chart !== 'undefined' && chart.drawn === true"), [&](const QVariant& result) {
            drawn = result.toBool();
            loop.quit();
        });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return drawn;
}

// Asks every pollMs whether the chart is drawn.
bool waitForChart(ReportView* view, int pollMs = 50)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 120000) {
        if (chartDrawn(view))
            return true;
        QEventLoop pause;
        QTimer::singleShot(pollMs, &pause, &QEventLoop::quit);
        pause.exec();
    }
    return false;
}

// The processes below this one (the web engine's zygotes and renderers).
QStringList childProcesses()
{
    QHash<QString, QString> parents;
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList({ QStringLiteral("[0-9]*") }, QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/") + pid + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QString line = QString::fromUtf8(stat.readAll());
        parents.insert(pid, line.mid(line.lastIndexOf(QLatin1Char(')')) + 2).split(QLatin1Char(' ')).value(1));
    }
    const QString self = QString::number(::getpid());
    QStringList children;
    for (auto it = parents.constBegin(); it != parents.constEnd(); ++it) {
        QString ancestor = it.value();
        while (!ancestor.isEmpty() && ancestor != self && ancestor != QLatin1String("0") && parents.contains(ancestor))
            ancestor = parents.value(ancestor);
        if (ancestor == self)
            children << it.key();
    }
    return children;
}

long childrenRssKb()
{
    long total = 0;
    for (const QString& pid : childProcesses())
        total += statusKbOf(pid.toLongLong(), "VmRSS");
    return total;
}

long childrenPssKb()
{
    long total = 0;
    for (const QString& pid : childProcesses())
        total += pssKbOf(pid.toLongLong());
    return total;
}

} // namespace

int main(int argc, char* argv[])
{
    ReportViewLoader::prepareApplication();
    QApplication app(argc, argv);
    ReportViewLoader::applicationCreated();
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\nqt.qpa.*=false\nqt.webenginecontext.info=false"));
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s BOOK\n", argv[0]);
        return 2;
    }

    QTemporaryDir home;
    Constants::Roots roots;
    roots.appDir = home.filePath(QStringLiteral("app"));
    QDir().mkpath(roots.appDir);
    Constants::setInstance(new Constants(roots));
    Constants::makeDir(Constants::getInstance()->getDbDir());
    FileSetting::setInstance(new FileSetting(Constants::getInstance()->getSettingDir() + "Quorvane.ini"));
    for (const QString& key :
        { SettingKeys::BackupWhenStartup, SettingKeys::BackupWhenClose, SettingKeys::EnableAutoUpdate })
        FileSetting::getInstance()->setValue(key, false);
    MainWindow::environment().trayAvailable = [] { return false; };
    const QString book = Constants::getInstance()->getDbDir() + QStringLiteral("memory.db");
    if (!QFile::copy(QString::fromLocal8Bit(argv[1]), book))
        return 1;
    Constants::getInstance()->setBookName(QStringLiteral("memory.db"));

    auto window = std::make_unique<MainWindow>();
    window->resize(1200, 800);
    window->show();
    QElapsedTimer waited;
    waited.start();
    while ((!window->windowHandle() || !window->windowHandle()->isExposed()) && waited.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QCoreApplication::processEvents();
    std::vector<long> figures
        = { QGuiApplication::platformName() == QLatin1String("xcb") ? 1 : 0, statusKb("VmHWM"), statusKb("VmRSS") };

    const struct {
        const char* button;
        const char* page;
    } pages[] = { { "pbCategoryAnalysis", "wgtCategoryAnalysis" }, { "pbAccountAnalysis", "wgtAccountAnalysis" },
        { "pbBorrowerAnalysis", "wgtBorrowerAnalysis" }, { "pbMemberAnalysis", "wgtMemberAnalysis" },
        { "pbBillStat", "wgtBillStat" } };
    for (const auto& each : pages) {
        window->findChild<QPushButton*>(QLatin1String(each.button))->click();
        auto* page = window->findChild<WAnalysisPage*>(QLatin1String(each.page));
        if (!page)
            continue;
        QCoreApplication::processEvents();
        const bool first = figures.size() == 3;
        QElapsedTimer clicked;
        clicked.start();
        page->findChild<QPushButton*>(QStringLiteral("pbChart"))->click();
        // The first chart is watched closely: its time is a figure of its own.
        if (!page->getReportView() || !waitForChart(page->getReportView(), first ? 2 : 50)) {
            std::fprintf(stderr, "the chart of %s was not drawn\n", each.page);
            return 1;
        }
        const qint64 drawnMs = clicked.elapsed();
        QCoreApplication::processEvents();
        if (first) {
            figures.push_back(statusKb("VmHWM"));
            figures.push_back(statusKb("VmRSS"));
            figures.push_back(long(drawnMs));
            figures.push_back(pssKbOf(::getpid()));
            figures.push_back(childrenPssKb());
            figures.push_back(long(childProcesses().size()));
        }
    }
    figures.push_back(statusKb("VmHWM"));
    figures.push_back(childrenRssKb());
    figures.push_back(pssKbOf(::getpid()) + childrenPssKb());
    for (size_t i = 0; i < figures.size(); ++i)
        std::printf(i == 0 ? "%ld" : " %ld", figures[i]);
    std::printf("\n");
    window.reset();
    // The open book's lock lives beside the book in the temporary folder, which goes first.
    BookLock::releaseOpenBook();
    return 0;
}
