// quorvane-analysis-memory BOOK: the resident memory of the program with BOOK open in the main
// window, at start-up and after charts. It starts as the program does (the web engine's set-up
// before the application object), shows the main window with every bill, then shows the chart of
// each analysis page in turn. It prints, in kB: 1 (X11) or 0 (offscreen), the peak and the current
// resident memory at start-up, the same after the first chart, the peak after a chart on every
// page, and the resident memory of the web engine's own processes then.
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
#include "data/constants.h"
#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "shell/mainwindow.h"

namespace {

bool chartDrawn(ReportView* view)
{
    bool drawn = false;
    QEventLoop loop;
    view->runJavaScript(
        QStringLiteral("typeof chart !== 'undefined' && chart.drawn === true"), [&](const QVariant& result) {
            drawn = result.toBool();
            loop.quit();
        });
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    loop.exec();
    return drawn;
}

bool waitForChart(ReportView* view)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 120000) {
        if (chartDrawn(view))
            return true;
        QEventLoop pause;
        QTimer::singleShot(50, &pause, &QEventLoop::quit);
        pause.exec();
    }
    return false;
}

// The resident memory of every process below this one (the web engine's zygote and renderers).
long childrenRssKb()
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
    long total = 0;
    for (auto it = parents.constBegin(); it != parents.constEnd(); ++it) {
        QString ancestor = it.value();
        while (!ancestor.isEmpty() && ancestor != self && ancestor != QLatin1String("0") && parents.contains(ancestor))
            ancestor = parents.value(ancestor);
        if (ancestor != self)
            continue;
        total += statusKbOf(it.key().toLongLong(), "VmRSS");
    }
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
        page->findChild<QPushButton*>(QStringLiteral("pbChart"))->click();
        if (!page->getReportView() || !waitForChart(page->getReportView())) {
            std::fprintf(stderr, "the chart of %s was not drawn\n", each.page);
            return 1;
        }
        QCoreApplication::processEvents();
        if (figures.size() == 3) {
            figures.push_back(statusKb("VmHWM"));
            figures.push_back(statusKb("VmRSS"));
        }
    }
    figures.push_back(statusKb("VmHWM"));
    figures.push_back(childrenRssKb());
    for (size_t i = 0; i < figures.size(); ++i)
        std::printf(i == 0 ? "%ld" : " %ld", figures[i]);
    std::printf("\n");
    window.reset();
    return 0;
}
