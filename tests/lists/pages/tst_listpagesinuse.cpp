// The reference list pages in the whole program on a new book, used as a new user would: records
// created from the pages, bills entered with them, then removals of used and unused records.
// With QUORVANE_SHOTS=<folder> the window is saved there as a picture at each page.
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTest>
#include <QTreeView>
#include <memory>

#include "shell/mainwindow.h"
#include "shell/uskin.h"
#include "modalanswerer.h"
#include "testenv.h"

namespace {
// Answers a reference dialog: a name and, for a sub-category, the parent to pick.
ModalAnswerer::Answer create(const QString& name, const QString& parent = QString())
{
    return [=](QWidget* dialog) {
        if (!parent.isNull()) {
            auto* parents = dialog->findChild<QComboBox*>("cbParentId");
            parents->setCurrentIndex(parents->findText(parent));
        }
        dialog->findChild<QLineEdit*>("leName")->setText(name);
        dialog->findChild<QPushButton*>("pbOK")->click();
    };
}

void choose(QWidget* dialog, const char* combo, const QString& text)
{
    auto* box = dialog->findChild<QComboBox*>(combo);
    const int index = box->findText(text);
    if (index < 0)
        qWarning("the bill dialog offers no %s", qPrintable(text));
    box->setCurrentIndex(index);
}
}

class TestListPagesInUse : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void newUserKeepsTheLists();

private:
    void openPage(const char* button, const QString& shot);
    QStringList tableRows(const char* view) const;
    QStringList treeNames() const;
    void select(QAbstractItemView* view, const QString& name);
    // Selects each record in turn and presses Delete: the first is refused with the box
    // {title, text}, the second goes.
    void removeUsedThenUnused(ModalAnswerer& boxes, const char* page, const char* table,
        const QStringList& usedAndUnused, const QStringList& refusal);

    std::unique_ptr<TestEnv> env;
    std::unique_ptr<MainWindow> window;
};

void TestListPagesInUse::init()
{
    QTest::failOnWarning(QRegularExpression("connectSlotsByName|offers no"));
    env = std::make_unique<TestEnv>();
    if (qEnvironmentVariableIsSet("QUORVANE_SHOTS")) {
        QFile sheet(":/rc/style/default.qss");
        if (sheet.open(QIODevice::ReadOnly))
            qApp->setStyleSheet(USkin::withStoredSkin(QString::fromUtf8(sheet.readAll())));
    }
    MainWindow::environment().trayAvailable = [] { return false; };
    window = std::make_unique<MainWindow>();
    window->resize(1024, 700);
    window->show();
    QApplication::setActiveWindow(window.get());
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void TestListPagesInUse::cleanup()
{
    window.reset();
    MainWindow::environment() = MainWindow::Environment();
    TestBook::closeDefault();
    env.reset();
}

void TestListPagesInUse::openPage(const char* button, const QString& shot)
{
    window->findChild<QPushButton*>(button)->click();
    const QString folder = qEnvironmentVariable("QUORVANE_SHOTS");
    if (!folder.isEmpty())
        window->grab().save(folder + "/" + shot + ".png");
}

// Each row of a table as "name|column 1|column 2...".
QStringList TestListPagesInUse::tableRows(const char* view) const
{
    const QAbstractItemModel* model = window->findChild<QTableView*>(view)->model();
    QStringList rows;
    for (int row = 0; row < model->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < model->columnCount(); ++column)
            cells << model->index(row, column).data().toString();
        rows << cells.join('|');
    }
    return rows;
}

QStringList TestListPagesInUse::treeNames() const
{
    const QAbstractItemModel* model = window->findChild<QTreeView*>("tvExpenseList")->model();
    QStringList names;
    for (int row = 0; row < model->rowCount(); ++row) {
        const QModelIndex top = model->index(row, 0);
        names << top.data().toString();
        for (int child = 0; child < model->rowCount(top); ++child)
            names << top.data().toString() + "/" + model->index(child, 0, top).data().toString();
    }
    return names;
}

void TestListPagesInUse::select(QAbstractItemView* view, const QString& name)
{
    QModelIndexList found = view->model()->match(
        view->model()->index(0, 0), Qt::DisplayRole, name, 1, Qt::MatchExactly | Qt::MatchRecursive);
    QVERIFY2(!found.isEmpty(), qPrintable(name));
    view->scrollTo(found.first());
    // The Delete key reaches a page only in the active window; without a window manager a closed
    // box gives the activation back to nobody.
    QApplication::setActiveWindow(window.get());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(found.first()).center());
}

void TestListPagesInUse::removeUsedThenUnused(ModalAnswerer& boxes, const char* page, const char* table,
    const QStringList& usedAndUnused, const QStringList& refusal)
{
    openPage(page, QString(page).mid(2) + "-in-use");
    auto* view = window->findChild<QTableView*>(table);
    boxes.expect(refusal.first(), refusal.last(), "确定");
    for (const QString& name : usedAndUnused) {
        select(view, name);
        QTest::keyClick(view, Qt::Key_Delete);
    }
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestListPagesInUse::newUserKeepsTheLists()
{
    ModalAnswerer boxes;
    auto pressOn = [&](const char* name) { window->findChild<QPushButton*>(name)->click(); };
    auto pageButton = [&](QWidget* page, const char* name) { page->findChild<QPushButton*>(name)->click(); };

    // One of each, from the pages.
    openPage("tbAccountList", "accounts-new-book");
    boxes.expect(ModalAnswerer::ofClass("DAccount"), create("旅行卡"));
    pageButton(window->findChild<QWidget*>("wgtAccount"), "pbCreate");
    openPage("tbCategoryList", "categories-new-book");
    QWidget* categories = window->findChild<QWidget*>("wgtCategoryList");
    boxes.expect(ModalAnswerer::ofClass("DCategory"), create("宠物"));
    pageButton(categories, "pbCreateExpenseCategory");
    boxes.expect(ModalAnswerer::ofClass("DCategory"), create("猫粮", "宠物"));
    pageButton(categories, "pbCreateExpenseSubCategory");
    openPage("tbBorrowerList", "borrowers-new-book");
    boxes.expect(ModalAnswerer::ofClass("DBorrower"), create("老张"));
    pageButton(window->findChild<QWidget*>("wgtBorrowerList"), "pbCreate");
    openPage("tbMemberList", "members-new-book");
    boxes.expect(ModalAnswerer::ofClass("DMember"), create("孩子"));
    pageButton(window->findChild<QWidget*>("wgtMemberList"), "pbCreate");
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));

    // Two bills that use them: cat food for the child, and money lent to 老张.
    boxes.expect(ModalAnswerer::ofClass("DBill"), [](QWidget* bill) {
        choose(bill, "cbCategory", "宠物");
        choose(bill, "cbSubCategory", "猫粮");
        choose(bill, "cbAccount", "旅行卡");
        choose(bill, "cbMember", "孩子");
        bill->findChild<QDoubleSpinBox*>("dsbAmount")->setValue(30);
        bill->findChild<QPushButton*>("pbOk")->click();
    });
    pressOn("tbNewBill");
    boxes.expect(ModalAnswerer::ofClass("DBill"), [](QWidget* bill) {
        bill->findChild<QRadioButton*>("rbLoan")->click();
        choose(bill, "cbBorrower", "老张");
        choose(bill, "cbAccount", "旅行卡");
        bill->findChild<QDoubleSpinBox*>("dsbAmount")->setValue(100);
        bill->findChild<QPushButton*>("pbOk")->click();
    });
    pressOn("tbNewBill");
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));

    // The lists show them with what the bills did.
    openPage("tbAccountList", "accounts-in-use");
    QVERIFY(tableRows("tvAccountList").contains("旅行卡|现金|0.00|-130.00|"));
    QCOMPARE(tableRows("tvAccountList").last().section('|', 0, 0), QString("合计"));
    openPage("tbCategoryList", "categories-in-use");
    QVERIFY(treeNames().contains("宠物/猫粮"));
    openPage("tbBorrowerList", "borrowers-in-use");
    QVERIFY(tableRows("tvBorrowerList").contains("老张|-100.00|"));
    openPage("tbMemberList", "members-in-use");
    QVERIFY(tableRows("tvMemberList").contains("孩子|"));

    // What the bills use is refused; what nothing uses goes.
    removeUsedThenUnused(boxes, "tbAccountList", "tvAccountList", { "旅行卡", "我的银行卡" },
        { "不能删除", "已经有账目使用了这个账户，您不能删除此账户。" });
    QVERIFY(!tableRows("tvAccountList").join('\n').contains("我的银行卡"));
    QVERIFY(tableRows("tvAccountList").join('\n').contains("旅行卡"));
    openPage("tbCategoryList", "categories-in-use");
    auto* expenses = window->findChild<QTreeView*>("tvExpenseList");
    select(expenses, "猫粮");
    boxes.expect("删除失败", "已经有账目使用了这个分类，您不能删除此分类。", "确定");
    QTest::keyClick(expenses, Qt::Key_Delete);
    select(expenses, "宠物");
    boxes.expect("删除失败", "当前大分类下存在小分类，请先删除小分类。", "确定");
    QTest::keyClick(expenses, Qt::Key_Delete);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    const QString unusedSub = treeNames().at(1);
    select(expenses, unusedSub.section('/', 1));
    QTest::keyClick(expenses, Qt::Key_Delete);
    QVERIFY(!treeNames().contains(unusedSub));
    QVERIFY(treeNames().contains("宠物/猫粮"));

    removeUsedThenUnused(boxes, "tbBorrowerList", "tvBorrowerList", { "老张", "借款人" },
        { "删除失败", "已经有账目使用了这个借款人，您不能删除此借款人。" });
    QCOMPARE(tableRows("tvBorrowerList"), QStringList({ "老张|-100.00|" }));
    removeUsedThenUnused(boxes, "tbMemberList", "tvMemberList", { "孩子", "家人" },
        { "删除失败", "已经有账目使用了这个成员，您不能删除此成员。" });
    QVERIFY(tableRows("tvMemberList").contains("孩子|"));
    QVERIFY(!tableRows("tvMemberList").join('\n').contains("家人"));
    openPage("tbMemberList", "members-after-removal");
}

QTEST_MAIN(TestListPagesInUse)
#include "tst_listpagesinuse.moc"
