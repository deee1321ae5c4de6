// The category list page: the two trees, the four create buttons, modify, the removal rules for
// top categories and sub-categories, and moves among siblings, offscreen on fresh books.
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTest>
#include <QTreeView>
#include <memory>

#include "data/mcategory.h"
#include "lists/wcategorylist.h"
#include "modalanswerer.h"
#include "notifierrecorder.h"
#include "testenv.h"

namespace {
const QString HasSubCategories = QStringLiteral("当前大分类下存在小分类，请先删除小分类。");
const QString UsedByBills = QStringLiteral("已经有账目使用了这个分类，您不能删除此分类。");

QString addCategory(const QString& name, const QString& kind, const QString& parentId = QString(), int sort = 0)
{
    MCategory category;
    category.setName(name);
    category.setKind(kind);
    category.setDescription("");
    category.setCategoryId(parentId.isNull() ? QStringLiteral("") : parentId);
    if (sort)
        category.setSort(sort);
    MCategory::insert(&category);
    return category.getId();
}

void useInBill(const QString& topId, const QString& subId)
{
    addBillRow("expense", -10, QDate(2024, 3, 8), { { "category_id", topId }, { "sub_category_id", subId } });
}

int storedCount(const QString& table)
{
    return scalar("select count(*) from " + table).toInt();
}

int sortOf(const QString& id)
{
    const QVariant top = scalar("select sort from tbl_category where id = '" + id + "'");
    return top.isValid() ? top.toInt() : scalar("select sort from tbl_sub_category where id = '" + id + "'").toInt();
}

// Answers the category dialog: checks its mode, types a name and presses a button.
ModalAnswerer::Answer fillDialog(bool sub, const QString& parentId, const QString& newName, const QString& button)
{
    return [=](QWidget* dialog) {
        auto* parents = dialog->findChild<QComboBox*>("cbParentId");
        if (parents->isVisible() != sub)
            qWarning("category dialog in the wrong mode");
        if (sub && !parentId.isNull() && parents->currentData().toString() != parentId)
            qWarning("category dialog offers the wrong parent");
        dialog->findChild<QLineEdit*>("leName")->setText(newName);
        dialog->findChild<QPushButton*>(button)->click();
    };
}
}

class TestCategoryPage : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void showsBothTrees();
    void create_data();
    void create();
    void modifyOpensTheRecordInItsMode();
    void topCategoryWithSubCategoriesIsRefused();
    void subCategoriesThatBillsUseAreRefused();
    void topCategorySelectedWithItsSubCategories_data();
    void topCategorySelectedWithItsSubCategories();
    void removalAsksTheBookNotTheTree();
    void moves_data();
    void moves();
    void moveButtonsFollowClicks();
    void deleteKeyActsOnTheCurrentTab();
    void failedWritesAreReported_data();
    void failedWritesAreReported();

private:
    void showPage();
    QTreeView* tree(const QString& kind) const;
    // "餐饮", "餐饮/早餐", ... in the order the tree shows them.
    QStringList shown(const QString& kind) const;
    QModelIndex indexOf(const QString& kind, const QString& path) const;
    void click(const QString& kind, const QString& path, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    QPushButton* button(const char* name) const;
    QStringList selected(const QString& kind) const;

    std::unique_ptr<TestEnv> env;
    std::unique_ptr<TestBook> book;
    std::unique_ptr<WCategoryList> page;
    QString food;
    QString breakfast;
    QString lunch;
    QString travel;
    QString salary;
};

void TestCategoryPage::init()
{
    QTest::failOnWarning(QRegularExpression("connectSlotsByName|category dialog"));
    env = std::make_unique<TestEnv>();
    book = std::make_unique<TestBook>(env->dataDir() + "book.db");
    QVERIFY(book->isOpen());
    food = addCategory("餐饮", "expense", QString(), 1);
    breakfast = addCategory("早餐", "expense", food, 1);
    lunch = addCategory("午餐", "expense", food, 2);
    travel = addCategory("交通", "expense", QString(), 2);
    salary = addCategory("工资", "income", QString(), 1);
}

void TestCategoryPage::cleanup()
{
    page.reset();
    book.reset();
    env.reset();
}

void TestCategoryPage::showPage()
{
    page = std::make_unique<WCategoryList>();
    page->resize(900, 500);
    page->show();
    QApplication::setActiveWindow(page.get());
    QVERIFY(QTest::qWaitForWindowActive(page.get()));
}

QTreeView* TestCategoryPage::tree(const QString& kind) const
{
    return page->findChild<QTreeView*>(kind == "expense" ? "tvExpenseList" : "tvIncomeList");
}

QStringList TestCategoryPage::shown(const QString& kind) const
{
    const QAbstractItemModel* model = tree(kind)->model();
    QStringList paths;
    for (int row = 0; row < model->rowCount(); ++row) {
        const QModelIndex top = model->index(row, 0);
        paths << top.data().toString();
        for (int child = 0; child < model->rowCount(top); ++child)
            paths << top.data().toString() + "/" + model->index(child, 0, top).data().toString();
    }
    return paths;
}

QModelIndex TestCategoryPage::indexOf(const QString& kind, const QString& path) const
{
    const QAbstractItemModel* model = tree(kind)->model();
    const QStringList parts = path.split('/');
    const QModelIndexList tops = model->match(model->index(0, 0), Qt::DisplayRole, parts.first(), 1, Qt::MatchExactly);
    if (tops.isEmpty() || parts.size() == 1)
        return tops.value(0);
    const QModelIndexList subs
        = model->match(model->index(0, 0, tops.first()), Qt::DisplayRole, parts.last(), 1, Qt::MatchExactly);
    return subs.value(0);
}

void TestCategoryPage::click(const QString& kind, const QString& path, Qt::KeyboardModifiers modifiers)
{
    const QModelIndex index = indexOf(kind, path);
    QVERIFY2(index.isValid(), qPrintable(path));
    QTest::mouseClick(tree(kind)->viewport(), Qt::LeftButton, modifiers, tree(kind)->visualRect(index).center());
}

QPushButton* TestCategoryPage::button(const char* name) const
{
    return page->findChild<QPushButton*>(name);
}

QStringList TestCategoryPage::selected(const QString& kind) const
{
    QStringList names;
    for (const QModelIndex& index : tree(kind)->selectionModel()->selectedRows())
        names << index.data().toString();
    return names;
}

void TestCategoryPage::showsBothTrees()
{
    addCategory("奖金", "income", salary);
    showPage();
    auto* tabs = page->findChild<QTabWidget*>("twCategoryList");
    QCOMPARE(tabs->currentIndex(), 0);
    QCOMPARE(tabs->tabText(0), QString("支出分类"));
    QCOMPARE(tabs->tabText(1), QString("收入分类"));
    QCOMPARE(shown("expense"), QStringList({ "餐饮", "餐饮/早餐", "餐饮/午餐", "交通" }));
    QCOMPARE(shown("income"), QStringList({ "工资", "工资/奖金" }));
    for (const QString kind : { "expense", "income" }) {
        QVERIFY(tree(kind)->isExpanded(tree(kind)->model()->index(0, 0)));
        QCOMPARE(tree(kind)->header()->sectionSize(0), 200);
        QCOMPARE(tree(kind)->header()->sectionSize(1), 100);
        QCOMPARE(tree(kind)->visualRect(tree(kind)->model()->index(0, 0)).height(), 25);
    }
}

void TestCategoryPage::create_data()
{
    QTest::addColumn<QString>("buttonName");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("sub");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<int>("tab");

    QTest::newRow("expense top category") << "pbCreateExpenseCategory"
                                          << "expense" << false << true << 0;
    QTest::newRow("expense sub-category") << "pbCreateExpenseSubCategory"
                                          << "expense" << true << true << 0;
    QTest::newRow("income top category") << "pbCreateIncomeCategory"
                                         << "income" << false << true << 1;
    QTest::newRow("income sub-category") << "pbCreateIncomeSubCategory"
                                         << "income" << true << true << 1;
    QTest::newRow("income sub-category, cancelled") << "pbCreateIncomeSubCategory"
                                                    << "income" << true << false << 1;
}

void TestCategoryPage::create()
{
    QFETCH(QString, buttonName);
    QFETCH(QString, kind);
    QFETCH(bool, sub);
    QFETCH(bool, confirm);
    QFETCH(int, tab);

    showPage(); // on the expense tab
    const QString parentId = kind == "expense" ? food : salary;
    const int before = storedCount("tbl_category") + storedCount("tbl_sub_category");
    ModalAnswerer boxes;
    boxes.expect(ModalAnswerer::ofClass("DCategory"),
        fillDialog(sub, sub ? parentId : QString(), "新分类", confirm ? "pbOK" : "pbCancel"));
    button(qPrintable(buttonName))->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));

    QCOMPARE(page->findChild<QTabWidget*>("twCategoryList")->currentIndex(), tab);
    QCOMPARE(storedCount("tbl_category") + storedCount("tbl_sub_category"), before + (confirm ? 1 : 0));
    const QString top = kind == "expense" ? "餐饮" : "工资";
    QCOMPARE(shown(kind).contains(sub ? top + "/新分类" : "新分类"), confirm);
    if (confirm)
        QCOMPARE(
            scalar("select kind from " + QString(sub ? "tbl_sub_category" : "tbl_category") + " where name = '新分类'")
                .toString(),
            kind);
}

void TestCategoryPage::modifyOpensTheRecordInItsMode()
{
    showPage();
    ModalAnswerer boxes;
    button("pbModify")->click(); // nothing selected: no dialog

    boxes.expect(ModalAnswerer::ofClass("DCategory"), fillDialog(true, food, "早点", "pbOK"));
    const QPoint at = tree("expense")->visualRect(indexOf("expense", "餐饮/早餐")).center();
    QTest::mouseClick(tree("expense")->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(tree("expense")->viewport(), Qt::LeftButton, {}, at);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(shown("expense"), QStringList({ "餐饮", "餐饮/早点", "餐饮/午餐", "交通" }));

    click("expense", "交通");
    boxes.expect(ModalAnswerer::ofClass("DCategory"), fillDialog(false, QString(), "出行", "pbOK"));
    button("pbModify")->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(scalar("select name from tbl_category where id = '" + travel + "'").toString(), QString("出行"));
}

void TestCategoryPage::topCategoryWithSubCategoriesIsRefused()
{
    useInBill(travel, QString());
    showPage();
    ModalAnswerer boxes;
    boxes.expect("删除失败", HasSubCategories, "确定");
    click("expense", "餐饮");
    const QAbstractItemModel* before = tree("expense")->model();
    button("pbRemove")->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    // Only refusals: no rebuild, the selection stays.
    QCOMPARE(tree("expense")->model(), before);
    QCOMPARE(selected("expense"), QStringList({ "餐饮" }));

    // A top category without sub-categories goes, whatever bills carry its id.
    click("expense", "交通");
    button("pbRemove")->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QVERIFY(!shown("expense").contains("交通"));
    QCOMPARE(scalar("select category_id from tbl_bill").toString(), travel);
}

void TestCategoryPage::subCategoriesThatBillsUseAreRefused()
{
    addCategory("晚餐", "expense", food, 3);
    useInBill(food, lunch);
    showPage();
    NotifierRecorder signals_;

    ModalAnswerer boxes;
    boxes.expect("删除失败", UsedByBills, "确定");
    click("expense", "餐饮/早餐");
    click("expense", "餐饮/晚餐", Qt::ShiftModifier);
    QCOMPARE(selected("expense").size(), 3);
    button("pbRemove")->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(shown("expense"), QStringList({ "餐饮", "餐饮/午餐", "交通" }));
    QCOMPARE(signals_.count("category"), 2);
    QVERIFY(selected("expense").isEmpty()); // rebuilt
}

void TestCategoryPage::topCategorySelectedWithItsSubCategories_data()
{
    QTest::addColumn<QStringList>("clicks"); // the first a plain click, the others with Ctrl
    QTest::addColumn<bool>("refusedFirst");

    // Rows are handled in the order of the selection: a top category comes before its
    // sub-categories are gone, or after.
    QTest::newRow("top category first") << QStringList({ "餐饮", "餐饮/早餐", "餐饮/午餐" }) << true;
    QTest::newRow("sub-categories first") << QStringList({ "餐饮/早餐", "餐饮/午餐", "餐饮" }) << false;
}

void TestCategoryPage::topCategorySelectedWithItsSubCategories()
{
    QFETCH(QStringList, clicks);
    QFETCH(bool, refusedFirst);

    showPage();
    ModalAnswerer boxes;
    if (refusedFirst)
        boxes.expect("删除失败", HasSubCategories, "确定");
    for (const QString& path : clicks)
        click("expense", path, path == clicks.first() ? Qt::NoModifier : Qt::ControlModifier);
    QCOMPARE(selected("expense").size(), 3);
    button("pbRemove")->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(storedCount("tbl_sub_category"), 0);
    if (refusedFirst) {
        QCOMPARE(shown("expense"), QStringList({ "餐饮", "交通" }));
        click("expense", "餐饮");
        button("pbRemove")->click();
    }
    QCOMPARE(shown("expense"), QStringList({ "交通" }));
}

void TestCategoryPage::removalAsksTheBookNotTheTree()
{
    showPage();
    // Made after the page was shown, as the bill dialog of the page menu can: the tree still
    // shows the old state.
    addCategory("地铁", "expense", travel);
    useInBill(food, breakfast);
    QCOMPARE(shown("expense"), QStringList({ "餐饮", "餐饮/早餐", "餐饮/午餐", "交通" }));

    ModalAnswerer boxes;
    boxes.expect("删除失败", HasSubCategories, "确定");
    boxes.expect("删除失败", UsedByBills, "确定");
    click("expense", "交通");
    click("expense", "餐饮/早餐", Qt::ControlModifier);
    button("pbRemove")->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(storedCount("tbl_category where kind = 'expense'"), 2);
    QCOMPARE(storedCount("tbl_sub_category"), 3);
}

void TestCategoryPage::moves_data()
{
    QTest::addColumn<QList<int>>("sorts");
    QTest::addColumn<bool>("sub");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("step");
    QTest::addColumn<QList<int>>("order"); // the siblings' original rows, in their new order
    QTest::addColumn<QList<int>>("newSorts");

    QTest::newRow("top, third up") << QList<int> { 1, 2, 3 } << false << 2 << -1 << QList<int> { 0, 2, 1 }
                                   << QList<int> { 1, 3, 2 };
    QTest::newRow("top, with a gap, up") << QList<int> { 1, 5 } << false << 1 << -1 << QList<int> { 1, 0 }
                                         << QList<int> { 5, 1 };
    QTest::newRow("top, equal, down") << QList<int> { 4, 4 } << false << 0 << 1 << QList<int> { 1, 0 }
                                      << QList<int> { 2, 1 };
    QTest::newRow("sub, first down") << QList<int> { 1, 2, 3 } << true << 0 << 1 << QList<int> { 1, 0, 2 }
                                     << QList<int> { 2, 1, 3 };
    QTest::newRow("sub, equal, up") << QList<int> { 7, 7 } << true << 1 << -1 << QList<int> { 1, 0 }
                                    << QList<int> { 2, 1 };
    QTest::newRow("sub, last down: nothing")
        << QList<int> { 1, 2 } << true << 1 << 1 << QList<int> { 0, 1 } << QList<int> { 1, 2 };
}

void TestCategoryPage::moves()
{
    QFETCH(QList<int>, sorts);
    QFETCH(bool, sub);
    QFETCH(int, row);
    QFETCH(int, step);
    QFETCH(QList<int>, order);
    QFETCH(QList<int>, newSorts);

    // Siblings of their own under a fresh income top category, beside the fixture's categories,
    // which must not change.
    const QString parent = sub ? addCategory("其他收入", "income", QString(), 9) : QString();
    QStringList ids;
    for (int i = 0; i < sorts.size(); ++i)
        ids << addCategory(QString("c%1").arg(i), "income", parent, sorts.at(i));
    if (!sub)
        execAll({ "delete from tbl_category where id = '" + salary + "'" });
    showPage();
    page->findChild<QTabWidget*>("twCategoryList")->setCurrentIndex(1);
    const QString prefix = sub ? "其他收入/" : "";
    QStringList before;
    for (const QString& path : shown("income")) {
        if (path.startsWith(prefix) && path != "其他收入")
            before << path;
    }
    QCOMPARE(before.size(), sorts.size());
    const QString moved = before.at(row);

    ModalAnswerer boxes;
    click("income", moved);
    button(step < 0 ? "pbMovePrevious" : "pbMoveNext")->click();
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));

    QStringList after;
    for (const QString& path : shown("income")) {
        if (path.startsWith(prefix) && path != "其他收入")
            after << path;
    }
    QStringList expected;
    for (int i : order)
        expected << before.at(i);
    QCOMPARE(after, expected);
    for (int i = 0; i < sorts.size(); ++i) {
        const QString name = before.at(i).section('/', -1);
        QCOMPARE(sortOf(ids.at(name.mid(1).toInt())), newSorts.at(i));
    }
    QCOMPARE(sortOf(food), 1);
    QCOMPARE(sortOf(travel), 2);
    QCOMPARE(sortOf(breakfast), 1);
    // The moved category stays selected, with buttons for its new place and the focus.
    QCOMPARE(selected("income"), QStringList({ moved.section('/', -1) }));
    QCOMPARE(button("pbMovePrevious")->isEnabled(), expected.indexOf(moved) != 0);
    QCOMPARE(button("pbMoveNext")->isEnabled(), expected.indexOf(moved) != sorts.size() - 1);
    QVERIFY(tree("income")->hasFocus());
}

void TestCategoryPage::moveButtonsFollowClicks()
{
    addCategory("奖金", "income", salary);
    showPage();
    QVERIFY(button("pbMovePrevious")->isEnabled()); // enabled until the first click
    click("expense", "餐饮");
    QVERIFY(!button("pbMovePrevious")->isEnabled());
    QVERIFY(button("pbMoveNext")->isEnabled());
    click("expense", "餐饮/午餐");
    QVERIFY(button("pbMovePrevious")->isEnabled());
    QVERIFY(!button("pbMoveNext")->isEnabled());

    page->findChild<QTabWidget*>("twCategoryList")->setCurrentIndex(1);
    click("income", "工资/奖金");
    QVERIFY(!button("pbMovePrevious")->isEnabled());
    QVERIFY(!button("pbMoveNext")->isEnabled());
}

void TestCategoryPage::deleteKeyActsOnTheCurrentTab()
{
    const QString bonus = addCategory("奖金", "income");
    showPage();
    tree("income")->selectionModel()->select(
        indexOf("income", "奖金"), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    click("expense", "交通");

    ModalAnswerer boxes;
    QTest::keyClick(page.get(), Qt::Key_Delete);
    QCOMPARE(shown("expense"), QStringList({ "餐饮", "餐饮/早餐", "餐饮/午餐" }));
    QCOMPARE(storedCount("tbl_category where id = '" + bonus + "'"), 1);

    page->findChild<QTabWidget*>("twCategoryList")->setCurrentIndex(1);
    click("income", "奖金");
    QTest::keyClick(tree("income"), Qt::Key_Delete);
    QCOMPARE(shown("income"), QStringList({ "工资" }));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestCategoryPage::failedWritesAreReported_data()
{
    QTest::addColumn<bool>("moving");
    QTest::newRow("remove") << false;
    QTest::newRow("move") << true;
}

void TestCategoryPage::failedWritesAreReported()
{
    QFETCH(bool, moving);

    QVERIFY(execAll({ "create trigger refuse before " + QString(moving ? "update" : "delete")
        + " on tbl_sub_category when old.name = '午餐' begin select raise(abort, 'refused'); end" }));
    showPage();
    ModalAnswerer boxes;
    boxes.expect(
        "错误", moving ? "分类的顺序没有保存成功，请稍后再试。" : "分类“午餐”没有删除成功，请稍后再试。", "确定");
    click("expense", "餐饮/早餐");
    if (moving) {
        button("pbMoveNext")->click();
    } else {
        click("expense", "餐饮/午餐", Qt::ShiftModifier);
        button("pbRemove")->click();
    }
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(shown("expense"),
        moving ? QStringList({ "餐饮", "餐饮/早餐", "餐饮/午餐", "交通" })
               : QStringList({ "餐饮", "餐饮/午餐", "交通" }));
    if (moving) {
        QCOMPARE(sortOf(breakfast), 1);
        QCOMPARE(sortOf(lunch), 2);
    }
}

QTEST_MAIN(TestCategoryPage)
#include "tst_categorypage.moc"
