// Bills as a sync reply, an import or another program may leave them: NULL in every column that
// allows it, dates that name no day or none, months and amounts that are no numbers, unknown kinds.
// The real main window opens the book and shows them everywhere a bill goes (the bill list on every
// month, the status bar, the five analysis tables, the export, the printout, the synchronisation),
// without a crash or a box, and the book is the same file afterwards.
#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>
#include <QXmlStreamReader>
#include <memory>

#include "analysis/reporthelper.h"
#include "analysis/wanalysispage.h"
#include "bills/exporthelper.h"
#include "bills/mbillmodel.h"
#include "bills/printhelper.h"
#include "bills/wbilllist.h"
#include "data/dbhelper.h"
#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "data/mbill.h"
#include "data/settingkeys.h"
#include "data/sqlhelper.h"
#include "modalanswerer.h"
#include "reliabilitykit.h"
#include "servicefixture.h"
#include "shell/mainwindow.h"
#include "testenv.h"

namespace {

using ReliabilityKit::bytesOf;

// The malformed bill's columns: every column of tbl_bill is given, NULL where the schema allows it
// (its version a time of the past, but for the rows where every nullable column is NULL).
QVariantMap malformedBill(const QVariantMap& overrides)
{
    const QVariant null;
    QVariantMap columns { { "id", "malformed" }, { "user_id", null }, { "title", null }, { "amount", -12.5 },
        { "description", "" }, { "date", "2013-05-08" }, { "month", 201305 }, { "category_id", null },
        { "sub_category_id", null }, { "account_id", null }, { "to_account_id", null }, { "borrower_id", null },
        { "member_id", null }, { "kind", "expense" }, { "created_time", null }, { "version", "2013-05-08 10:00:00" } };
    for (auto it = overrides.constBegin(); it != overrides.constEnd(); ++it)
        columns.insert(it.key(), it.value());
    return columns;
}

bool insertRow(const QVariantMap& columns)
{
    QStringList names;
    QVariantList values;
    for (auto it = columns.constBegin(); it != columns.constEnd(); ++it) {
        names << it.key();
        values << it.value();
    }
    return execWrite(QSqlDatabase::database(),
        QString("insert into tbl_bill (%1) values (%2)").arg(names.join(','), QStringList(names.size(), "?").join(',')),
        values);
}

void addRows()
{
    QTest::addColumn<QVariantMap>("bill");
    const QVariant null;
    for (const char* kind : { "expense", "income", "transfer", "lend", "borrow", "refund", "repay" })
        QTest::addRow("%s, every nullable column NULL", kind)
            << malformedBill({ { "kind", kind }, { "version", null } });
    QTest::newRow("date 2024-02-30") << malformedBill({ { "date", "2024-02-30" }, { "month", 202402 } });
    QTest::newRow("empty date") << malformedBill({ { "date", "" } });
    QTest::newRow("date in words") << malformedBill({ { "date", "yesterday" } });
    QTest::newRow("date with a time") << malformedBill({ { "date", "2013-05-08 10:11:12" } });
    QTest::newRow("date as a number") << malformedBill({ { "date", 20130508 } });
    QTest::newRow("month 0") << malformedBill({ { "month", 0 } });
    QTest::newRow("month 201313") << malformedBill({ { "month", 201313 } });
    QTest::newRow("month as text") << malformedBill({ { "month", "五月" } });
    QTest::newRow("amount as text") << malformedBill({ { "amount", "十二元" } });
    QTest::newRow("huge amount") << malformedBill({ { "amount", 1e300 } });
    QTest::newRow("unknown kind") << malformedBill({ { "kind", "gift" } });
    QTest::newRow("empty kind") << malformedBill({ { "kind", "" } });
    QTest::newRow("records that are gone") << malformedBill({ { "category_id", "gone" }, { "sub_category_id", "gone" },
        { "account_id", "gone" }, { "to_account_id", "gone" }, { "borrower_id", "gone" }, { "member_id", "gone" } });
    QTest::newRow("everything at once") << malformedBill({ { "date", "" }, { "month", "x" }, { "amount", "x" },
        { "kind", "x" }, { "title", null }, { "description", "" } });
}

// The cells of the first table of the export file, row by row.
int exportedRows(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    QXmlStreamReader xml(&file);
    int rows = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("tr"))
            ++rows;
    }
    return xml.hasError() ? -1 : rows;
}

int tableRows(QWidget* page)
{
    if (auto* tree = page->findChild<QTreeWidget*>("tableWidget"))
        return tree->topLevelItemCount();
    if (auto* table = page->findChild<QTableWidget*>("tableWidget"))
        return table->rowCount();
    if (auto* table = page->findChild<QTableWidget*>("twBillStat"))
        return table->rowCount();
    return -1;
}

} // namespace

class TestMalformedBills : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void everyPageTakesTheBill_data();
    void everyPageTakesTheBill();
    void synchronisationCarriesTheBill_data();
    void synchronisationCarriesTheBill();
    void cleanupTestCase();

private:
    // One service for every row, started by the first; its process ends with the test.
    std::unique_ptr<ServiceFixture> service;
};

void TestMalformedBills::cleanup()
{
    ExportHelper::setFileNameAsker({});
    PrintHelper::setPrintDialog({});
    MainWindow::environment() = MainWindow::Environment();
    DbSetting::setInstance(nullptr);
    TestBook::closeDefault();
}

void TestMalformedBills::cleanupTestCase()
{
    service.reset();
}

void TestMalformedBills::everyPageTakesTheBill_data()
{
    addRows();
}

void TestMalformedBills::everyPageTakesTheBill()
{
    QFETCH(QVariantMap, bill);
    TestEnv env;
    const QString path = env.dataDir() + "Quorvane.db";
    {
        TestBook book(path);
        QVERIFY(DBHelper::getInstance()->upgrade());
        QVERIFY(DBHelper::getInstance()->initDefaultData(QString()));
        addBillRow("expense", -30, QDate(2013, 5, 2), { { "category_id", "01" }, { "account_id", "01" } });
        addBillRow("income", 100, QDate(2013, 4, 2), { { "category_id", "01" }, { "account_id", "01" } });
        QVERIFY(insertRow(bill));
    }
    FileSetting* settings = FileSetting::getInstance();
    settings->setValue(SettingKeys::EnableAutoUpdate, false);
    settings->setValue(SettingKeys::BackupWhenStartup, false);
    settings->setValue(SettingKeys::BackupWhenClose, false);
    MainWindow::environment().trayAvailable = [] { return false; };
    const QByteArray before = bytesOf(path);

    // No box comes anywhere below.
    ModalAnswerer boxes;
    {
        MainWindow window;
        QVERIFY(window.isBookOpen());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        // The bill list on every month it offers, then all of them: the bill is listed there.
        auto* months = window.findChild<QComboBox*>("cbMonthList");
        QVERIFY(months);
        for (int i = 1; i < months->count(); ++i)
            months->setCurrentIndex(i);
        months->setCurrentIndex(0);
        auto* list = window.findChild<WBillList*>();
        const auto* model = dynamic_cast<MBillModel*>(list->findChild<QTreeView*>("tvBillList")->model());
        QStringList listed;
        for (const MBill* shown : *model->getBillList())
            listed << shown->getId();
        QCOMPARE(listed.size(), 3);
        QVERIFY(listed.contains("malformed"));
        list->findChild<QTreeView*>("tvBillList")->expandAll();

        // The export and the printout of every listed bill.
        const QString exported = env.root() + "/bills.xls";
        ExportHelper::setFileNameAsker([exported](QWidget*) { return exported; });
        boxes.expect("导出成功", "您已经成功导出数据!", "确定");
        QTest::mouseClick(list->findChild<QPushButton*>("pbExport"), Qt::LeftButton);
        QVERIFY2(boxes.waitAnswered(), qPrintable(boxes.report()));
        QCOMPARE(exportedRows(exported), 4);
        QString printed;
        PrintHelper::setPrintDialog([&printed](QPrinter*) {
            printed = "asked";
            return false;
        });
        QList<MBill*> bills = *model->getBillList();
        PrintHelper printer;
        const QString html = printer.billsHtml(&bills);
        QVERIFY(html.contains("<table"));
        QTest::mouseClick(list->findChild<QPushButton*>("pbPrint"), Qt::LeftButton);
        QCOMPARE(printed, QString("asked"));

        // Every analysis page's table, on every year and month it offers.
        for (const char* button :
            { "pbCategoryAnalysis", "pbAccountAnalysis", "pbBorrowerAnalysis", "pbMemberAnalysis", "pbBillStat" }) {
            QTest::mouseClick(window.findChild<QPushButton*>(button), Qt::LeftButton);
            const QString container = "pg" + QString(button).mid(2);
            QWidget* holder = window.findChild<QWidget*>(container);
            QVERIFY2(holder, qPrintable(container));
            auto* page = holder->findChild<WAnalysisPage*>();
            QVERIFY2(page, button);
            auto* years = page->findChild<QComboBox*>("cbYear");
            auto* monthsOfYear = page->findChild<QComboBox*>("cbMonth");
            for (int year = 0; year < years->count(); ++year) {
                years->setCurrentIndex(year);
                for (int month = 0; month < monthsOfYear->count(); month += 6)
                    monthsOfYear->setCurrentIndex(month);
                QVERIFY2(tableRows(page) > 0, button);
            }
        }
    }
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    // Looking changed nothing.
    QCOMPARE(bytesOf(path), before);
}

void TestMalformedBills::synchronisationCarriesTheBill_data()
{
    addRows();
}

void TestMalformedBills::synchronisationCarriesTheBill()
{
    QFETCH(QVariantMap, bill);
    if (!service) {
        service = std::make_unique<ServiceFixture>();
        QVERIFY2(service->start(), qPrintable(service->errorText()));
    }
    AccountBook first(*service);
    QVERIFY2(first.isReady(), qPrintable(first.errorText()));
    QVERIFY(insertRow(bill));
    MBill::clearCache();
    SyncOutcome outcome = runSync();
    QVERIFY2(outcome.finished, qPrintable(QString("%1 %2").arg(outcome.code).arg(outcome.message)));

    // A second book of the account gets the bill in the reply.
    QVERIFY(first.openSecondBook("second.db"));
    outcome = runSync();
    QVERIFY2(outcome.finished, qPrintable(QString("%1 %2").arg(outcome.code).arg(outcome.message)));
    QCOMPARE(scalar("select count(*) from tbl_bill where id='malformed'").toInt(), 1);
    QCOMPARE(MBill::get(" 1=1 and id='malformed'")->size(), 1);
    TestBook::openDefault(first.path());
}

QTEST_MAIN(TestMalformedBills)
#include "tst_malformedbills.moc"
