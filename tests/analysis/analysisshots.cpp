// Saves pictures of the analysis pages in their three views on a book, for looking at them:
//
//     xvfb-run -a -s "-screen 0 1280x900x24" env LANG=zh_CN.UTF-8 build/quorvane_analysis_shots BOOK.db /tmp/shots
//
// Page names after the folder choose the pages (all by default); --all-data starts the pages on all
// years, as the setting of that name does.
//
// BOOK.db is copied into a private program folder first (quorvane-bookgen writes a realistic one);
// each page is shown at 1200 × 760 and saved as <page>-table.png, -chart.png and -report.png.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <cstdio>

#include "analysis/reportviewloader.h"
#include "analysis/wanalysispage.h"
#include "analysisbook.h"
#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "testenv.h"
#include "webtesting.h"

namespace {

const QStringList pages = { "category", "account", "borrower", "member", "statistics" };

bool shoot(const QString& name, WAnalysisPage* page, const QString& folder)
{
    QWidget window;
    window.resize(1200, 760);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(page);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return false;
    QTest::qWait(200);
    bool ok = window.grab().save(folder + "/" + name + "-table.png");
    for (const char* mode : { "chart", "report" }) {
        page->findChild<QPushButton*>(mode == QLatin1String("chart") ? "pbChart" : "pbReport")->click();
        ReportView* view = page->getReportView();
        if (!view)
            return false;
        if (!(mode == QLatin1String("chart") ? WebTesting::waitForChart(view) : WebTesting::waitForReport(view)))
            std::fprintf(stderr, "%s: the %s did not finish\n", qPrintable(name), mode);
        QTest::qWait(300);
        ok = window.grab().save(folder + "/" + name + "-" + mode + ".png") && ok;
    }
    return ok;
}

} // namespace

int main(int argc, char* argv[])
{
    ReportViewLoader::prepareApplication();
    QApplication app(argc, argv);
    ReportViewLoader::applicationCreated();
    QStringList arguments = app.arguments();
    const bool allData = arguments.removeAll(QStringLiteral("--all-data")) > 0;
    if (arguments.size() < 3) {
        std::fprintf(stderr, "usage: %s BOOK.db FOLDER [page ...]\n", argv[0]);
        return 2;
    }
    TestEnv env;
    FileSetting::getInstance()->setValue(SettingKeys::AnalysisAllData, allData);
    const QString book = env.dataDir() + "shots.db";
    QDir().mkpath(env.dataDir());
    if (!QFile::copy(arguments.at(1), book) || !TestBook::openDefault(book)) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(arguments.at(1)));
        return 1;
    }
    QDir().mkpath(arguments.at(2));
    const QStringList chosen = arguments.mid(3);
    int failures = 0;
    for (const QString& name : pages) {
        if (!chosen.isEmpty() && !chosen.contains(name))
            continue;
        if (!shoot(name, makeAnalysisPage(name), arguments.at(2)))
            ++failures;
    }
    TestBook::closeDefault();
    return failures == 0 ? 0 : 1;
}
