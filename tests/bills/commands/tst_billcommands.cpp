// The bill list's commands: context menu, modify, copy, add for a day, delete, the bulk changes
// with their kind checks, the Delete and Space keys, double clicks, export and print.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDateEdit>
#include <QDoubleSpinBox>
#include <QFile>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <memory>

#include "billlistfixture.h"
#include "bills/exporthelper.h"
#include "bills/mbillmodel.h"
#include "bills/printhelper.h"
#include "bills/wbilllist.h"
#include "data/mbill.h"
#include "modalanswerer.h"
#include "printfixture.h"
#include "testenv.h"

namespace {

// The standard bills and a refund f1 and a repay r1 on 2013-07-07.
void addBills()
{
    addStandardBills();
    addBill(
        "repay", -60, QDate(2013, 7, 7), { { "account_id", "A2" }, { "borrower_id", "B2" }, { "description", "r1" } });
    addBill(
        "refund", 50, QDate(2013, 7, 7), { { "account_id", "A1" }, { "borrower_id", "B1" }, { "description", "f1" } });
}

const QStringList AllBills { "b1", "e1", "e2", "f1", "i1", "l1", "r1", "t1" };

QStringList storedDescriptions()
{
    QStringList descriptions;
    QSqlQuery query("select description from tbl_bill order by description");
    while (query.next())
        descriptions << query.value(0).toString();
    return descriptions;
}

QVariant storedField(const QString& description, const char* column)
{
    QSqlQuery query;
    query.prepare(QStringLiteral("select %1 from tbl_bill where description=?").arg(QLatin1String(column)));
    query.addBindValue(description);
    return query.exec() && query.next() ? query.value(0) : QVariant();
}

template <typename T> T* child(QWidget* widget, const char* name)
{
    auto* found = widget->findChild<T*>(QLatin1String(name));
    if (!found)
        qFatal("no %s", name);
    return found;
}

// What a bill dialog showed when it came up.
struct BillDialogSeen {
    QString description;
    QDate date;
    bool newMode = false;
    QWidget* parent = nullptr;
};

// Answers a bill dialog: notes what it shows, then either stores it with amount or cancels it.
ModalAnswerer::Answer billDialog(QList<BillDialogSeen>* seen, double amount = -1)
{
    return [seen, amount](QWidget* dialog) {
        seen->append(
            { child<QTextEdit>(dialog, "teDescription")->toPlainText(), child<QDateEdit>(dialog, "deDate")->date(),
                child<QPushButton>(dialog, "pbContinue")->isVisible(), dialog->parentWidget() });
        if (amount < 0) {
            child<QPushButton>(dialog, "pbCancel")->click();
            return;
        }
        child<QDoubleSpinBox>(dialog, "dsbAmount")->setValue(amount);
        child<QPushButton>(dialog, "pbOk")->click();
    };
}

// A double click as the mouse makes it: a click, then the second press, which comes as the double
// click, and its release.
void doubleClick(QTreeView* view, const QModelIndex& index)
{
    const QPoint at = view->visualRect(index).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at);
}

} // namespace

class TestBillCommands : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void contextMenuEntries();
    void nothingSelectedOpensNothing_data();
    void nothingSelectedOpensNothing();
    void modifyEditsTheFirstSelectedBill_data();
    void modifyEditsTheFirstSelectedBill();
    void copyEntersEachSelectedBillAnew();
    void supplementAddsOnEachSelectedDate();
    void deleteAsksOnceForAllSelected_data();
    void deleteAsksOnceForAllSelected();
    void failedDeleteRemovesNone();
    void bulkChangeKindChecks_data();
    void bulkChangeKindChecks();
    void bulkChangeShowsTheChangedBills();
    void keysActOnlyWhileThePageShows();
    void exportWritesEveryBillOfTheFilter();
    void exportCancelledWritesNothing();
    void failedExportIsReported();
    void printPrintsEveryBillOfTheFilter();
    void printCancelledOrFailed_data();
    void printCancelledOrFailed();

private:
    QTreeView* tree() const { return child<QTreeView>(page.get(), "tvBillList"); }
    MBillModel* model() const { return static_cast<MBillModel*>(tree()->model()); }
    // The row of the bill with this description on the page shown.
    QModelIndex rowOf(const QString& description) const;
    QModelIndex dayRowOf(const QDate& date) const;
    // Selects the rows of these bills, in this order, as Ctrl+clicks would.
    void select(const QStringList& descriptions);
    // The context menu's entry, after the menu was shown and closed as a right click does it.
    QAction* menuEntry(const QString& text);
    // Runs a command the way the user starts it: "menu:<entry>", "button:<name>", "key:<key>",
    // "double click:<bill>" or "double click day:<yyyy-MM-dd>".
    void perform(const QString& how);

    std::unique_ptr<TestEnv> env;
    std::unique_ptr<TestBook> book;
    std::unique_ptr<WBillList> page;
};

void TestBillCommands::init()
{
    env = std::make_unique<TestEnv>();
    book = std::make_unique<TestBook>(env->dataDir() + "book.db");
    QVERIFY(book->isOpen());
    addReferences();
    addBills();
    page = std::make_unique<WBillList>();
    page->resize(900, 600);
    page->show();
    page->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(page.get()));
}

void TestBillCommands::cleanup()
{
    ExportHelper::setFileNameAsker({});
    PrintHelper::setPrintDialog({});
    page.reset();
    book.reset();
    env.reset();
}

QModelIndex TestBillCommands::rowOf(const QString& description) const
{
    const MBillModel* bills = model();
    for (int day = 0; day < bills->rowCount(); ++day) {
        const QModelIndex dayIndex = bills->index(day, 0);
        for (int row = 0; row < bills->rowCount(dayIndex); ++row) {
            const QModelIndex index = bills->index(row, 0, dayIndex);
            if (static_cast<MBill*>(index.internalPointer())->getDescription() == description)
                return index;
        }
    }
    qFatal("bill %s is not on the page", qPrintable(description));
}

QModelIndex TestBillCommands::dayRowOf(const QDate& date) const
{
    const MBillModel* bills = model();
    for (int day = 0; day < bills->rowCount(); ++day) {
        const QModelIndex index = bills->index(day, 0);
        if (static_cast<MBill*>(index.internalPointer())->getDate() == date)
            return index;
    }
    qFatal("no day row for %s", qPrintable(date.toString()));
}

void TestBillCommands::select(const QStringList& descriptions)
{
    tree()->clearSelection();
    for (const QString& description : descriptions) {
        tree()->selectionModel()->select(rowOf(description), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

QAction* TestBillCommands::menuEntry(const QString& text)
{
    QPointer<QMenu> shown;
    QTimer::singleShot(0, this, [&shown] {
        shown = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (shown)
            shown->close();
    });
    const QPoint at = tree()->viewport()->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, tree()->viewport()->mapToGlobal(at));
    QApplication::sendEvent(tree()->viewport(), &event);
    if (!shown)
        return nullptr;
    const QList<QAction*> actions = shown->actions();
    for (QAction* action : actions) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

void TestBillCommands::perform(const QString& how)
{
    const QString what = how.section(':', 1);
    if (how.startsWith("menu:")) {
        QAction* action = menuEntry(what);
        QVERIFY(action);
        action->trigger();
    } else if (how.startsWith("button:")) {
        child<QPushButton>(page.get(), what.toLatin1().constData())->click();
    } else if (how.startsWith("key:")) {
        QTest::keyClick(tree(), what == "Delete" ? Qt::Key_Delete : Qt::Key_Space);
    } else if (how.startsWith("double click day:")) {
        doubleClick(tree(), dayRowOf(QDate::fromString(what, Qt::ISODate)));
    } else if (how.startsWith("double click:")) {
        doubleClick(tree(), rowOf(what));
    } else {
        QFAIL(qPrintable("unknown command " + how));
    }
}

void TestBillCommands::contextMenuEntries()
{
    QVERIFY(menuEntry("修改账目"));
    const QList<QMenu*> menus = tree()->findChildren<QMenu*>();
    QCOMPARE(menus.size(), 1);
    QStringList entries;
    for (const QAction* action : menus.first()->actions()) {
        entries << (action->isSeparator() ? QString("|") : action->text());
        QVERIFY(action->isEnabled());
    }
    QCOMPARE(entries,
        (QStringList { "修改账目", "删除账目", "|", "复制账目", "该日补账", "|", "转换账户", "转换成员", "转换分类",
            "转换借款人" }));
    // A second right click shows the same menu again.
    QVERIFY(menuEntry("删除账目"));
    QCOMPARE(tree()->findChildren<QMenu*>().size(), 1);
}

void TestBillCommands::nothingSelectedOpensNothing_data()
{
    QTest::addColumn<QString>("how");
    for (const char* entry :
        { "修改账目", "删除账目", "复制账目", "该日补账", "转换账户", "转换成员", "转换分类", "转换借款人" })
        QTest::addRow("menu %s", entry) << QString("menu:") + entry;
    QTest::newRow("修改 button") << "button:pbModify";
    QTest::newRow("删除 button") << "button:pbDelete";
    QTest::newRow("Space") << "key:Space";
    QTest::newRow("Delete") << "key:Delete";
    QTest::newRow("double click on a day") << "double click day:2013-07-06";
}

void TestBillCommands::nothingSelectedOpensNothing()
{
    QFETCH(QString, how);
    QVERIFY(tree()->selectionModel()->selectedIndexes().isEmpty());
    ModalAnswerer boxes;
    perform(how);
    QTest::qWait(50);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(storedDescriptions(), AllBills);
}

void TestBillCommands::modifyEditsTheFirstSelectedBill_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("menu") << "menu:修改账目";
    QTest::newRow("修改 button") << "button:pbModify";
    QTest::newRow("Space") << "key:Space";
    QTest::newRow("double click on the bill") << "double click:e2";
    QTest::newRow("double click on another day") << "double click day:2013-06-30";
}

void TestBillCommands::modifyEditsTheFirstSelectedBill()
{
    QFETCH(QString, how);
    select({ "e2", "e1" });
    QList<BillDialogSeen> seen;
    ModalAnswerer boxes;
    boxes.expect(ModalAnswerer::ofClass("DBill"), billDialog(&seen, 99), "the bill dialog");
    perform(how);
    QVERIFY2(boxes.waitAnswered(), qPrintable(boxes.report()));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));

    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen.first().description, QString("e2"));
    QVERIFY(!seen.first().newMode);
    QCOMPARE(seen.first().parent, page.get());
    QCOMPARE(storedField("e2", "amount").toDouble(), -99.0);
    QCOMPARE(storedField("e1", "amount").toDouble(), -35.0);
    QCOMPARE(storedDescriptions(), AllBills);
}

void TestBillCommands::copyEntersEachSelectedBillAnew()
{
    select({ "l1", "e1", "t1" });
    QList<BillDialogSeen> seen;
    ModalAnswerer boxes;
    boxes.expect(ModalAnswerer::ofClass("DBill"), billDialog(&seen, 100), "copy of l1, stored");
    boxes.expect(ModalAnswerer::ofClass("DBill"), billDialog(&seen), "copy of e1, cancelled");
    boxes.expect(ModalAnswerer::ofClass("DBill"), billDialog(&seen, 500), "copy of t1, stored");
    menuEntry("复制账目")->trigger();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));

    QCOMPARE(seen.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(seen.at(i).description, (QStringList { "l1", "e1", "t1" }).at(i));
        QVERIFY(seen.at(i).newMode);
        QCOMPARE(seen.at(i).date, QDate::currentDate());
    }
    QCOMPARE(scalar("select count(*) from tbl_bill").toInt(), AllBills.size() + 2);
    QCOMPARE(scalar("select count(*) from tbl_bill where description='l1' and kind='lend' and borrower_id='B1' "
                    "and amount=-100")
                 .toInt(),
        2);
    QCOMPARE(
        scalar("select count(*) from tbl_bill where description='t1' and to_account_id='A1' and amount=-500").toInt(),
        2);
    QCOMPARE(scalar("select count(*) from tbl_bill where description='e1'").toInt(), 1);
}

void TestBillCommands::supplementAddsOnEachSelectedDate()
{
    select({ "e2", "t1", "e1" });
    QList<BillDialogSeen> seen;
    ModalAnswerer boxes;
    boxes.expect(ModalAnswerer::ofClass("DBill"), billDialog(&seen, 12), "07-06, stored");
    boxes.expect(ModalAnswerer::ofClass("DBill"), billDialog(&seen), "07-06, cancelled");
    boxes.expect(ModalAnswerer::ofClass("DBill"), billDialog(&seen), "07-05, cancelled");
    menuEntry("该日补账")->trigger();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));

    QCOMPARE(seen.size(), 3);
    QCOMPARE(QList<QDate>({ seen.at(0).date, seen.at(1).date, seen.at(2).date }),
        QList<QDate>({ QDate(2013, 7, 6), QDate(2013, 7, 6), QDate(2013, 7, 5) }));
    for (const BillDialogSeen& dialog : seen) {
        QVERIFY(dialog.newMode);
        QVERIFY(dialog.description.isEmpty());
        QCOMPARE(dialog.parent, nullptr);
    }
    QCOMPARE(scalar("select count(*) from tbl_bill").toInt(), AllBills.size() + 1);
    QCOMPARE(scalar("select date || ' ' || month || ' ' || amount from tbl_bill where description=''").toString(),
        QString("2013-07-06 201307 -12.0"));
}

void TestBillCommands::deleteAsksOnceForAllSelected_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("left");

    const QStringList fiveGone { "b1", "i1", "r1" };
    QTest::newRow("menu, 是") << "menu:删除账目"
                              << "是" << fiveGone;
    QTest::newRow("删除 button, 是") << "button:pbDelete"
                                     << "是" << fiveGone;
    QTest::newRow("Delete key, 是") << "key:Delete"
                                    << "是" << fiveGone;
    QTest::newRow("删除 button, 否") << "button:pbDelete"
                                     << "否" << AllBills;
    QTest::newRow("Delete key, Escape") << "key:Delete"
                                        << "" << AllBills;
}

void TestBillCommands::deleteAsksOnceForAllSelected()
{
    QFETCH(QString, how);
    QFETCH(QString, answer);
    QFETCH(QStringList, left);
    select({ "e1", "t1", "l1", "e2", "f1" });
    ModalAnswerer boxes;
    boxes.expect(ModalAnswerer::box("确定删除?", "需要删除这些账目吗?"),
        answer.isEmpty() ? ModalAnswerer::escape() : ModalAnswerer::press(answer), "the delete question");
    QSignalSpy reloads(model(), &QAbstractItemModel::modelReset);
    perform(how);
    QVERIFY2(boxes.waitAnswered(), qPrintable(boxes.report()));
    QTest::qWait(20);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(storedDescriptions(), left);

    // The list follows the book, reloaded once rather than once per bill.
    QCOMPARE(reloads.count(), left == AllBills ? 0 : 1);
    QStringList listed;
    for (const MBill* bill : *model()->getBillList())
        listed << bill->getDescription();
    listed.sort();
    QCOMPARE(listed, left);
}

void TestBillCommands::failedDeleteRemovesNone()
{
    QVERIFY(execAll({ "create trigger keep_t1 before delete on tbl_bill when old.description='t1' "
                      "begin select raise(abort, 'disk full'); end" }));
    select({ "e1", "t1", "l1" });
    ModalAnswerer boxes;
    boxes.expect("确定删除?", "需要删除这些账目吗?", "是");
    boxes.expect("错误", "账目没有删除成功，请稍后再试。", "确定");
    child<QPushButton>(page.get(), "pbDelete")->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(storedDescriptions(), AllBills);
    QCOMPARE(model()->getBillList()->size(), AllBills.size());
    QCOMPARE(scalar("select count(*) from tbl_bill_deleted").toInt(), 0);
}

void TestBillCommands::bulkChangeKindChecks_data()
{
    QTest::addColumn<QStringList>("selection");
    QTest::addColumn<QString>("entry");
    // The refusal shown, or empty when the quick change dialog opens.
    QTest::addColumn<QString>("refusal");

    const QString notMember = QStringLiteral("成员转换功能只适用于收入或支出");
    const QString notCategory = QStringLiteral("分类转换功能只适用于收入或支出");
    const QString bothKinds = QStringLiteral("转换分类时，选中账目不能同步包含收入和支出");
    const QString notLoan = QStringLiteral("借款人转换功能只适用于借贷账目");

    QTest::newRow("member of a transfer") << QStringList { "e1", "t1" } << "转换成员" << notMember;
    QTest::newRow("member of expense and income") << QStringList { "e1", "i1" } << "转换成员"
                                                  << "";
    QTest::newRow("account of any kind") << QStringList { "e1", "t1", "l1", "i1" } << "转换账户"
                                         << "";
    QTest::newRow("category of expense and income") << QStringList { "e1", "i1" } << "转换分类" << bothKinds;
    QTest::newRow("category with a loan last") << QStringList { "e1", "i1", "l1" } << "转换分类" << notCategory;
    QTest::newRow("category with a loan first") << QStringList { "l1", "e1" } << "转换分类" << notCategory;
    QTest::newRow("category of expenses") << QStringList { "e1", "e2" } << "转换分类"
                                          << "";
    QTest::newRow("category of an income") << QStringList { "i1" } << "转换分类"
                                           << "";
    QTest::newRow("borrower of every loan kind") << QStringList { "l1", "b1", "f1", "r1" } << "转换借款人"
                                                 << "";
    QTest::newRow("borrower of an expense") << QStringList { "e1" } << "转换借款人" << notLoan;
    QTest::newRow("borrower with a transfer") << QStringList { "l1", "t1" } << "转换借款人" << notLoan;
}

void TestBillCommands::bulkChangeKindChecks()
{
    QFETCH(QStringList, selection);
    QFETCH(QString, entry);
    QFETCH(QString, refusal);
    select(selection);

    QWidget* parent = nullptr;
    ModalAnswerer boxes;
    if (refusal.isEmpty()) {
        boxes.expect(
            ModalAnswerer::ofClass("DQuickChange"),
            [&parent](QWidget* dialog) {
                parent = dialog->parentWidget();
                ModalAnswerer::closeStrip()(dialog);
            },
            "the quick change dialog");
    } else {
        boxes.expect("错误", refusal, "确定");
    }
    menuEntry(entry)->trigger();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    if (refusal.isEmpty())
        QCOMPARE(parent, page.get());
}

void TestBillCommands::bulkChangeShowsTheChangedBills()
{
    select({ "e1", "t1", "l1" });
    ModalAnswerer boxes;
    boxes.expect(
        ModalAnswerer::ofClass("DQuickChange"),
        [](QWidget* dialog) {
            child<QComboBox>(dialog, "comboBox")->setCurrentIndex(1);
            child<QPushButton>(dialog, "pbOK")->click();
        },
        "account → 银行卡");
    QAction* entry = menuEntry("转换账户");
    QSignalSpy reloads(model(), &QAbstractItemModel::modelReset);
    entry->trigger();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    // Not once per bill: a reload of a large book takes long.
    QVERIFY(reloads.count() < 3);

    for (const char* bill : { "e1", "t1", "l1" }) {
        QCOMPARE(storedField(bill, "account_id").toString(), QString("A2"));
        const QModelIndex row = rowOf(bill);
        QCOMPARE(row.siblingAtColumn(2).data().toString(), QString("银行卡"));
        QVERIFY(tree()->isExpanded(row.parent()));
    }
    QCOMPARE(storedField("e2", "account_id").toString(), QString("A2"));
    QCOMPARE(storedField("f1", "account_id").toString(), QString("A1"));
}

void TestBillCommands::keysActOnlyWhileThePageShows()
{
    // The page among others in one window, as in the book page.
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* other = new QPushButton("other", &window);
    layout->addWidget(other);
    layout->addWidget(page.get());
    // The page is the test's: it leaves the window before the window goes.
    const auto giveBack = qScopeGuard([this] { page->setParent(nullptr); });
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    select({ "e1" });

    page->hide();
    ModalAnswerer boxes;
    QTest::keyClick(other, Qt::Key_Space);
    QTest::keyClick(other, Qt::Key_Delete);
    QTest::qWait(50);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));

    // Showing the page reloads it, which drops the selection.
    page->show();
    select({ "e1" });
    boxes.expect("确定删除?", "需要删除这些账目吗?", "否");
    QTest::keyClick(other, Qt::Key_Delete);
    QVERIFY2(boxes.waitAnswered(), qPrintable(boxes.report()));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestBillCommands::exportWritesEveryBillOfTheFilter()
{
    for (int i = 0; i < 40; ++i)
        addBill("expense", -1, QDate(2013, 7, 1 + i % 28), { { "account_id", "A1" }, { "description", "x" } });
    MBill::clearCache();
    // Only July's bills, of which one page shows 20.
    auto* months = child<QComboBox>(page.get(), "cbMonthList");
    months->setCurrentIndex(months->findData(201307));
    QCOMPARE(model()->getBillList()->size(), 46);
    QVERIFY(model()->getPageCount() > 1);

    const QString path = env->root() + "/bills.xls";
    QWidget* askedBy = nullptr;
    ExportHelper::setFileNameAsker([&](QWidget* parent) {
        askedBy = parent;
        return path;
    });
    ModalAnswerer boxes;
    boxes.expect("导出成功", "您已经成功导出数据!", "确定");
    child<QPushButton>(page.get(), "pbExport")->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(askedBy, page.get());

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString written = QString::fromUtf8(file.readAll());
    QCOMPARE(written.count("<tr>"), 1 + 46);
    QCOMPARE(written.count("<td>x</td>"), 40);
    for (const char* bill : { "e1", "e2", "t1", "l1", "f1", "r1" })
        QVERIFY(written.contains(QString("<td>%1</td>").arg(bill)));
    QVERIFY(!written.contains("<td>i1</td>"));
}

void TestBillCommands::exportCancelledWritesNothing()
{
    ExportHelper::setFileNameAsker([](QWidget*) { return QString(); });
    ModalAnswerer boxes;
    child<QPushButton>(page.get(), "pbExport")->click();
    QTest::qWait(50);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestBillCommands::failedExportIsReported()
{
    const QString folder = env->root();
    ExportHelper::setFileNameAsker([folder](QWidget*) { return folder; });
    QString shown;
    ModalAnswerer boxes;
    boxes.expect(
        ModalAnswerer::titled("错误"),
        [&shown](QWidget* box) {
            shown = ModalAnswerer::textOf(box);
            ModalAnswerer::press("确定")(box);
        },
        "the export failure");
    child<QPushButton>(page.get(), "pbExport")->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QVERIFY2(shown.startsWith("导出失败") && shown.contains(folder), qPrintable(shown));
}

void TestBillCommands::printPrintsEveryBillOfTheFilter()
{
    for (int i = 0; i < 40; ++i)
        addBill("expense", -1, QDate(2013, 6, 1 + i % 28), { { "account_id", "A1" }, { "title", "六月" } });
    MBill::clearCache();
    QVERIFY(model()->getPageCount() > 1);
    const QString pdf = env->root() + "/bills.pdf";
    PrintHelper::setPrintDialog(pdfPrinter(pdf));
    ModalAnswerer boxes;
    child<QPushButton>(page.get(), "pbPrint")->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QVERIFY(QFileInfo(pdf).size() > 1000);

    const QString text = pdfText(pdf);
    if (text.isNull())
        QSKIP("pdftotext (poppler-utils) is not installed");
    // The oldest bill stands on the list's last page.
    for (const char* bill : { "l1", "e1", "i1", "b1" })
        QVERIFY2(text.contains(bill), bill);
    QCOMPARE(text.count("六月"), 40);
}

void TestBillCommands::printCancelledOrFailed_data()
{
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("failure");

    QTest::newRow("cancelled") << false << "";
    QTest::newRow("printer failed") << true << "打印失败，请检查打印机后再试。";
}

void TestBillCommands::printCancelledOrFailed()
{
    QFETCH(bool, accepted);
    QFETCH(QString, failure);
    const QString pdf = env->root() + "/missing/bills.pdf";
    PrintHelper::setPrintDialog(pdfPrinter(pdf, accepted));
    ModalAnswerer boxes;
    if (!failure.isEmpty()) {
        boxes.expect("错误", failure, "确定");
        QTest::ignoreMessage(QtWarningMsg, "QPainter::begin(): Returned false");
    }
    child<QPushButton>(page.get(), "pbPrint")->click();
    QTest::qWait(20);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QVERIFY(!QFile::exists(pdf));
}

QTEST_MAIN(TestBillCommands)
#include "tst_billcommands.moc"
