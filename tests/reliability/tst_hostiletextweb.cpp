// The hostile texts in a real web view: every analysis page's chart and report with records named
// by every text of the table at once. The scripts run without an error, draw each text as text, and
// nothing the texts hold runs or adds to the page.
#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <memory>

#include "analysis/reportview.h"
#include "analysis/reportviewloader.h"
#include "analysis/wanalysispage.h"
#include "analysisbook.h"
#include "hostiletext.h"
#include "modalanswerer.h"
#include "webtesting.h"

using Ids = QVariantMap;
using WebTesting::evaluate;

namespace {

QStringList texts(ReportView* view, const QString& selector)
{
    return evaluate(view,
        "Array.prototype.map.call(document.querySelectorAll('" + selector
            + "'), function(e) { return e.textContent; })")
        .toStringList();
}

// Every text of the table names one record of each kind, with bills that give each a share.
void everyTextNamed(AnalysisBook& book)
{
    const QList<HostileText::Entry>& entries = HostileText::all();
    const QDate day = AnalysisBook::today().addDays(-3);
    for (int i = 0; i < entries.size(); ++i) {
        const QString id = QString::number(i);
        const QString& text = entries.at(i).text;
        book.category("c" + id, text, "expense");
        book.category("s" + id, text, "expense", "c" + id);
        book.account("a" + id, text);
        book.borrower("b" + id, text);
        book.member("m" + id, text);
        book.bill("expense", -10.0 * (i + 1), day,
            Ids { { "category_id", "c" + id }, { "sub_category_id", "s" + id }, { "account_id", "a" + id },
                { "member_id", "m" + id } });
        book.bill("lend", -1.0 * (i + 1), day, Ids { { "account_id", "a" + id }, { "borrower_id", "b" + id } });
    }
}

} // namespace

class TestHostileTextWeb : public QObject {
    Q_OBJECT

private slots:
    void chartsAndReportsDrawTheTextAsText_data();
    void chartsAndReportsDrawTheTextAsText();
};

void TestHostileTextWeb::chartsAndReportsDrawTheTextAsText_data()
{
    QTest::addColumn<QString>("page");
    for (const char* page : { "category", "account", "borrower", "member" })
        QTest::newRow(page) << QString::fromLatin1(page);
}

void TestHostileTextWeb::chartsAndReportsDrawTheTextAsText()
{
    QFETCH(QString, page);
    AnalysisBook book;
    QVERIFY(book.isOpen());
    everyTextNamed(book);
    // An alert's box, or any other modal window, fails the test (and is closed, so it cannot hang).
    ModalAnswerer windows;

    auto window = std::make_unique<QWidget>();
    window->resize(1600, 1000);
    WAnalysisPage* shown = makeAnalysisPage(page);
    (new QVBoxLayout(window.get()))->addWidget(shown);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    // The chart: a legend item per record, each beginning with the record's name as stored (a long
    // one shortened with an ellipsis, after a good part of it, its figures after that whole).
    QTest::mouseClick(shown->findChild<QPushButton*>("pbChart"), Qt::LeftButton);
    ReportView* view = shown->getReportView();
    QVERIFY(view);
    WebTesting::Console console(view);
    QVERIFY(WebTesting::waitForChart(view));
    const QStringList legend = texts(view, ".qv-legend-item");
    QCOMPARE(legend.size(), HostileText::all().size());
    for (const HostileText::Entry& entry : HostileText::all()) {
        const QString label = entry.text + " -";
        bool drawn = false;
        for (const QString& item : legend) {
            const qsizetype ellipsis = item.lastIndexOf(QChar(0x2026));
            const QString shortened
                = ellipsis >= 0 && item.mid(ellipsis + 1).startsWith(" -") ? item.left(ellipsis) : QString();
            drawn = drawn || item.startsWith(label)
                || (shortened.size() >= qMin(int(label.size()), 40) && label.startsWith(shortened));
        }
        QVERIFY2(drawn, entry.name);
    }
    // Nothing of the texts became part of the page: its three scripts and no more, no alert.
    QCOMPARE(evaluate(view, "document.querySelectorAll('script').length").toInt(), 3);
    QCOMPARE(evaluate(view, "document.querySelectorAll('svg b, svg script, svg td').length").toInt(), 0);

    // The report: the name stands whole in a cell of its own, as text.
    QTest::mouseClick(shown->findChild<QPushButton*>("pbReport"), Qt::LeftButton);
    QVERIFY(WebTesting::waitForReport(view));
    QCOMPARE(evaluate(view, "document.querySelectorAll('script').length").toInt(), 0);
    const int columns = evaluate(view, "document.querySelectorAll('tr')[0].children.length").toInt();
    QVERIFY(columns > 1);
    QVERIFY(evaluate(view,
        QString("Array.prototype.every.call(document.querySelectorAll('tr'), function(row) {"
                "    return row.children.length === %1; })")
            .arg(columns))
                .toBool());
    QStringList cells = texts(view, "td");
    for (QString& cell : cells)
        cell = cell.trimmed(); // the sub-categories' indent
    for (const HostileText::Entry& entry : HostileText::all())
        QVERIFY2(cells.contains(HostileText::htmlNewlines(entry.text).trimmed()), entry.name);

    QVERIFY2(console.errors().isEmpty(), qPrintable(console.errors().join('\n')));
    QVERIFY2(windows.answeredAll(), qPrintable(windows.report()));
}

int main(int argc, char* argv[])
{
    ReportViewLoader::prepareApplication();
    QApplication app(argc, argv);
    ReportViewLoader::applicationCreated();
    TestHostileTextWeb test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hostiletextweb.moc"
