// The bill list printout: the page it builds from the bills and printing it through the printer.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QStandardPaths>
#include <QTest>
#include <QTextDocument>
#include <memory>

#include "billlistfixture.h"
#include "printfixture.h"
#include "bills/printhelper.h"
#include "data/mbill.h"
#include "testenv.h"

namespace {

const QString Head = QStringLiteral("<!doctype html><html><head><style type=\"text/css\">   body,td,th,table {  "
                                    "font-size: 10pt;} </style></head><body><table width=\"100%\" border=\"1\" "
                                    "cellspacing=0 cellpadding=2  style=\"border-color:#000\" ><tr "
                                    "style=\"background-color:#F5F5F5\"><td>用途</td><td>金额</td><td>账户</td><td>"
                                    "说明</td></tr>");
const QString Tail = QStringLiteral("</table></body></html>");

QList<MBill*> allBills()
{
    return *MBill::get(QStringLiteral(" 1=1 "));
}

MBill* onlyBill()
{
    const QList<MBill*> bills = allBills();
    if (bills.size() != 1)
        qFatal("expected one bill, found %d", int(bills.size()));
    return bills.first();
}

// Dark pixels of a page picture.
int inkOf(const QImage& page)
{
    const QImage grey = page.convertToFormat(QImage::Format_Grayscale8);
    int dark = 0;
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* line = grey.constScanLine(y);
        for (int x = 0; x < grey.width(); ++x)
            dark += line[x] < 128;
    }
    return dark;
}

// The first page of what print() prints on a PDF printer, as a picture (kept at keepAs + ".png"
// when given).
QImage printedPage(const QString& folder, const QString& keepAs, const std::function<PrintHelper::Result()>& print)
{
    const QString pdf = folder + "/page.pdf";
    QFile::remove(pdf);
    PrintHelper::setPrintDialog(pdfPrinter(pdf));
    if (print() != PrintHelper::Result::Printed)
        return QImage();
    const QString prefix = keepAs.isEmpty() ? folder + "/page" : keepAs;
    commandOutput("pdftoppm", { "-png", "-r", "100", "-f", "1", "-l", "1", "-singlefile", pdf, prefix });
    return QImage(prefix + ".png");
}

} // namespace

class TestPrintHelper : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void pageGroupsBillsUnderTheirDates();
    void emptyListPrintsTheHeaderRow();
    void cells_data();
    void cells();
    void storedTextIsPrintedAsText();
    void printsThroughThePrinter();
    void chineseTextRendersOnThePage();
    void cancelledDialogPrintsNothing();
    void printerFailureIsReported();

private:
    std::unique_ptr<TestEnv> env;
    std::unique_ptr<TestBook> book;
};

void TestPrintHelper::init()
{
    env = std::make_unique<TestEnv>();
    book = std::make_unique<TestBook>(env->dataDir() + "book.db");
    QVERIFY(book->isOpen());
    addReferences();
}

void TestPrintHelper::cleanup()
{
    PrintHelper::setPrintDialog({});
    book.reset();
    env.reset();
}

void TestPrintHelper::pageGroupsBillsUnderTheirDates()
{
    addBill("expense", -35, QDate(2013, 7, 5),
        { { "category_id", "C1" }, { "sub_category_id", "S1" }, { "account_id", "A1" }, { "title", "豆浆" },
            { "description", "早上" } });
    addBill("transfer", -200.5, QDate(2013, 7, 6), { { "account_id", "A2" }, { "to_account_id", "A1" } });
    addBill("income", 8000, QDate(2013, 7, 6),
        { { "category_id", "C2" }, { "sub_category_id", "S3" }, { "account_id", "A2" }, { "description", "七月" } });

    QList<MBill*> bills = allBills();
    QCOMPARE(PrintHelper().billsHtml(&bills),
        Head + "<tr><td colspan=\"4\">2013-07-06</td></tr>"
            + "<tr><td>工资 - 月薪</td><td>收入 8000.00</td><td>银行卡</td><td>七月</td></tr>"
            + "<tr><td>现金</td><td>转账 -200.50</td><td>银行卡</td><td></td></tr>"
            + "<tr><td colspan=\"4\">2013-07-05</td></tr>"
            + "<tr><td>餐饮 - 早餐</td><td>支出 -35.00</td><td>现金</td><td>豆浆</td></tr>" + Tail);
}

void TestPrintHelper::emptyListPrintsTheHeaderRow()
{
    QList<MBill*> none;
    QCOMPARE(PrintHelper().billsHtml(&none), Head + Tail);
}

void TestPrintHelper::cells_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<double>("amount");
    QTest::addColumn<QVariantMap>("columns");
    QTest::addColumn<QString>("usage");
    QTest::addColumn<QString>("account");
    QTest::addColumn<QString>("note");

    const QVariantMap meal { { "category_id", "C1" }, { "sub_category_id", "S1" }, { "account_id", "A1" } };
    QVariantMap both = meal;
    both.insert("title", "标题");
    both.insert("description", "说明");
    QVariantMap noTitle = meal;
    noTitle.insert("description", "只有说明");
    QVariantMap goneSub = meal;
    goneSub.insert("sub_category_id", "gone");
    QVariantMap goneAll { { "category_id", "x" }, { "sub_category_id", "y" }, { "account_id", "z" } };

    QTest::newRow("title before description") << "expense" << -35.0 << both << "餐饮 - 早餐"
                                              << "现金"
                                              << "标题";
    QTest::newRow("description without title") << "expense" << -35.0 << noTitle << "餐饮 - 早餐"
                                               << "现金"
                                               << "只有说明";
    QTest::newRow("deleted sub-category") << "expense" << -35.0 << goneSub << "餐饮 - 出错啦~~~"
                                          << "现金"
                                          << "";
    QTest::newRow("deleted category and account") << "income" << 1.0 << goneAll << "出错啦~~~ - 出错啦~~~"
                                                  << "出错啦~~~"
                                                  << "";
    QTest::newRow("transfer: target account")
        << "transfer" << -5.0 << QVariantMap { { "account_id", "A2" }, { "to_account_id", "A1" } } << "现金"
        << "银行卡"
        << "";
    QTest::newRow("deleted target account")
        << "transfer" << -5.0 << QVariantMap { { "account_id", "A2" }, { "to_account_id", "gone" } } << "出错啦~~~"
        << "银行卡"
        << "";
    QTest::newRow("loan: borrower") << "repay" << -5.0
                                    << QVariantMap { { "account_id", "A1" }, { "borrower_id", "B2" } } << "老李"
                                    << "现金"
                                    << "";
    QTest::newRow("deleted borrower") << "lend" << -5.0
                                      << QVariantMap { { "account_id", "A1" }, { "borrower_id", "gone" } }
                                      << "出错啦~~~"
                                      << "现金"
                                      << "";
}

void TestPrintHelper::cells()
{
    QFETCH(QString, kind);
    QFETCH(double, amount);
    QFETCH(QVariantMap, columns);
    QFETCH(QString, usage);
    QFETCH(QString, account);
    QFETCH(QString, note);
    addBill(kind, amount, QDate(2013, 7, 5), columns);

    PrintHelper helper;
    MBill* bill = onlyBill();
    QCOMPARE(helper.usageText(bill), usage);
    QCOMPARE(helper.accountText(bill), account);
    QCOMPARE(helper.noteText(bill), note);
}

void TestPrintHelper::storedTextIsPrintedAsText()
{
    const QString title = QStringLiteral("<b>A&B</b> \"quoted\" it's");
    execAll({ "update tbl_account set name='<i>现金</i>' where id='A1'",
        "update tbl_category set name='R&D' where id='C1'" });
    TestBook::resetRecordCaches();
    addBill("expense", -35, QDate(2013, 7, 5),
        { { "category_id", "C1" }, { "sub_category_id", "S1" }, { "account_id", "A1" }, { "title", title } });

    QList<MBill*> bills = allBills();
    const QString html = PrintHelper().billsHtml(&bills);
    QVERIFY2(html.contains("<td>&lt;b&gt;A&amp;B&lt;/b&gt; &quot;quoted&quot; it's</td>"), qPrintable(html));
    QVERIFY(!html.contains("<b>") && !html.contains("<i>"));

    // What the printer gets: the texts as stored, no markup of theirs applied.
    QTextDocument document;
    document.setHtml(html);
    const QString printed = document.toPlainText();
    QVERIFY2(printed.contains(title), qPrintable(printed));
    QVERIFY(printed.contains("R&D - 早餐"));
    QVERIFY(printed.contains("<i>现金</i>"));
}

void TestPrintHelper::printsThroughThePrinter()
{
    addBill("expense", -35, QDate(2013, 7, 5),
        { { "category_id", "C1" }, { "sub_category_id", "S1" }, { "account_id", "A1" }, { "title", "豆浆油条" } });
    const QString pdf = env->root() + "/bills.pdf";
    PrintHelper::setPrintDialog(pdfPrinter(pdf));

    QList<MBill*> bills = allBills();
    QCOMPARE(PrintHelper().printBills(&bills), PrintHelper::Result::Printed);
    QFile file(pdf);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.size() > 1000);
    QVERIFY(file.read(5) == "%PDF-");

    const QString text = pdfText(pdf);
    if (text.isNull())
        QSKIP("pdftotext (poppler-utils) is not installed");
    for (const char* expected : { "用途", "说明", "2013-07-05", "餐饮 - 早餐", "支出 -35.00", "现金", "豆浆油条" })
        QVERIFY2(text.contains(QString::fromUtf8(expected)), qPrintable(QString::fromUtf8(expected) + "\n" + text));
}

void TestPrintHelper::chineseTextRendersOnThePage()
{
    if (QStandardPaths::findExecutable("pdftoppm").isEmpty())
        QSKIP("pdftoppm (poppler-utils) is not installed");
    addBill("expense", -35, QDate(2013, 7, 5),
        { { "category_id", "C1" }, { "sub_category_id", "S1" }, { "account_id", "A1" }, { "title", "豆浆油条" } });
    QList<MBill*> bills = allBills();
    // QUORVANE_KEEP_PRINTOUT names a folder that keeps the printout's picture, for looking at it.
    const QString keep = qEnvironmentVariable("QUORVANE_KEEP_PRINTOUT");
    const QImage printout = printedPage(
        env->root(), keep.isEmpty() ? QString() : keep + "/printout", [&] { return PrintHelper().printBills(&bills); });
    QVERIFY(inkOf(printout) > 0);

    // Without a font that has them, every Chinese character comes out as the same empty box, so
    // two different words would look alike.
    const auto word = [this](const QString& text) {
        return printedPage(env->root(), QString(),
            [&] { return PrintHelper().printHtml("<p style=\"font-size: 40pt\">" + text + "</p>"); });
    };
    const QImage usage = word("用途");
    const QImage amount = word("金额");
    QVERIFY(inkOf(usage) > 500);
    QVERIFY(inkOf(amount) > 500);
    QVERIFY(usage != amount);
}

void TestPrintHelper::cancelledDialogPrintsNothing()
{
    addBill("expense", -35, QDate(2013, 7, 5), { { "account_id", "A1" } });
    const QString pdf = env->root() + "/bills.pdf";
    PrintHelper::setPrintDialog(pdfPrinter(pdf, false));
    QList<MBill*> bills = allBills();
    QCOMPARE(PrintHelper().printBills(&bills), PrintHelper::Result::Cancelled);
    QVERIFY(!QFile::exists(pdf));
}

void TestPrintHelper::printerFailureIsReported()
{
    addBill("expense", -35, QDate(2013, 7, 5), { { "account_id", "A1" } });
    PrintHelper::setPrintDialog(pdfPrinter(env->root() + "/no such folder/bills.pdf"));
    QList<MBill*> bills = allBills();
    QTest::ignoreMessage(QtWarningMsg, "QPainter::begin(): Returned false");
    QCOMPARE(PrintHelper().printBills(&bills), PrintHelper::Result::Failed);
}

QTEST_MAIN(TestPrintHelper)
#include "tst_printhelper.moc"
