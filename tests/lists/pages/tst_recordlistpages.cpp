// The account, borrower and member list pages: create, modify, remove with its refusals, moves and
// the move buttons, driven as a user would, offscreen on fresh books.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTableView>
#include <QTest>
#include <memory>

#include "data/maccount.h"
#include "data/mborrower.h"
#include "data/mmember.h"
#include "lists/waccountlist.h"
#include "lists/wborrowerlist.h"
#include "lists/wmemberlist.h"
#include "modalanswerer.h"
#include "notifierrecorder.h"
#include "testenv.h"

namespace {
// What differs between the three pages, by the names the tests use for them.
struct Kind {
    QString table;
    QString billColumn;
    QString billKind;
    QString dialogClass;
    QString refusedTitle;
    QString refusedText;
    QString removeFailed;
    QString moveFailed;
    QString signal;
    bool totalRow = false;
};

Kind kindOf(const QString& which)
{
    if (which == "account")
        return { "tbl_account", "account_id", "expense", "DAccount", "不能删除",
            "已经有账目使用了这个账户，您不能删除此账户。", "账户“%1”没有删除成功，请稍后再试。",
            "账户的顺序没有保存成功，请稍后再试。", "account", true };
    if (which == "borrower")
        return { "tbl_borrower", "borrower_id", "lend", "DBorrower", "删除失败",
            "已经有账目使用了这个借款人，您不能删除此借款人。", "借款人“%1”没有删除成功，请稍后再试。",
            "借款人的顺序没有保存成功，请稍后再试。", "borrower", false };
    return { "tbl_member", "member_id", "expense", "DMember", "删除失败",
        "已经有账目使用了这个成员，您不能删除此成员。", "成员“%1”没有删除成功，请稍后再试。",
        "成员的顺序没有保存成功，请稍后再试。", "member", false };
}

template <typename Record> QString insertRecord(const QString& name, int sort)
{
    Record record;
    record.setName(name);
    if (sort)
        record.setSort(sort);
    Record::insert(&record);
    return record.getId();
}

QString addRecord(const QString& which, const QString& name, int sort = 0)
{
    if (which == "account") {
        MAccount account;
        account.setName(name);
        account.setKind("cash");
        account.setDescription("");
        if (sort)
            account.setSort(sort);
        MAccount::insert(&account);
        return account.getId();
    }
    if (which == "borrower")
        return insertRecord<MBorrower>(name, sort);
    return insertRecord<MMember>(name, sort);
}

std::unique_ptr<WBaseWidget> makePage(const QString& which)
{
    if (which == "account")
        return std::make_unique<WAccountList>();
    if (which == "borrower")
        return std::make_unique<WBorrowerList>();
    return std::make_unique<WMemberList>();
}

void useInBill(const QString& which, const QString& id)
{
    const Kind kind = kindOf(which);
    addBillRow(kind.billKind, -10, QDate(2024, 3, 8), { { kind.billColumn, id } });
}

int sortOf(const QString& which, const QString& name)
{
    return scalar("select sort from " + kindOf(which).table + " where name = '" + name + "'").toInt();
}

int storedCount(const QString& which)
{
    return scalar("select count(*) from " + kindOf(which).table).toInt();
}

// Data rows for each page, with the bool column true (named yes) and false (named no).
void perPageAndChoice(const char* column, const char* yes, const char* no)
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<bool>(column);
    for (const char* which : { "account", "borrower", "member" }) {
        QTest::addRow("%s, %s", which, yes) << which << true;
        QTest::addRow("%s, %s", which, no) << which << false;
    }
}

// Answers the page's edit dialog: checks the name it shows, types a new one and presses a button.
ModalAnswerer::Answer fillDialog(const QString& shownName, const QString& newName, const QString& button)
{
    return [=](QWidget* dialog) {
        auto* name = dialog->findChild<QLineEdit*>("leName");
        if (name->text() != shownName)
            qWarning("the dialog shows \"%s\", not \"%s\"", qPrintable(name->text()), qPrintable(shownName));
        name->setText(newName);
        dialog->findChild<QPushButton*>(button)->click();
    };
}
}

class TestRecordListPages : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void emptyListCommandsDoNothing_data();
    void emptyListCommandsDoNothing();
    void create_data();
    void create();
    void modifyTheSelectedRecord_data();
    void modifyTheSelectedRecord();
    void removeRefusesRecordsThatBillsUse_data();
    void removeRefusesRecordsThatBillsUse();
    void removeAsksTheBookNotTheTable_data();
    void removeAsksTheBookNotTheTable();
    void accountRemovalSkipsTheTotalAndRefusesATransferTarget();
    void moves_data();
    void moves();
    void moveButtonsFollowClicks_data();
    void moveButtonsFollowClicks();
    void deleteKeyOnlyWhileThePageIsShown_data();
    void deleteKeyOnlyWhileThePageIsShown();
    void failedWritesAreReported_data();
    void failedWritesAreReported();

private:
    void showPage(const QString& which);
    QStringList shownNames() const;
    void clickRow(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void doubleClickRow(int row);
    QPushButton* button(const char* name) const;
    int selectedRow() const;

    std::unique_ptr<TestEnv> env;
    std::unique_ptr<TestBook> book;
    std::unique_ptr<WBaseWidget> page;
    QTableView* view = nullptr;
};

void TestRecordListPages::init()
{
    // A slot that lost its object name would silently do nothing.
    QTest::failOnWarning(QRegularExpression("connectSlotsByName"));
    QTest::failOnWarning(QRegularExpression("the dialog shows"));
    env = std::make_unique<TestEnv>();
    book = std::make_unique<TestBook>(env->dataDir() + "book.db");
    QVERIFY(book->isOpen());
}

void TestRecordListPages::cleanup()
{
    page.reset();
    book.reset();
    env.reset();
}

void TestRecordListPages::showPage(const QString& which)
{
    page = makePage(which);
    page->resize(900, 400);
    page->show();
    QApplication::setActiveWindow(page.get());
    QVERIFY(QTest::qWaitForWindowActive(page.get()));
    view = page->findChild<QTableView*>();
    QVERIFY(view && view->model());
}

QStringList TestRecordListPages::shownNames() const
{
    QStringList names;
    for (int row = 0; row < view->model()->rowCount(); ++row)
        names << view->model()->index(row, 0).data().toString();
    return names;
}

void TestRecordListPages::clickRow(int row, Qt::KeyboardModifiers modifiers)
{
    const QRect rect = view->visualRect(view->model()->index(row, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, modifiers, rect.center());
}

void TestRecordListPages::doubleClickRow(int row)
{
    const QPoint at = view->visualRect(view->model()->index(row, 0)).center();
    // The view opens an item only when the second press lands where the first one did.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
}

QPushButton* TestRecordListPages::button(const char* name) const
{
    return page->findChild<QPushButton*>(name);
}

int TestRecordListPages::selectedRow() const
{
    const QModelIndexList rows = view->selectionModel()->selectedRows();
    return rows.size() == 1 ? rows.first().row() : -1;
}

void TestRecordListPages::emptyListCommandsDoNothing_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("account") << "account" << QStringList({ "合计" });
    QTest::newRow("borrower") << "borrower" << QStringList();
    QTest::newRow("member") << "member" << QStringList();
}

void TestRecordListPages::emptyListCommandsDoNothing()
{
    QFETCH(QString, which);
    QFETCH(QStringList, rows);

    ModalAnswerer boxes; // no box and no dialog may come
    showPage(which);
    QCOMPARE(shownNames(), rows);
    if (!rows.isEmpty()) {
        // The total row is nothing to modify, remove or move.
        clickRow(0);
        QVERIFY(!button("pbMovePrevious")->isEnabled());
        QVERIFY(!button("pbMoveNext")->isEnabled());
        doubleClickRow(0);
    }
    for (const char* name : { "pbModify", "pbRemove", "pbMovePrevious", "pbMoveNext" })
        button(name)->click();
    QCOMPARE(shownNames(), rows);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestRecordListPages::create_data()
{
    perPageAndChoice("confirm", "OK", "cancel");
}

void TestRecordListPages::create()
{
    QFETCH(QString, which);
    QFETCH(bool, confirm);

    addRecord(which, "甲");
    showPage(which);
    clickRow(0);
    const QAbstractItemModel* before = view->model();
    NotifierRecorder signals_;

    ModalAnswerer boxes;
    boxes.expect(ModalAnswerer::ofClass(qPrintable(kindOf(which).dialogClass)),
        fillDialog("", "新的", confirm ? "pbOK" : "pbCancel"));
    button("pbCreate")->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));

    QStringList expected { "甲" };
    if (confirm)
        expected << "新的"; // new records go last
    if (kindOf(which).totalRow)
        expected << "合计";
    QCOMPARE(shownNames(), expected);
    QCOMPARE(storedCount(which), confirm ? 2 : 1);
    QCOMPARE(signals_.count(kindOf(which).signal) > 0, confirm);
    // A cancelled dialog leaves the table, its model and its selection alone.
    QCOMPARE(view->model() == before, !confirm);
    QCOMPARE(selectedRow(), confirm ? -1 : 0);
}

void TestRecordListPages::modifyTheSelectedRecord_data()
{
    removeRefusesRecordsThatBillsUse_data();
}

void TestRecordListPages::modifyTheSelectedRecord()
{
    QFETCH(QString, which);

    addRecord(which, "甲");
    const QString id = addRecord(which, "乙");
    showPage(which);

    ModalAnswerer boxes;
    button("pbModify")->click(); // nothing selected: no dialog
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));

    // The last record is one like any other: a double click opens it.
    boxes.expect(ModalAnswerer::ofClass(qPrintable(kindOf(which).dialogClass)), fillDialog("乙", "乙二", "pbOK"));
    doubleClickRow(1);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(shownNames().mid(0, 2), QStringList({ "甲", "乙二" }));
    QCOMPARE(
        scalar("select name from " + kindOf(which).table + " where id = '" + id + "'").toString(), QString("乙二"));

    clickRow(0);
    boxes.expect(ModalAnswerer::ofClass(qPrintable(kindOf(which).dialogClass)), fillDialog("甲", "不要", "pbCancel"));
    button("pbModify")->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(shownNames().mid(0, 2), QStringList({ "甲", "乙二" }));
    QCOMPARE(storedCount(which), 2);
}

void TestRecordListPages::removeRefusesRecordsThatBillsUse_data()
{
    QTest::addColumn<QString>("which");
    for (const char* which : { "account", "borrower", "member" })
        QTest::newRow(which) << which;
}

void TestRecordListPages::removeRefusesRecordsThatBillsUse()
{
    QFETCH(QString, which);
    const Kind kind = kindOf(which);

    addRecord(which, "甲");
    useInBill(which, addRecord(which, "乙"));
    addRecord(which, "丙");
    showPage(which);
    NotifierRecorder signals_;

    // All three selected, removed with the Delete key: the used one stays, with one box.
    ModalAnswerer boxes;
    boxes.expect(kind.refusedTitle, kind.refusedText, "确定");
    clickRow(0);
    clickRow(2, Qt::ShiftModifier);
    QCOMPARE(view->selectionModel()->selectedRows().size(), 3);
    const QAbstractItemModel* before = view->model();
    QTest::keyClick(view, Qt::Key_Delete);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(shownNames().first(), QString("乙"));
    QCOMPARE(storedCount(which), 1);
    QVERIFY(view->model() != before);
    QCOMPARE(signals_.count(kind.signal), 2);

    // Only the used one selected: its box, no rebind, the selection stays.
    clickRow(0);
    before = view->model();
    boxes.expect(kind.refusedTitle, kind.refusedText, "确定");
    button("pbRemove")->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(view->model(), before);
    QCOMPARE(selectedRow(), 0);
    QCOMPARE(storedCount(which), 1);
}

void TestRecordListPages::removeAsksTheBookNotTheTable_data()
{
    removeRefusesRecordsThatBillsUse_data();
}

void TestRecordListPages::removeAsksTheBookNotTheTable()
{
    QFETCH(QString, which);
    const Kind kind = kindOf(which);

    const QString id = addRecord(which, "甲");
    showPage(which);
    // A bill entered after the page was shown (from the page menu's bill dialog, say).
    useInBill(which, id);
    clickRow(0);
    ModalAnswerer boxes;
    boxes.expect(kind.refusedTitle, kind.refusedText, "确定");
    button("pbRemove")->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(storedCount(which), 1);
}

void TestRecordListPages::accountRemovalSkipsTheTotalAndRefusesATransferTarget()
{
    const QString from = addRecord("account", "工资卡");
    const QString to = addRecord("account", "钱包");
    const QString unused = addRecord("account", "旧卡");
    addBillRow("transfer", -100, QDate(2024, 3, 8), { { "account_id", from }, { "to_account_id", to } });
    showPage("account");
    QCOMPARE(shownNames(), QStringList({ "工资卡", "钱包", "旧卡", "合计" }));

    // The wallet is only a transfer's target, and still in use: removing it would leave the amount
    // nowhere. The total row is passed over; the unused card goes.
    ModalAnswerer boxes;
    boxes.expect(kindOf("account").refusedTitle, kindOf("account").refusedText, "确定");
    clickRow(1);
    clickRow(2, Qt::ControlModifier);
    clickRow(3, Qt::ControlModifier);
    button("pbRemove")->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(shownNames(), QStringList({ "工资卡", "钱包", "合计" }));
    QCOMPARE(scalar("select count(*) from tbl_account where id = '" + to + "'").toInt(), 1);
    QCOMPARE(scalar("select count(*) from tbl_account where id = '" + unused + "'").toInt(), 0);
}

void TestRecordListPages::moves_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QList<int>>("sorts");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("step");
    QTest::addColumn<QList<int>>("order"); // the names' original rows, in their new order
    QTest::addColumn<QList<int>>("newSorts"); // of the names "r0", "r1", ... as first shown

    for (const char* which : { "account", "borrower", "member" }) {
        QTest::addRow("%s: adjacent, up", which)
            << which << QList<int> { 1, 2 } << 1 << -1 << QList<int> { 1, 0 } << QList<int> { 2, 1 };
        QTest::addRow("%s: with a gap, down", which)
            << which << QList<int> { 1, 4 } << 0 << 1 << QList<int> { 1, 0 } << QList<int> { 4, 1 };
        QTest::addRow("%s: equal, down", which)
            << which << QList<int> { 3, 3 } << 0 << 1 << QList<int> { 1, 0 } << QList<int> { 2, 1 };
    }
    QTest::newRow("gaps, up") << "member" << QList<int> { 1, 5 } << 1 << -1 << QList<int> { 1, 0 }
                              << QList<int> { 5, 1 };
    QTest::newRow("a tie elsewhere is renumbered first")
        << "account" << QList<int> { 2, 2, 7 } << 2 << -1 << QList<int> { 0, 2, 1 } << QList<int> { 1, 3, 2 };
    QTest::newRow("middle of three, down")
        << "borrower" << QList<int> { 10, 20, 30 } << 1 << 1 << QList<int> { 0, 2, 1 } << QList<int> { 10, 30, 20 };
    QTest::newRow("first, up: nothing") << "member" << QList<int> { 1, 2 } << 0 << -1 << QList<int> { 0, 1 }
                                        << QList<int> { 1, 2 };
    QTest::newRow("last, down: nothing") << "account" << QList<int> { 1, 2 } << 1 << 1 << QList<int> { 0, 1 }
                                         << QList<int> { 1, 2 };
}

void TestRecordListPages::moves()
{
    QFETCH(QString, which);
    QFETCH(QList<int>, sorts);
    QFETCH(int, row);
    QFETCH(int, step);
    QFETCH(QList<int>, order);
    QFETCH(QList<int>, newSorts);

    for (int i = 0; i < sorts.size(); ++i)
        addRecord(which, QString("r%1").arg(i), sorts.at(i));
    showPage(which);
    // Equal sorts come in the book's order; the test follows what the page shows.
    const QStringList shown = shownNames().mid(0, sorts.size());
    QCOMPARE(shown.size(), sorts.size());
    if (sorts.first() != sorts.last() && sorts.size() == 2)
        QCOMPARE(shown, QStringList({ "r0", "r1" }));
    const QString moved = shown.at(row);

    ModalAnswerer boxes;
    clickRow(row);
    button(step < 0 ? "pbMovePrevious" : "pbMoveNext")->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));

    QStringList expected;
    for (int i : order)
        expected << shown.at(i);
    QCOMPARE(shownNames().mid(0, sorts.size()), expected);
    for (int i = 0; i < sorts.size(); ++i)
        QCOMPARE(sortOf(which, shown.at(i)), newSorts.at(i));
    // The moved record stays selected, the buttons match its new place, the table has the focus.
    QCOMPARE(selectedRow(), int(expected.indexOf(moved)));
    QCOMPARE(button("pbMovePrevious")->isEnabled(), expected.indexOf(moved) != 0);
    QCOMPARE(button("pbMoveNext")->isEnabled(), expected.indexOf(moved) != sorts.size() - 1);
    QVERIFY(view->hasFocus());
}

void TestRecordListPages::moveButtonsFollowClicks_data()
{
    removeRefusesRecordsThatBillsUse_data();
}

void TestRecordListPages::moveButtonsFollowClicks()
{
    QFETCH(QString, which);

    for (const char* name : { "甲", "乙", "丙" })
        addRecord(which, name);
    showPage(which);
    QVERIFY(button("pbMovePrevious")->isEnabled()); // enabled until the first click
    clickRow(0);
    QVERIFY(!button("pbMovePrevious")->isEnabled());
    QVERIFY(button("pbMoveNext")->isEnabled());
    clickRow(2);
    QVERIFY(button("pbMovePrevious")->isEnabled());
    QVERIFY(!button("pbMoveNext")->isEnabled());
    clickRow(1);
    QVERIFY(button("pbMovePrevious")->isEnabled());
    QVERIFY(button("pbMoveNext")->isEnabled());

    // Selected with the keyboard, the last record keeps the buttons of the click before;
    // "下移" then changes nothing.
    QTest::keyClick(view, Qt::Key_Down);
    QCOMPARE(selectedRow(), 2);
    QVERIFY(button("pbMoveNext")->isEnabled());
    button("pbMoveNext")->click();
    QCOMPARE(shownNames().mid(0, 3), QStringList({ "甲", "乙", "丙" }));
    QCOMPARE(sortOf(which, "丙"), 3);
}

void TestRecordListPages::deleteKeyOnlyWhileThePageIsShown_data()
{
    removeRefusesRecordsThatBillsUse_data();
}

void TestRecordListPages::deleteKeyOnlyWhileThePageIsShown()
{
    QFETCH(QString, which);

    addRecord(which, "甲");
    QStackedWidget stack;
    auto* listPage = makePage(which).release();
    auto* other = new QWidget; // takes no keys of its own, unlike a line edit
    other->setFocusPolicy(Qt::StrongFocus);
    stack.addWidget(listPage);
    stack.addWidget(other);
    stack.show();
    QApplication::setActiveWindow(&stack);
    QVERIFY(QTest::qWaitForWindowActive(&stack));
    auto* table = listPage->findChild<QTableView*>();
    table->selectRow(0);

    ModalAnswerer boxes;
    stack.setCurrentWidget(other);
    other->setFocus();
    QTest::keyClick(other, Qt::Key_Delete);
    QCOMPARE(storedCount(which), 1);

    // Shown again, the page removes the selected record whatever has the focus in the window.
    stack.setCurrentWidget(listPage);
    table->selectRow(0);
    QTest::keyClick(&stack, Qt::Key_Delete);
    QCOMPARE(storedCount(which), 0);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestRecordListPages::failedWritesAreReported_data()
{
    perPageAndChoice("moving", "move", "remove");
}

void TestRecordListPages::failedWritesAreReported()
{
    QFETCH(QString, which);
    QFETCH(bool, moving);
    const Kind kind = kindOf(which);

    addRecord(which, "甲", 1);
    addRecord(which, "乙", 1); // equal sorts: the move renumbers first, and all of it must go back
    showPage(which);
    const QStringList before = shownNames();
    // The book refuses the write, as a locked file or a full disk would.
    QVERIFY(execAll({ "create trigger refuse before " + QString(moving ? "update" : "delete") + " on " + kind.table
        + " when old.name = '" + before.at(1) + "' begin select raise(abort, 'refused'); end" }));

    ModalAnswerer boxes;
    boxes.expect("错误", moving ? kind.moveFailed : kind.removeFailed.arg(before.at(1)), "确定");
    if (moving) {
        clickRow(0);
        button("pbMoveNext")->click();
    } else {
        clickRow(0);
        clickRow(1, Qt::ShiftModifier);
        button("pbRemove")->click();
    }
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    // What could be removed is gone; what could not is still shown.
    QCOMPARE(shownNames().first(), moving ? before.first() : before.at(1));
    QCOMPARE(storedCount(which), moving ? 2 : 1);
    if (moving) {
        QCOMPARE(shownNames(), before);
        QCOMPARE(sortOf(which, "甲"), 1);
        QCOMPARE(sortOf(which, "乙"), 1);
    }
}

QTEST_MAIN(TestRecordListPages)
#include "tst_recordlistpages.moc"
