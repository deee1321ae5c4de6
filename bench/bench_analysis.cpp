#include "bench_analysis.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "analysis/reporthelper.h"
#include "analysis/waccountanalysis.h"
#include "analysis/wbillstat.h"
#include "analysis/wborroweranalysis.h"
#include "analysis/wcategoryanalysis.h"
#include "analysis/wmemberanalysis.h"
#include "benchsupport.h"
#include "data/constants.h"
#include "data/dbhelper.h"
#include "data/filesetting.h"

namespace {

bool copyFresh(const QString& from, const QString& to)
{
    QFile::remove(to);
    return QFile::copy(from, to) && QFile::setPermissions(to, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

void closeBook()
{
    const QString name = QLatin1String(QSqlDatabase::defaultConnection);
    if (QSqlDatabase::contains(name)) {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
}

// A page shown offscreen in a window of its own (showing it binds it).
struct ShownPage {
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    WAnalysisPage* page;

    explicit ShownPage(WAnalysisPage* shown)
        : page(shown)
    {
        window->resize(1200, 800);
        (new QVBoxLayout(window.get()))->addWidget(page);
        window->show();
        QCoreApplication::processEvents();
    }

    void choose(const char* combo, int data) const
    {
        auto* box = page->findChild<QComboBox*>(combo);
        box->setCurrentIndex(box->findData(data));
    }

    // A refresh as the user sees it: the choice in combo, the figures and the table painted.
    Timing refresh(int runs, Floor& floor, const char* combo, int from, int to) const
    {
        auto* table = page->findChild<QAbstractItemView*>(QStringLiteral("tableWidget"));
        if (!table)
            table = page->findChild<QAbstractItemView*>(QStringLiteral("twBillStat"));
        return timeStep(
            runs, floor, [&] { choose(combo, from); },
            [&] {
                choose(combo, to);
                table->viewport()->repaint();
            });
    }
};

struct Row {
    const char* name;
    std::function<Timing(int runs, Floor& floor)> step;
};

std::vector<Timing> benchBook(const QString& generated, const QString& root, int runs, const std::vector<Row>& rows)
{
    const QString book = root + QStringLiteral("/analysis.db");
    const QString floorBook = root + QStringLiteral("/analysis-floor.db");
    std::vector<Timing> timings;
    QDir().mkpath(root);
    // The connection settings the program makes when it opens the book apply to the floor too.
    Statements opening;
    StatementRecorder::start(&opening);
    const bool opened
        = copyFresh(generated, book) && copyFresh(generated, floorBook) && DBHelper::openDefaultConnection(book);
    StatementRecorder::stop();
    if (!opened) {
        std::fprintf(stderr, "cannot open a copy of %s\n", qPrintable(generated));
        return timings;
    }
    Floor floor;
    floor.open(floorBook);
    floor.run(opening);
    for (const Row& row : rows)
        timings.push_back(row.step(runs, floor));
    floor.close();
    closeBook();
    return timings;
}

// Runs quorvane-analysis-memory on book and gives its figures (kB), empty when it failed.
std::vector<long> memoryOf(const QString& book)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Where there is an X server, memory is measured on it: offscreen, no OpenGL is ever loaded.
    if (!qEnvironmentVariableIsEmpty("DISPLAY"))
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationDirPath() + QStringLiteral("/quorvane-analysis-memory"), { book });
    return figuresOf(child, 600000);
}

} // namespace

void benchAnalyses(const std::vector<int>& sizes, const std::function<QString(int bills)>& bookPath, int runs)
{
    QTemporaryDir home;
    Constants::Roots roots;
    roots.appDir = home.filePath(QStringLiteral("app"));
    QDir().mkpath(roots.appDir);
    Constants::setInstance(new Constants(roots));
    FileSetting::setInstance(new FileSetting(home.filePath(QStringLiteral("Quorvane.ini"))));

    // The last whole year: the bills run up to today.
    const int year = QDate::currentDate().year() - 1;
    std::unique_ptr<ShownPage> shown;
    const auto figures = [](const QString& scope, int value) {
        return [scope, value](int runs, Floor& floor) {
            return timeStep(
                runs, floor, [] {}, [&] { ReportHelper().getCategoryData(QStringLiteral("expense"), scope, value); });
        };
    };
    // A page's refresh; make (when given) first shows a new page on the whole of this year, untimed.
    const auto refresh = [&shown](std::function<WAnalysisPage*()> make, const char* combo, int from, int to) {
        return [&shown, make, combo, from, to](int runs, Floor& floor) {
            if (make) {
                shown = std::make_unique<ShownPage>(make());
                shown->choose("cbMonth", 0);
            }
            return shown->refresh(runs, floor, combo, from, to);
        };
    };
    const std::vector<Row> rows = {
        { "category figures, one year", figures(QStringLiteral("year"), year) },
        { "category figures, all years", figures(QStringLiteral("all"), 0) },
        { "category page, one year", refresh([] { return new WCategoryAnalysis; }, "cbYear", 0, year) },
        { "category page, all years", refresh(nullptr, "cbYear", year, 0) },
        { "account page, one year", refresh([] { return new WAccountAnalysis; }, "cbYear", 0, year) },
        { "account page, all years", refresh(nullptr, "cbYear", year, 0) },
        { "borrower page, one year", refresh([] { return new WBorrowerAnalysis; }, "cbYear", 0, year) },
        { "borrower page, all years", refresh(nullptr, "cbYear", year, 0) },
        { "member page, one year", refresh([] { return new WMemberAnalysis; }, "cbYear", 0, year) },
        { "member page, all years", refresh(nullptr, "cbYear", year, 0) },
        { "statistics page, one year", refresh([] { return new WBillStat; }, "cbYear", year - 1, year) },
        { "statistics page, one month", refresh(nullptr, "cbMonth", 0, 6) },
    };

    std::vector<std::vector<Timing>> books;
    for (int bills : sizes) {
        books.push_back(benchBook(bookPath(bills), home.filePath(QString::number(bills)), runs, rows));
        shown.reset();
    }
    std::vector<TableRow> table;
    for (size_t step = 0; step < rows.size(); ++step) {
        TableRow row { rows[step].name, {}, {} };
        for (const std::vector<Timing>& book : books)
            row.timings.push_back(step < book.size() ? book[step] : Timing {});
        table.push_back(row);
    }
    std::printf("\nAnalyses (%d is the year; tables include the repaint):\n\n", year);
    printTable(sizes, table);
    // The first chart, in a process that starts as the program does, a few times (each start is a
    // new web engine); each figure is the median of those runs.
    const int chartRuns = std::max(1, std::min(runs, 5));
    std::vector<std::vector<long>> charts;
    for (int bills : sizes) {
        std::vector<std::vector<long>> each;
        for (int run = 0; run < chartRuns; ++run) {
            std::vector<long> kb = memoryOf(bookPath(bills));
            if (kb.size() >= 12)
                each.push_back(std::move(kb));
        }
        std::vector<long> medians;
        for (size_t figure = 0; !each.empty() && figure < each.front().size(); ++figure) {
            std::vector<double> values;
            for (const std::vector<long>& kb : each)
                values.push_back(double(kb[figure]));
            medians.push_back(long(median(values)));
        }
        charts.push_back(medians);
    }
    const auto chartRow
        = [&](const char* name, const char* unit, const std::function<double(const std::vector<long>&)>& of) {
              TableRow row { name, {}, unit };
              for (const std::vector<long>& kb : charts)
                  row.timings.push_back(Timing { kb.empty() ? 0.0 : of(kb), 0, false });
              return row;
          };
    const auto mib = [](long kb) { return double(kb) / 1024.0; };
    std::printf(
        "\nThe first chart (the category page's, a process started as the program is, median of %d starts%s):\n\n",
        chartRuns, !charts.empty() && !charts.front().empty() && charts.front()[0] == 1 ? ", X11" : "");
    printTable(sizes,
        { chartRow(
              "first chart: drawn after the click", "ms", [](const std::vector<long>& kb) { return double(kb[5]); }),
            chartRow("program: peak resident memory at start-up (VmHWM)", "MiB",
                [&](const std::vector<long>& kb) { return mib(kb[1]); }),
            chartRow("program: peak resident memory after the first chart (VmHWM)", "MiB",
                [&](const std::vector<long>& kb) { return mib(kb[3]); }),
            chartRow("program: proportional set size after the first chart (PSS)", "MiB",
                [&](const std::vector<long>& kb) { return mib(kb[6]); }),
            chartRow("web engine processes: PSS after the first chart", "MiB",
                [&](const std::vector<long>& kb) { return mib(kb[7]); }),
            chartRow("all processes: PSS after the first chart", "MiB",
                [&](const std::vector<long>& kb) { return mib(kb[6] + kb[7]); }),
            chartRow("web engine processes after the first chart", "processes",
                [](const std::vector<long>& kb) { return double(kb[8]); }),
            chartRow("program: peak after a chart on each of the five pages", "MiB",
                [&](const std::vector<long>& kb) { return mib(kb[9]); }),
            chartRow("all processes: PSS after a chart on each of the five pages", "MiB",
                [&](const std::vector<long>& kb) { return mib(kb[11]); }) });
    FileSetting::setInstance(nullptr);
    Constants::setInstance(nullptr);
}
