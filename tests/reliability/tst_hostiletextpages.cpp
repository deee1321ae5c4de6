// The hostile texts on the pages: the bill list's search and rows, every analysis table, the chart
// data and the reports as the pages build them (read here without the web engine: the chart's
// script run in a script engine of its own, the report read as rich text), and the message box.
#include <QJSEngine>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTableWidget>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextTable>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <memory>

#include "analysis/wanalysispage.h"
#include "analysisbook.h"
#include "bills/mbillmodel.h"
#include "bills/wbilllist.h"
#include "data/mbill.h"
#include "hostiletext.h"
#include "testenv.h"
#include "widgets/dmessagebox.h"

using HostileText::flowing;
using Ids = QVariantMap;

namespace {

// Every bill the list shows under its filters, all pages.
QList<MBill*> listed(const WBillList& page)
{
    auto* model = dynamic_cast<MBillModel*>(page.findChild<QTreeView*>("tvBillList")->model());
    return model ? *model->getBillList() : QList<MBill*>();
}

// The cells of every row of an analysis page's table (the category page's tree included).
QList<QStringList> tableCells(const WAnalysisPage* page)
{
    QList<QStringList> rows;
    if (auto* tree = page->findChild<QTreeWidget*>("tableWidget")) {
        const auto cellsOf = [tree](const QTreeWidgetItem* item) {
            QStringList cells;
            for (int column = 0; column < tree->columnCount(); ++column)
                cells << item->text(column);
            return cells;
        };
        for (int i = 0; i < tree->topLevelItemCount(); ++i) {
            rows << cellsOf(tree->topLevelItem(i));
            for (int j = 0; j < tree->topLevelItem(i)->childCount(); ++j)
                rows << cellsOf(tree->topLevelItem(i)->child(j));
        }
        return rows;
    }
    const auto* table = page->findChild<QTableWidget*>("tableWidget");
    for (int row = 0; table && row < table->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < table->columnCount(); ++column)
            cells << (table->item(row, column) ? table->item(row, column)->text() : QString());
        rows << cells;
    }
    return rows;
}

// The page's own script as a browser cuts it out of the page: from the first script element
// without a source to the first "</script" after it, whatever stands around that.
QString inlineScript(const QString& html)
{
    const QRegularExpression open(QStringLiteral("<script type=\"text/javascript\">"));
    const QRegularExpressionMatch match = open.match(html);
    if (!match.hasMatch())
        return QString();
    const qsizetype start = match.capturedEnd();
    const qsizetype end = html.indexOf(QLatin1String("</script"), start, Qt::CaseInsensitive);
    return end < 0 ? QString() : html.mid(start, end - start);
}

struct ChartRun {
    QString error;
    QStringList names;
    int alerts = 0;
};

// Runs the chart page's script with the chart library and jQuery stood in for: what it hands the
// chart, and whether anything else ran.
ChartRun runChart(const QString& html)
{
    QJSEngine engine;
    engine.evaluate(QStringLiteral(
        "var alerts = 0; function alert() { alerts++; }"
        "var document = {}; var window = this; var drawn = null;"
        "var Highcharts = { Chart: function(options) { drawn = options; this.series = [{ points: [] }];"
        "    this.legend = { destroy: function() {}, render: function() {} }; this.setSize = function() {}; } };"
        "function $(target) { return { ready: function(f) { f(); }, resize: function(f) {},"
        "    width: function() { return 800; }, height: function() { return 600; } }; }"
        "$.each = function(list, f) { for (var i = 0; i < list.length; ++i) f(i, list[i]); };"));
    ChartRun run;
    const QJSValue result = engine.evaluate(inlineScript(html));
    if (result.isError()) {
        run.error = result.toString();
        return run;
    }
    const QJSValue names = engine.evaluate(
        QStringLiteral("drawn === null ? null : drawn.series[0].data.map(function(point) { return point[0]; })"));
    if (names.isNull()) {
        run.error = QStringLiteral("no chart was made");
        return run;
    }
    run.names = names.toVariant().toStringList();
    run.alerts = engine.globalObject().property(QStringLiteral("alerts")).toInt();
    return run;
}

// The cells of the report's table, as rich text reads the page.
QList<QStringList> reportCells(const QString& html)
{
    QTextDocument document;
    document.setHtml(html);
    QTextTable* table = nullptr;
    for (QTextBlock block = document.begin(); block.isValid() && !table; block = block.next())
        table = QTextCursor(block).currentTable();
    QList<QStringList> rows;
    for (int row = 0; table && row < table->rows(); ++row) {
        QStringList cells;
        for (int column = 0; column < table->columns(); ++column) {
            const QTextTableCell cell = table->cellAt(row, column);
            QTextCursor cursor = cell.firstCursorPosition();
            cursor.setPosition(cell.lastCursorPosition().position(), QTextCursor::KeepAnchor);
            cells << cursor.selection().toPlainText();
        }
        rows << cells;
    }
    return rows;
}

// A book whose records of every kind are named text, with bills on them in the analysed month.
void namedBook(AnalysisBook& book, const QString& text)
{
    book.category("c1", text, "expense");
    book.category("s1", text, "expense", "c1");
    book.category("c2", "餐饮", "expense");
    book.account("a1", text);
    book.account("a2", "工资卡", "card");
    book.borrower("b1", text);
    book.borrower("b2", "老王");
    book.member("m1", text);
    book.member("m2", "家人");
    const QDate day = AnalysisBook::today().addDays(-3);
    book.bill("expense", -30, day,
        Ids { { "category_id", "c1" }, { "sub_category_id", "s1" }, { "account_id", "a1" }, { "member_id", "m1" } });
    book.bill("expense", -20, day, Ids { { "category_id", "c2" }, { "account_id", "a2" }, { "member_id", "m2" } });
    book.bill("lend", -500, day, Ids { { "account_id", "a1" }, { "borrower_id", "b1" } });
    book.bill("borrow", 100, day, Ids { { "account_id", "a2" }, { "borrower_id", "b2" } });
}

bool anyCellIs(const QList<QStringList>& rows, const QString& text, bool asFlowing)
{
    for (const QStringList& cells : rows) {
        for (const QString& cell : cells) {
            if (asFlowing ? flowing(cell) == flowing(text) : cell == text)
                return true;
        }
    }
    return false;
}

} // namespace

class TestHostileTextPages : public QObject {
    Q_OBJECT

private slots:
    void searchFindsExactlyTheBillsWithTheText_data();
    void searchFindsExactlyTheBillsWithTheText();
    void analysisTablesChartsAndReportsKeepTheText_data();
    void analysisTablesChartsAndReportsKeepTheText();
    void messageBoxShowsTheTextAsText_data();
    void messageBoxShowsTheTextAsText();
};

void TestHostileTextPages::searchFindsExactlyTheBillsWithTheText_data()
{
    HostileText::addRows();
}

void TestHostileTextPages::searchFindsExactlyTheBillsWithTheText()
{
    QFETCH(QString, text);
    TestEnv env;
    TestBook book(env.dataDir() + "book.db");
    QVERIFY(book.isOpen());

    // Every hostile text in a title and in a description, beside texts that a wildcard or a broken
    // quote would find too.
    QStringList notes;
    for (const HostileText::Entry& entry : HostileText::all())
        notes << entry.text;
    notes << "100"
          << "ab"
          << "a b"
          << "C:x"
          << "plain"
          << "' or 1=2"
          << "第一行第二行"
          << "前后"
          << "<b>"
          << "O'BRIEN";
    QHash<QString, QPair<QString, QString>> bills; // id: title, description
    for (int i = 0; i < notes.size(); ++i) {
        const QString title = "题" + notes.at(i);
        const QString description = QString("说明%1").arg(i);
        bills.insert(addBillRow("expense", -1, QDate(2013, 7, 1).addDays(i % 20),
                         { { "title", title }, { "description", description } }),
            { title, description });
        bills.insert(
            addBillRow("income", 1, QDate(2013, 6, 1).addDays(i % 20), { { "description", notes.at(i) + "尾" } }),
            { QString(), notes.at(i) + "尾" });
    }

    WBillList page;
    page.bind();
    page.findChild<QLineEdit*>("leSeacrh")->setText(text);
    const QString searched = page.findChild<QLineEdit*>("leSeacrh")->text();
    QCOMPARE(searched, text);
    page.findChild<QPushButton*>("pbSearch")->click();

    // LIKE ignores the case of ASCII letters only.
    const QString wanted = HostileText::likeFolded(text);
    QStringList expected;
    for (auto it = bills.cbegin(); it != bills.cend(); ++it) {
        if (HostileText::likeFolded(it.value().first).contains(wanted)
            || HostileText::likeFolded(it.value().second).contains(wanted))
            expected << it.key();
    }
    QStringList found;
    for (const MBill* bill : listed(page)) {
        found << bill->getId();
        // What the row shows of the bill: its title and description as stored.
        const auto& stored = bills.value(bill->getId());
        QCOMPARE(bill->getTitle(), stored.first);
        QCOMPARE(bill->getDescription(), stored.second);
    }
    found.sort();
    expected.sort();
    QVERIFY(!expected.isEmpty());
    QCOMPARE(found, expected);
}

void TestHostileTextPages::analysisTablesChartsAndReportsKeepTheText_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("text");
    for (const char* page : { "category", "account", "borrower", "member" }) {
        for (const HostileText::Entry& entry : HostileText::all())
            QTest::addRow("%s: %s", page, entry.name) << QString::fromLatin1(page) << entry.text;
    }
}

void TestHostileTextPages::analysisTablesChartsAndReportsKeepTheText()
{
    QFETCH(QString, page);
    QFETCH(QString, text);
    AnalysisBook book;
    QVERIFY(book.isOpen());
    namedBook(book, text);

    QWidget window;
    window.resize(1000, 600);
    WAnalysisPage* shown = makeAnalysisPage(page);
    (new QVBoxLayout(&window))->addWidget(shown);
    window.show();

    // The table: a cell holds the name exactly (the category page's tree twice, top and sub).
    const QList<QStringList> table = tableCells(shown);
    QVERIFY2(anyCellIs(table, text, false), qPrintable(page));

    // The chart: its script runs whole, draws the name as it is and runs nothing else.
    QTest::mouseClick(shown->findChild<QPushButton*>("pbChart"), Qt::LeftButton);
    const QString chart = shown->getShownHtml();
    QCOMPARE(chart.count("<script", Qt::CaseInsensitive), 3);
    const ChartRun run = runChart(chart);
    QVERIFY2(run.error.isEmpty(), qPrintable(run.error));
    QVERIFY2(run.names.contains(text), qPrintable(run.names.join('|').left(200)));
    QCOMPARE(run.alerts, 0);

    // The report: the name stands in a cell of its table as text, and nothing else came in.
    QTest::mouseClick(shown->findChild<QPushButton*>("pbReport"), Qt::LeftButton);
    const QString report = shown->getShownHtml();
    QVERIFY(!report.contains("<script", Qt::CaseInsensitive));
    const QList<QStringList> cells = reportCells(report);
    QVERIFY(cells.size() >= 3);
    for (const QStringList& row : cells)
        QCOMPARE(row.size(), cells.first().size());
    QVERIFY2(anyCellIs(cells, text, true), qPrintable(page));
}

void TestHostileTextPages::messageBoxShowsTheTextAsText_data()
{
    HostileText::addRows();
}

void TestHostileTextPages::messageBoxShowsTheTextAsText()
{
    QFETCH(QString, text);
    // A name or a server's message in the program's box, as the pages and the synchronisation put
    // them there: shown as text, never as markup, and in a box that fits the screen.
    const QString message = QString("分类“%1”没有删除成功，请稍后再试。").arg(text);
    DMessageBox box(nullptr, "错误", message);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    auto* label = box.findChild<QLabel*>("tlText");
    QVERIFY(label);
    QVERIFY(label->textFormat() == Qt::PlainText || !Qt::mightBeRichText(label->text()));
    const QRect screen = box.screen()->availableGeometry();
    QVERIFY2(box.width() <= screen.width() && box.height() <= screen.height(),
        qPrintable(QString("%1 x %2").arg(box.width()).arg(box.height())));
    // Every line it shows has room: the box grew with the message.
    const int needed = label->hasHeightForWidth() ? label->heightForWidth(label->width()) : label->sizeHint().height();
    QVERIFY2(label->height() >= needed, qPrintable(QString("%1 < %2").arg(label->height()).arg(needed)));
    // A message that fits is shown whole (its line ends as line feeds); a longer one keeps its
    // start and its end.
    QString lines = HostileText::htmlNewlines(message);
    lines.replace(QChar(QChar::LineSeparator), '\n');
    bool fits = lines.count('\n') < 10;
    for (const QString& line : lines.split('\n'))
        fits = fits && label->fontMetrics().horizontalAdvance(line) < screen.width() / 2;
    const QString shown = label->text();
    if (fits)
        QCOMPARE(shown, lines);
    QVERIFY(shown.startsWith(lines.left(3)));
    QVERIFY(shown.endsWith(QString("请稍后再试。")));
}

QTEST_MAIN(TestHostileTextPages)
#include "tst_hostiletextpages.moc"
