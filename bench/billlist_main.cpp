// Times the bill list page on a large book: binding it for the newest month and for all bills, a
// page turn, a filter change, a search and a bill change, each with the repaint of the page shown,
// beside the SQL that the same step needs at the least, run through SQLite's C API.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>
#include <QWindow>
#include <cstdio>
#include <vector>

#include "benchsupport.h"
#include "bills/mbillmodel.h"
#include "bills/wbilllist.h"
#include "data/constants.h"
#include "data/mbill.h"

namespace {

// The floor of showing one page: the bill query cut to that page.
void readPage(sqlite3* db, const QString& condition, int pageSize, int pageIndex)
{
    readBills(db, condition, QStringLiteral("limit %1 offset %2").arg(pageSize).arg(pageSize * pageIndex));
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\nqt.qpa.*=false"));
    // The page reads its options from the settings file: a private one, never the build's.
    QTemporaryDir home;
    Constants::Roots roots;
    roots.appDir = home.filePath(QStringLiteral("app"));
    roots.documentsRoot = home.filePath(QStringLiteral("documents"));
    roots.configRoot = home.filePath(QStringLiteral("config"));
    Constants::setInstance(new Constants(roots));
    BenchBook book;
    if (!book.open(app, QStringLiteral("Bill list page benchmark against SQLite's C API.")))
        return 1;
    const int runs = book.runs();
    sqlite3* db = book.floor();

    WBillList page;
    page.resize(1000, 700);
    page.show();
    // Painting needs the window on screen (the offscreen one too).
    QElapsedTimer shown;
    shown.start();
    while ((!page.windowHandle() || !page.windowHandle()->isExposed()) && shown.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    auto* tree = page.findChild<QTreeView*>(QStringLiteral("tvBillList"));
    auto* months = page.findChild<QComboBox*>(QStringLiteral("cbMonthList"));
    auto* accounts = page.findChild<QComboBox*>(QStringLiteral("cbAccountList"));
    auto* searchBox = page.findChild<QLineEdit*>(QStringLiteral("leSeacrh"));
    auto* searchButton = page.findChild<QPushButton*>(QStringLiteral("pbSearch"));
    auto* next = page.findChild<QPushButton*>(QStringLiteral("pbNext"));
    auto* first = page.findChild<QPushButton*>(QStringLiteral("pbFirst"));
    auto* model = dynamic_cast<MBillModel*>(tree->model());
    const auto paint = [tree] { tree->viewport()->repaint(); };
    const auto noPrepare = [] {};
    const auto dropBills = [] { MBill::resetState(); };

    std::vector<BenchRow> rows;
    months->setCurrentIndex(1);
    const QString monthCondition = page.buildCondition();
    const int monthBills = int(model->getBillList()->size());
    rows.push_back({ "bind, newest month",
        medianMs(runs, dropBills,
            [&] {
                page.bind();
                paint();
            }),
        medianMs(runs, noPrepare, [&] { readBills(db, monthCondition); }) });

    months->setCurrentIndex(0);
    const QString all = page.buildCondition();
    const int allBills = int(model->getBillList()->size());
    const int pageSize = model->getPageSize();
    rows.push_back({ "bind, all bills",
        medianMs(runs, dropBills,
            [&] {
                page.bind();
                paint();
            }),
        medianMs(runs, noPrepare, [&] { readBills(db, all); }) });
    rows.push_back({ "bind again, all bills unchanged",
        medianMs(runs, noPrepare,
            [&] {
                page.bind();
                paint();
            }),
        medianMs(runs, noPrepare, [&] { readPage(db, all, pageSize, 0); }) });
    rows.push_back({ "page turn, all bills",
        medianMs(
            runs, [&] { first->click(); },
            [&] {
                next->click();
                paint();
            }),
        medianMs(runs, noPrepare, [&] { readPage(db, all, pageSize, 1); }) });

    accounts->setCurrentIndex(1);
    const QString accountCondition = page.buildCondition();
    rows.push_back({ "filter change, one account",
        medianMs(
            runs, [&] { accounts->setCurrentIndex(0); },
            [&] {
                accounts->setCurrentIndex(1);
                paint();
            }),
        medianMs(runs, noPrepare, [&] { readBills(db, accountCondition); }) });
    accounts->setCurrentIndex(0);

    searchBox->setText(QStringLiteral("O'Brien"));
    searchButton->click();
    const QString searchCondition = page.buildCondition();
    const int found = int(model->getBillList()->size());
    rows.push_back({ "search \"O'Brien\", all bills",
        medianMs(
            runs, [&] { searchBox->clear(); },
            [&] {
                searchBox->setText(QStringLiteral("O'Brien"));
                searchButton->click();
                paint();
            }),
        medianMs(runs, noPrepare, [&] { readBills(db, searchCondition); }) });
    searchBox->clear();

    rows.push_back({ "bill added, all bills shown",
        medianMs(runs, noPrepare,
            [&] {
                insertBenchBill();
                paint();
            }),
        medianMs(runs, noPrepare, [&] {
            insertBenchBillFloor(db);
            readBills(db, all);
        }) });

    std::printf("\nBook: %d bills; the newest month has %d, the search finds %d; %d bills a page. Median of %d "
                "runs.\n\n",
        allBills, monthBills, found, pageSize, runs);
    printRows("bill list ms", rows);
    return 0;
}
