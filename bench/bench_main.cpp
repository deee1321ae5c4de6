// Times the main road of the program on generated books of each size: opening the book, the main
// window's bill list for the current month and for all bills, a page turn, a filter change, a search,
// a bill added with everything that listens to it, and the status bar's totals. Beside each figure
// stands the time of the same SQL statements run through SQLite's C API on a copy of the same book.
#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QProcess>
#include <QPushButton>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QTreeView>
#include <QWindow>
#include <cstdio>
#include <memory>

#include "bench_analysis.h"
#include "benchsupport.h"
#include "bills/mbillmodel.h"
#include "bills/wbilllist.h"
#include "bookgenerator.h"
#include "data/constants.h"
#include "data/dbhelper.h"
#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "data/maccount.h"
#include "data/mbill.h"
#include "data/mborrower.h"
#include "data/mcategory.h"
#include "data/mmember.h"
#include "data/settingkeys.h"
#include "shell/mainwindow.h"
#include "shell/ustatusbar.h"

namespace {

const char* const bookName = "bench.db";

// A private program folder under root: books, settings and backups never touch a real home.
void useProgramFolder(const QString& root)
{
    Constants::Roots roots;
    roots.appDir = root + QStringLiteral("/app");
    roots.documentsRoot = root + QStringLiteral("/documents");
    roots.configRoot = root + QStringLiteral("/config");
    QDir().mkpath(roots.appDir);
    Constants::setInstance(new Constants(roots));
    Constants::makeDir(Constants::getInstance()->getDbDir());
    FileSetting::setInstance(new FileSetting(Constants::getInstance()->getSettingDir() + "Quorvane.ini"));
    FileSetting* settings = FileSetting::getInstance();
    settings->setValue(SettingKeys::BackupWhenStartup, false);
    settings->setValue(SettingKeys::BackupWhenClose, false);
    settings->setValue(SettingKeys::EnableAutoUpdate, false);
    MainWindow::environment().trayAvailable = [] { return false; };
}

bool copyFresh(const QString& from, const QString& to)
{
    QFile::remove(to);
    return QFile::copy(from, to) && QFile::setPermissions(to, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

// Closes the default connection and forgets everything read from its book.
void forgetBook()
{
    DbSetting::setInstance(nullptr);
    const QString name = QLatin1String(QSqlDatabase::defaultConnection);
    if (QSqlDatabase::contains(name)) {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
    MAccount::clearCache();
    MBorrower::clearCache();
    MCategory::clearCache();
    MMember::clearCache();
    MBill::resetState();
}

// Builds the main window on the book in the program folder and shows it, offscreen.
std::unique_ptr<MainWindow> showMainWindow()
{
    auto window = std::make_unique<MainWindow>();
    window->resize(1200, 800);
    window->show();
    QElapsedTimer waited;
    waited.start();
    while ((!window->windowHandle() || !window->windowHandle()->isExposed()) && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QCoreApplication::processEvents();
    return window;
}

// The bill the user adds: an expense of today.
void addBill()
{
    const QDate today = QDate::currentDate();
    MBill bill;
    bill.setKind(QStringLiteral("expense"));
    bill.setAmount(-12.5);
    bill.setDescription(QStringLiteral("基准"));
    bill.setDate(today);
    bill.setMonth(today.year() * 100 + today.month());
    bill.setCategoryId(QStringLiteral("01"));
    bill.setSubCategoryId(QStringLiteral("01"));
    bill.setAccountId(QStringLiteral("01"));
    bill.setMemberId(QStringLiteral("01"));
    bill.setTitle(QStringLiteral("午饭"));
    MBill::insert(&bill);
}

struct BookFigures {
    std::vector<Timing> steps;
    // VmRSS before the window, VmRSS, RssAnon and RssFile with it: the memory map of the book
    // counts as file pages.
    std::vector<long> memoryKb;
    int monthBills = 0;
    int found = 0;
    int pageSize = 0;
};

// The resident memory of a process that has the book open in the main window with every bill shown:
// measured in a process of its own, so that nothing of the timed runs counts.
int measureMemory(const QString& book)
{
    QTemporaryDir home;
    useProgramFolder(home.path());
    if (!copyFresh(book, Constants::getInstance()->getDbDir() + bookName))
        return 1;
    Constants::getInstance()->setBookName(QLatin1String(bookName));
    const long before = statusKb("VmRSS");
    std::unique_ptr<MainWindow> window = showMainWindow();
    const auto* tree = window->findChild<WBillList*>()->findChild<QTreeView*>(QStringLiteral("tvBillList"));
    const int shown = int(dynamic_cast<MBillModel*>(tree->model())->getBillList()->size());
    std::printf("%ld %ld %ld %ld %d\n", before, statusKb("VmRSS"), statusKb("RssAnon"), statusKb("RssFile"), shown);
    window.reset();
    forgetBook();
    return 0;
}

std::vector<long> memoryOf(const QString& program, const QString& book)
{
    QProcess child;
    child.start(program, { QStringLiteral("--memory-of"), book });
    std::vector<long> values;
    if (!child.waitForFinished(300000) || child.exitCode() != 0)
        return values;
    for (const QByteArray& value : child.readAllStandardOutput().trimmed().split(' '))
        values.push_back(value.toLong());
    return values;
}

BookFigures benchBook(const QString& generated, const QString& root, int runs, const QString& program)
{
    BookFigures figures;
    useProgramFolder(root);
    const QString bookPath = Constants::getInstance()->getDbDir() + bookName;
    const QString floorPath = root + QStringLiteral("/floor.db");
    copyFresh(generated, bookPath);
    copyFresh(generated, floorPath);
    Constants::getInstance()->setBookName(QLatin1String(bookName));
    Floor floor;

    // Opening: the main window's road on a fresh copy each time, beside opening the floor's copy and
    // running the same statements.
    {
        const QString openPath = root + QStringLiteral("/open.db");
        const QString floorOpenPath = root + QStringLiteral("/floor-open.db");
        std::vector<double> program;
        std::vector<double> floorTimes;
        for (int i = 0; i < runs; ++i) {
            forgetBook();
            copyFresh(generated, openPath);
            copyFresh(generated, floorOpenPath);
            Statements statements;
            StatementRecorder::start(&statements);
            QElapsedTimer timer;
            timer.start();
            if (!DBHelper::openDefaultConnection(openPath) || !DBHelper::getInstance()->upgrade())
                std::fprintf(stderr, "cannot open %s\n", qPrintable(openPath));
            program.push_back(double(timer.nsecsElapsed()) / 1e6);
            StatementRecorder::stop();
            timer.restart();
            floor.open(floorOpenPath);
            floor.run(statements);
            floorTimes.push_back(double(timer.nsecsElapsed()) / 1e6);
            floor.close();
        }
        figures.steps.push_back({ median(program), median(floorTimes), true });
        forgetBook();
    }

    // Start-up: the main window built and shown, its bill list showing every bill.
    floor.open(floorPath);
    std::unique_ptr<MainWindow> window;
    figures.steps.push_back(timeStep(
        1, floor, [] {}, [&] { window = showMainWindow(); }));

    auto* page = window->findChild<WBillList*>();
    auto* tree = page->findChild<QTreeView*>(QStringLiteral("tvBillList"));
    auto* months = page->findChild<QComboBox*>(QStringLiteral("cbMonthList"));
    auto* accounts = page->findChild<QComboBox*>(QStringLiteral("cbAccountList"));
    auto* searchBox = page->findChild<QLineEdit*>(QStringLiteral("leSeacrh"));
    auto* searchButton = page->findChild<QPushButton*>(QStringLiteral("pbSearch"));
    auto* next = page->findChild<QPushButton*>(QStringLiteral("pbNext"));
    auto* first = page->findChild<QPushButton*>(QStringLiteral("pbFirst"));
    auto* statusBar = window->findChild<UStatusBar*>();
    auto* model = dynamic_cast<MBillModel*>(tree->model());
    const QDate today = QDate::currentDate();
    const int currentMonth = months->findData(today.year() * 100 + today.month());
    // What the user sees is the page painted.
    const auto paint = [tree] { tree->viewport()->repaint(); };
    const auto noPrepare = [] {};

    figures.steps.push_back(timeStep(
        runs, floor, [&] { months->setCurrentIndex(0); },
        [&] {
            months->setCurrentIndex(currentMonth);
            paint();
        }));
    figures.monthBills = int(model->getBillList()->size());
    figures.steps.push_back(timeStep(
        runs, floor, [&] { months->setCurrentIndex(currentMonth); },
        [&] {
            months->setCurrentIndex(0);
            paint();
        }));
    figures.pageSize = model->getPageSize();
    figures.steps.push_back(timeStep(
        runs, floor, [&] { first->click(); },
        [&] {
            next->click();
            paint();
        }));
    figures.steps.push_back(timeStep(
        runs, floor, [&] { accounts->setCurrentIndex(0); },
        [&] {
            accounts->setCurrentIndex(1);
            paint();
        }));
    accounts->setCurrentIndex(0);
    figures.steps.push_back(timeStep(
        runs, floor, [&] { searchBox->clear(); },
        [&] {
            searchBox->setText(QStringLiteral("O'Brien"));
            searchButton->click();
            paint();
        }));
    figures.found = int(model->getBillList()->size());
    searchBox->clear();
    figures.steps.push_back(timeStep(runs, floor, noPrepare, [&] {
        addBill();
        paint();
    }));
    figures.steps.push_back(timeStep(runs, floor, noPrepare,
        [&] { QMetaObject::invokeMethod(statusBar, "billDataChanged", Qt::DirectConnection); }));

    window.reset();
    floor.close();
    forgetBook();
    figures.memoryKb = memoryOf(program, generated);
    figures.memoryKb.resize(4);
    return figures;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Before any connection opens, so that every statement of the program is seen.
    StatementRecorder::install();
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\nqt.qpa.*=false"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Times the program's main road on generated books beside SQLite's C API."));
    parser.addHelpOption();
    const QCommandLineOption sizesOption(QStringLiteral("sizes"),
        QStringLiteral("Comma-separated numbers of bills, one book each."), QStringLiteral("list"),
        QStringLiteral("10000,100000"));
    const QCommandLineOption yearsOption(
        QStringLiteral("years"), QStringLiteral("Years the bills span, up to today."), QStringLiteral("n"), "5");
    const QCommandLineOption runsOption(
        QStringLiteral("runs"), QStringLiteral("Runs per figure (median)."), QStringLiteral("n"), "7");
    const QCommandLineOption memoryOption(QStringLiteral("memory-of"),
        QStringLiteral("Only print the resident memory with this book shown."), QStringLiteral("book"));
    const QCommandLineOption sqlOption(
        QStringLiteral("show-sql"), QStringLiteral("Print the statements of every step on stderr."));
    parser.addOptions({ sizesOption, yearsOption, runsOption, memoryOption, sqlOption });
    parser.process(app);
    showStatements(parser.isSet(sqlOption));
    if (parser.isSet(memoryOption))
        return measureMemory(parser.value(memoryOption));

    const int runs = std::max(1, parser.value(runsOption).toInt());
    std::vector<int> sizes;
    for (const QString& size : parser.value(sizesOption).split(QLatin1Char(','), Qt::SkipEmptyParts))
        sizes.push_back(size.toInt());
    QTemporaryDir home;
    std::vector<BookFigures> books;
    for (int bills : sizes) {
        BookGenerator::Options options;
        options.bills = bills;
        options.years = std::max(1, parser.value(yearsOption).toInt());
        const QString generated = home.filePath(QStringLiteral("%1.db").arg(bills));
        QString error;
        if (!BookGenerator::generate(generated, options, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        books.push_back(
            benchBook(generated, home.filePath(QString::number(bills)), runs, QCoreApplication::applicationFilePath()));
        std::fprintf(stderr, "%d bills done\n", bills);
    }

    const char* const names[] = { "open and upgrade the book", "main window start-up, all bills (1 run)",
        "bill list: current month (filter change)", "bill list: all bills (filter change)", "page turn, all bills",
        "filter change: one account", "search \"O'Brien\"", "bill added, all bills shown",
        "status bar totals (both lines)" };
    std::vector<TableRow> rows;
    for (size_t step = 0; step < std::size(names); ++step) {
        TableRow row { names[step], {} };
        for (const BookFigures& book : books)
            row.timings.push_back(book.steps.at(step));
        rows.push_back(row);
    }
    std::printf("\nBills over %d years up to %s; median of %d runs; the SQLite column runs the statements the "
                "program ran, on a copy of the same book.\n\n",
        std::max(1, parser.value(yearsOption).toInt()), qPrintable(QDate::currentDate().toString(Qt::ISODate)), runs);
    printTable(sizes, rows);
    std::printf("\n");
    for (size_t i = 0; i < books.size(); ++i) {
        const std::vector<long>& kb = books[i].memoryKb;
        std::printf("- %d bills: the current month has %d, the search finds %d, %d bills a page. Resident memory "
                    "(VmRSS) with the book open and every bill shown: %.1f MB (%.1f MB of it anonymous, %.1f MB "
                    "file pages); %.1f MB before the window was built.\n",
            sizes[i], books[i].monthBills, books[i].found, books[i].pageSize, double(kb[1]) / 1024.0,
            double(kb[2]) / 1024.0, double(kb[3]) / 1024.0, double(kb[0]) / 1024.0);
    }
    benchAnalyses(
        sizes, [&home](int bills) { return home.filePath(QStringLiteral("%1.db").arg(bills)); }, runs);
    return 0;
}
