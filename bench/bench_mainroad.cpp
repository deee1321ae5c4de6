// The main road of the program on a generated book: opening it, the main window with its bill list,
// filter changes, paging, a search, bills added, changed and deleted while every bill is shown (bill
// list, status bar, balances and month list all follow), the status bar's totals, and the resident
// memory with every bill shown, measured in a process of its own.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTreeView>
#include <cstdio>
#include <memory>

#include "benchprogram.h"
#include "benchsupport.h"
#include "bills/mbillmodel.h"
#include "bills/wbilllist.h"
#include "data/billindex.h"
#include "data/constants.h"
#include "data/dbhelper.h"
#include "data/mbill.h"
#include "shell/mainwindow.h"
#include "shell/ustatusbar.h"

namespace {

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

// Leaves in memory only what a start reads, the list of every bill and the sums: the next filter
// change reads its bills from the book, and so does the next page turn. Untimed.
void keepOnlyTheStart()
{
    BillIndex::forget();
    BillIndex::count(QStringLiteral(" 1=1 "));
    BillIndex::months();
}

// The resident memory of a process that has the book open in the main window with every bill shown:
// measured in a process of its own, so that nothing of the timed runs counts.
int measureMemory(const QString& book)
{
    QTemporaryDir home;
    useProgramFolder(home.path());
    if (!copyFresh(book, Constants::getInstance()->getDbDir() + benchBookName))
        return 1;
    Constants::getInstance()->setBookName(QLatin1String(benchBookName));
    const long before = statusKb("VmRSS");
    std::unique_ptr<MainWindow> window = showMainWindow();
    const auto* tree = window->findChild<WBillList*>()->findChild<QTreeView*>(QStringLiteral("tvBillList"));
    const int shown = dynamic_cast<MBillModel*>(tree->model())->getBillCount();
    std::printf("%ld %ld %ld %ld %ld %d\n", before, statusKb("VmRSS"), statusKb("VmHWM"), statusKb("RssAnon"),
        statusKb("RssFile"), shown);
    window.reset();
    forgetBook();
    return 0;
}

const bool memoryMode = registerChildMode(
    QStringLiteral("memory-of"), QStringLiteral("Only print the resident memory with this book shown."), measureMemory);

std::vector<long> memoryOf(const QString& program, const QString& book)
{
    QProcess child;
    child.start(program, { QStringLiteral("--memory-of"), book });
    return figuresOf(child, 300000);
}

GroupResult mainRoad(const BenchBook& book)
{
    GroupResult result;
    const auto row = [&result](const char* name, const Timing& timing) { result.rows.push_back({ name, timing, {} }); };
    useProgramFolder(book.root);
    const QString bookPath = Constants::getInstance()->getDbDir() + benchBookName;
    const QString floorPath = book.root + QStringLiteral("/floor.db");
    copyFresh(book.generated, bookPath);
    copyFresh(book.generated, floorPath);
    Constants::getInstance()->setBookName(QLatin1String(benchBookName));
    Floor floor;
    const int runs = book.runs;

    // Opening: the main window's road on a fresh copy each time, beside opening the floor's copy and
    // running the same statements.
    {
        const QString openPath = book.root + QStringLiteral("/open.db");
        const QString floorOpenPath = book.root + QStringLiteral("/floor-open.db");
        std::vector<double> program;
        std::vector<double> floorTimes;
        for (int i = 0; i < runs; ++i) {
            forgetBook();
            copyFresh(book.generated, openPath);
            copyFresh(book.generated, floorOpenPath);
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
        row("open and upgrade the book", { median(program), median(floorTimes), true });
        forgetBook();
    }

    // Start-up: the main window built and shown, its bill list showing every bill.
    floor.open(floorPath);
    std::unique_ptr<MainWindow> window;
    row("main window start-up, all bills (1 run)",
        timeStep(
            1, floor, [] {}, [&] { window = showMainWindow(); }));

    auto* page = window->findChild<WBillList*>();
    auto* tree = page->findChild<QTreeView*>(QStringLiteral("tvBillList"));
    auto* months = page->findChild<QComboBox*>(QStringLiteral("cbMonthList"));
    auto* accounts = page->findChild<QComboBox*>(QStringLiteral("cbAccountList"));
    auto* searchBox = page->findChild<QLineEdit*>(QStringLiteral("leSeacrh"));
    auto* searchButton = page->findChild<QPushButton*>(QStringLiteral("pbSearch"));
    auto* next = page->findChild<QPushButton*>(QStringLiteral("pbNext"));
    auto* first = page->findChild<QPushButton*>(QStringLiteral("pbFirst"));
    auto* last = page->findChild<QPushButton*>(QStringLiteral("pbLast"));
    auto* jump = page->findChild<QPushButton*>(QStringLiteral("pbChangePageIndex"));
    auto* pageNumber = page->findChild<QSpinBox*>(QStringLiteral("sbPageNo"));
    auto* statusBar = window->findChild<UStatusBar*>();
    auto* model = dynamic_cast<MBillModel*>(tree->model());
    const QDate today = QDate::currentDate();
    const int currentMonth = months->findData(today.year() * 100 + today.month());
    // What the user sees is the page painted.
    const auto paint = [tree] { tree->viewport()->repaint(); };
    const auto noPrepare = [] {};

    // Filters and searches are timed as the first time after a start: their bills are read.
    row("bill list: current month (filter change)",
        timeStep(
            runs, floor,
            [&] {
                months->setCurrentIndex(0);
                keepOnlyTheStart();
            },
            [&] {
                months->setCurrentIndex(currentMonth);
                paint();
            }));
    const int monthBills = model->getBillCount();
    // The list of every bill stays in memory and current: back to it, only its page is read.
    row("bill list: all bills (filter change)",
        timeStep(
            runs, floor, [&] { months->setCurrentIndex(currentMonth); },
            [&] {
                months->setCurrentIndex(0);
                paint();
            }));
    const int pageSize = model->getPageSize();
    row("page turn: next page, all bills",
        timeStep(
            runs, floor, [&] { first->click(); },
            [&] {
                next->click();
                paint();
            }));
    // The turns to pages far away read their bills, as the first time after a start.
    row("page turn: last page, not read yet",
        timeStep(
            runs, floor,
            [&] {
                first->click();
                keepOnlyTheStart();
            },
            [&] {
                last->click();
                paint();
            }));
    row("page turn: middle page (jump box), not read yet",
        timeStep(
            runs, floor,
            [&] {
                first->click();
                keepOnlyTheStart();
                pageNumber->setValue(model->getPageCount() / 2 + 1);
            },
            [&] {
                jump->click();
                paint();
            }));
    row("page turn: first page, not read yet",
        timeStep(
            runs, floor,
            [&] {
                last->click();
                keepOnlyTheStart();
            },
            [&] {
                first->click();
                paint();
            }));
    first->click();
    row("filter change: one account",
        timeStep(
            runs, floor,
            [&] {
                accounts->setCurrentIndex(0);
                keepOnlyTheStart();
            },
            [&] {
                accounts->setCurrentIndex(1);
                paint();
            }));
    accounts->setCurrentIndex(0);
    row("search \"O'Brien\"",
        timeStep(
            runs, floor,
            [&] {
                searchBox->clear();
                keepOnlyTheStart();
            },
            [&] {
                searchBox->setText(QStringLiteral("O'Brien"));
                searchButton->click();
                paint();
            }));
    const int found = model->getBillCount();
    searchBox->clear();

    row("bill added, all bills shown", timeStep(runs, floor, noPrepare, [&] {
        addBill();
        paint();
    }));
    // A bill from the middle of the list becomes one of today's, as an edit that moves it to the
    // first page; each run another bill.
    MBill* target = nullptr;
    int picked = 0;
    row("bill changed, all bills shown",
        timeStep(
            runs, floor,
            [&] {
                const QString condition = model->getCondition();
                target = MBill::getRange(condition, MBill::count(condition) / 2 + 37 * picked++, 1).value(0);
            },
            [&] {
                target->setDate(today);
                target->setMonth(today.year() * 100 + today.month());
                target->setAmount(-99);
                MBill::update(target);
                paint();
            }));
    // The bill on top of the page shown goes.
    row("bill deleted, all bills shown",
        timeStep(
            runs, floor, [&] { target = MBill::getRange(model->getCondition(), 0, 1).value(0); },
            [&] {
                MBill::remove(target);
                paint();
            }));
    row("status bar totals (both lines)", timeStep(runs, floor, noPrepare, [&] {
        QMetaObject::invokeMethod(statusBar, "billDataChanged", Qt::DirectConnection);
    }));

    window.reset();
    floor.close();
    forgetBook();

    std::vector<long> memoryKb = memoryOf(book.benchProgram, book.generated);
    memoryKb.resize(6);
    const auto mebibytes = [](long kb) { return Timing { double(kb) / 1024.0, 0, false }; };
    result.rows.push_back({ "peak resident memory, every bill shown (VmHWM)", mebibytes(memoryKb[2]), "MiB" });
    result.rows.push_back({ "resident memory then (VmRSS)", mebibytes(memoryKb[1]), "MiB" });
    char note[512];
    std::snprintf(note, sizeof note,
        "%d bills: the current month has %d, the search finds %d, %d bills a page. With the book open in the main "
        "window and every bill shown: VmRSS %.1f MiB (%.1f MiB of it anonymous, %.1f MiB file pages), peak "
        "VmHWM %.1f MiB; %.1f MiB before the window was built.",
        book.bills, monthBills, found, pageSize, double(memoryKb[1]) / 1024.0, double(memoryKb[3]) / 1024.0,
        double(memoryKb[4]) / 1024.0, double(memoryKb[2]) / 1024.0, double(memoryKb[0]) / 1024.0);
    result.notes.push_back(note);
    return result;
}

const bool registered = registerSteps(0, "mainroad", mainRoad);

} // namespace
