#include <QComboBox>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QTreeView>
#include <memory>

#include "billlistfixture.h"
#include "bills/mbillmodel.h"
#include "bills/wbilllist.h"
#include "data/filesetting.h"
#include "data/maccount.h"
#include "data/mbill.h"
#include "data/mcategory.h"
#include "data/settingkeys.h"
#include "shell/ustatusbar.h"
#include "testenv.h"

namespace {

template <typename T> T* child(const QWidget& page, const char* name)
{
    T* widget = page.findChild<T*>(QLatin1String(name));
    if (!widget)
        qFatal("no %s", name);
    return widget;
}

QTreeView* tree(const WBillList& page)
{
    return child<QTreeView>(page, "tvBillList");
}

MBillModel* model(const WBillList& page)
{
    return dynamic_cast<MBillModel*>(tree(page)->model());
}

// Picks the item with this data, at any level of the combo's list, as the user would: the combo's
// reaction runs.
void choose(QComboBox* box, const QVariant& data)
{
    const QModelIndexList found
        = box->model()->match(box->model()->index(0, 0), Qt::UserRole, data, 1, Qt::MatchExactly | Qt::MatchRecursive);
    QVERIFY2(!found.isEmpty(), qPrintable(data.toString()));
    box->setRootModelIndex(found.first().parent());
    box->setCurrentIndex(found.first().row());
    box->setRootModelIndex(QModelIndex());
}

void choose(const WBillList& page, const char* combo, const QVariant& data)
{
    choose(child<QComboBox>(page, combo), data);
}

void search(const WBillList& page, const QString& text)
{
    child<QLineEdit>(page, "leSeacrh")->setText(text);
    child<QPushButton>(page, "pbSearch")->click();
}

// Every bill of the filter, all pages, by description, sorted.
QStringList listed(const WBillList& page)
{
    QStringList descriptions;
    for (const MBill* bill : *model(page)->getBillList())
        descriptions << bill->getDescription();
    descriptions.sort();
    return descriptions;
}

void clickOn(QTreeView* view, const QModelIndex& index)
{
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
}

QStringList allStandardBills()
{
    return { "b1", "e1", "e2", "i1", "l1", "t1" };
}

QStringList messages;

void collectSlotWarnings(QtMsgType, const QMessageLogContext&, const QString& message)
{
    if (message.contains("connectSlotsByName"))
        messages << message;
}

} // namespace

class TestWBillList : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void slotsBindByName();
    void conditionTexts_data();
    void conditionTexts();
    void filtersSelectTheirBills_data();
    void filtersSelectTheirBills();
    void quotedIdsMatchOnlyThemselves_data();
    void quotedIdsMatchOnlyThemselves();
    void searchFindsTheTextLiterally_data();
    void searchFindsTheTextLiterally();
    void filtersResetEachOther_data();
    void filtersResetEachOther();
    void firstItemDropsTheFilter_data();
    void firstItemDropsTheFilter();
    void searchBoxShowsTheSearchInForce();
    void refillsKeepTheChoiceInForce();
    void goneChoicesDropTheirFilter();
    void categoryPopupPicksAnyLevel();
    void memberFilterFollowsTheSetting_data();
    void memberFilterFollowsTheSetting();
    void pagingButtonsAndJumpBox();
    void pageSizeFollowsTheTreeHeight_data();
    void pageSizeFollowsTheTreeHeight();
    void showingAfterAHiddenResizeKeepsThePageSize();
    void storedColumnWidths_data();
    void storedColumnWidths();
    void resizingAColumnStoresAllWidths();
    void closingThePageStoresNoWidths();
    void filterCombosAreAsWideAsTheirChoice();
    void dayRowsSpanTheRow();
    void reloadsOnceOnEveryBillChangeShownOrHidden();
    void statusBarTotalsFollowTheFilter();
    void clickOnADayRowFoldsIt();

private:
    // A page bound on the standard bills, alive until the test ends.
    WBillList& standardPage();

    std::unique_ptr<TestEnv> env;
    std::unique_ptr<TestBook> book;
    std::unique_ptr<WBillList> heldPage;
};

void TestWBillList::init()
{
    env = std::make_unique<TestEnv>();
    book = std::make_unique<TestBook>(env->dataDir() + "book.db");
    QVERIFY(book->isOpen());
    addReferences();
}

void TestWBillList::cleanup()
{
    heldPage.reset();
    book.reset();
    env.reset();
}

WBillList& TestWBillList::standardPage()
{
    addStandardBills();
    heldPage = std::make_unique<WBillList>();
    heldPage->bind();
    return *heldPage;
}

void TestWBillList::slotsBindByName()
{
    messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectSlotWarnings);
    {
        WBillList page;
    }
    qInstallMessageHandler(previous);
    QVERIFY2(messages.isEmpty(), qPrintable(messages.join('\n')));
}

void TestWBillList::conditionTexts_data()
{
    QTest::addColumn<int>("month");
    QTest::addColumn<QString>("account");
    QTest::addColumn<QString>("category");
    QTest::addColumn<QString>("member");
    QTest::addColumn<QString>("borrower");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("condition");

    QTest::newRow("nothing") << 0 << ""
                             << ""
                             << ""
                             << ""
                             << ""
                             << " 1=1 ";
    QTest::newRow("month") << 201307 << ""
                           << ""
                           << ""
                           << ""
                           << ""
                           << " 1=1  and  month=201307 ";
    QTest::newRow("all but the borrower")
        << 201307 << "A1"
        << "cC1"
        << "M1"
        << ""
        << "x"
        << " 1=1  and  month=201307  and  ( account_id='A1' or to_account_id='A1')  and  (category_id='C1')  and   "
           "member_id='M1'  and  (description like '%x%' escape '\\' or title like '%x%' escape '\\')";
    QTest::newRow("kind row") << 0 << ""
                              << "income"
                              << ""
                              << ""
                              << ""
                              << " 1=1  and  kind='income' ";
    QTest::newRow("sub-category") << 0 << ""
                                  << "sS1"
                                  << ""
                                  << ""
                                  << ""
                                  << " 1=1  and  ( sub_category_id='S1') ";
    QTest::newRow("borrower and month") << 201306 << ""
                                        << ""
                                        << ""
                                        << "B1"
                                        << ""
                                        << " 1=1  and  month=201306  and  borrower_id='B1' ";
    QTest::newRow("quote in the search")
        << 0 << ""
        << ""
        << ""
        << ""
        << "it's"
        << " 1=1  and  (description like '%it''s%' escape '\\' or title like '%it''s%' escape '\\')";
    QTest::newRow("two blanks searched as they are")
        << 0 << ""
        << ""
        << ""
        << ""
        << "  "
        << " 1=1  and  (description like '%  %' escape '\\' or title like '%  %' escape '\\')";
    QTest::newRow("wildcards searched as text")
        << 0 << ""
        << ""
        << ""
        << ""
        << "5%_\\"
        << " 1=1  and  (description like '%5\\%\\_\\\\%' escape '\\' or title like '%5\\%\\_\\\\%' escape '\\')";
}

void TestWBillList::conditionTexts()
{
    QFETCH(int, month);
    QFETCH(QString, account);
    QFETCH(QString, category);
    QFETCH(QString, member);
    QFETCH(QString, borrower);
    QFETCH(QString, text);
    QFETCH(QString, condition);

    WBillList& page = standardPage();
    if (month)
        choose(page, "cbMonthList", month);
    if (!account.isEmpty())
        choose(page, "cbAccountList", account);
    if (!category.isEmpty())
        choose(page, "cbCategoryList", category);
    if (!member.isEmpty())
        choose(page, "cbMemberList", member);
    if (!borrower.isEmpty())
        choose(page, "cbBorrowerList", borrower);
    if (!text.isEmpty())
        search(page, text);

    QCOMPARE(page.buildCondition(), condition);
    QCOMPARE(model(page)->getCondition(), condition);
}

void TestWBillList::filtersSelectTheirBills_data()
{
    QTest::addColumn<QByteArray>("combo");
    QTest::addColumn<QVariant>("choice");
    QTest::addColumn<QStringList>("bills");

    QTest::newRow("month") << QByteArray("cbMonthList") << QVariant(201306) << QStringList { "b1", "i1" };
    QTest::newRow("account with transfers into it")
        << QByteArray("cbAccountList") << QVariant("A1") << QStringList { "e1", "l1", "t1" };
    QTest::newRow("account") << QByteArray("cbAccountList") << QVariant("A2") << QStringList { "b1", "e2", "i1", "t1" };
    QTest::newRow("expense kind") << QByteArray("cbCategoryList") << QVariant("expense") << QStringList { "e1", "e2" };
    QTest::newRow("income kind") << QByteArray("cbCategoryList") << QVariant("income") << QStringList { "i1" };
    QTest::newRow("top category") << QByteArray("cbCategoryList") << QVariant("cC1") << QStringList { "e1", "e2" };
    QTest::newRow("sub-category") << QByteArray("cbCategoryList") << QVariant("sS2") << QStringList { "e2" };
    QTest::newRow("borrower") << QByteArray("cbBorrowerList") << QVariant("B1") << QStringList { "l1" };
    QTest::newRow("member") << QByteArray("cbMemberList") << QVariant("M1") << QStringList { "e1", "i1" };
}

void TestWBillList::filtersSelectTheirBills()
{
    QFETCH(QByteArray, combo);
    QFETCH(QVariant, choice);
    QFETCH(QStringList, bills);

    WBillList& page = standardPage();
    QCOMPARE(listed(page), allStandardBills());
    choose(page, combo.constData(), choice);
    QCOMPARE(listed(page), bills);
}

void TestWBillList::quotedIdsMatchOnlyThemselves_data()
{
    QTest::addColumn<QString>("insert");
    QTest::addColumn<QByteArray>("combo");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QVariantMap>("columns");

    // Ids come from the book and from the synchronisation; a quote in one must not open the SQL.
    QTest::newRow("account") << "insert into tbl_account (id, name, kind, amount) values ('A''3', '旧卡', 'card', 0)"
                             << QByteArray("cbAccountList") << "A'3" << QVariantMap { { "account_id", "A'3" } };
    QTest::newRow("sub-category")
        << "insert into tbl_sub_category (id, category_id, name, kind) values ('S'' or ''1''=''1', 'C1', '夜宵', "
           "'expense')"
        << QByteArray("cbCategoryList") << "sS' or '1'='1"
        << QVariantMap { { "category_id", "C1" }, { "sub_category_id", "S' or '1'='1" } };
    QTest::newRow("borrower") << "insert into tbl_borrower (id, name) values ('B'' or 1=1 --', '老张')"
                              << QByteArray("cbBorrowerList") << "B' or 1=1 --"
                              << QVariantMap { { "borrower_id", "B' or 1=1 --" } };
    QTest::newRow("member") << "insert into tbl_member (id, name) values ('M''3', '客人')" << QByteArray("cbMemberList")
                            << "M'3" << QVariantMap { { "member_id", "M'3" } };
}

void TestWBillList::quotedIdsMatchOnlyThemselves()
{
    QFETCH(QString, insert);
    QFETCH(QByteArray, combo);
    QFETCH(QString, choice);
    QFETCH(QVariantMap, columns);

    addStandardBills();
    QVERIFY(execAll({ insert }));
    TestBook::resetRecordCaches();
    QVariantMap bill = columns;
    bill.insert("description", "quoted");
    addBill(combo == "cbBorrowerList" ? "lend" : "expense", -1, QDate(2013, 7, 1), bill);

    WBillList page;
    page.bind();
    choose(page, combo.constData(), choice);
    QCOMPARE(listed(page), QStringList { "quoted" });
}

void TestWBillList::searchFindsTheTextLiterally_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("bills");

    QTest::newRow("quote") << "'" << QStringList { "' or 1=1 --", "it's fine" };
    QTest::newRow("percent") << "%" << QStringList { "100% sure", "in title" };
    QTest::newRow("underscore") << "_" << QStringList { "a_b" };
    QTest::newRow("backslash") << "\\" << QStringList { "C:\\x" };
    QTest::newRow("injection") << "' or 1=1 --" << QStringList { "' or 1=1 --" };
    QTest::newRow("title") << "50%" << QStringList { "in title" };
    QTest::newRow("nothing matches") << "%%" << QStringList {};
    // What no text can hold is dropped where it is typed, from the box too.
    QTest::newRow("NUL") << QString("100") + QChar(0) + "%" << QStringList { "100% sure" };
    QTest::newRow("lone surrogate") << QString("10") + QChar(0xDC00) + "0%" << QStringList { "100% sure" };
}

void TestWBillList::searchFindsTheTextLiterally()
{
    QFETCH(QString, text);
    QFETCH(QStringList, bills);

    for (const char* description : { "it's fine", "100% sure", "a_b", "ab", "C:\\x", "Cx", "plain", "' or 1=1 --" })
        addBill("expense", -1, QDate(2013, 7, 1), { { "description", QString::fromUtf8(description) } });
    addBill("expense", -1, QDate(2013, 7, 2), { { "title", "折扣 50%" }, { "description", "in title" } });

    WBillList page;
    page.bind();
    search(page, text);
    QCOMPARE(listed(page), bills);
    const QString shown = child<QLineEdit>(page, "leSeacrh")->text();
    QVERIFY(!shown.contains(QChar(0)) && !shown.contains(QChar(0xDC00)));
}

void TestWBillList::filtersResetEachOther_data()
{
    QTest::addColumn<QByteArray>("firstCombo");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QByteArray>("secondCombo");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QStringList>("shown"); // category, member, borrower, account
    QTest::addColumn<QString>("condition");

    QTest::newRow("borrower after member")
        << QByteArray("cbMemberList") << "M1" << QByteArray("cbBorrowerList") << "B1"
        << QStringList { "按分类查看", "按成员查看", "小王", "按账户查看" } << " 1=1  and  borrower_id='B1' ";
    QTest::newRow("borrower after category")
        << QByteArray("cbCategoryList") << "cC1" << QByteArray("cbBorrowerList") << "B2"
        << QStringList { "按分类查看", "按成员查看", "老李", "按账户查看" } << " 1=1  and  borrower_id='B2' ";
    QTest::newRow("member after borrower")
        << QByteArray("cbBorrowerList") << "B1" << QByteArray("cbMemberList") << "M2"
        << QStringList { "按分类查看", "家人", "按借款人查看", "按账户查看" } << " 1=1  and   member_id='M2' ";
    QTest::newRow("category after borrower")
        << QByteArray("cbBorrowerList") << "B1" << QByteArray("cbCategoryList") << "sS1"
        << QStringList { "早餐", "按成员查看", "按借款人查看", "按账户查看" } << " 1=1  and  ( sub_category_id='S1') ";
    QTest::newRow("member keeps the category") << QByteArray("cbCategoryList") << "cC1" << QByteArray("cbMemberList")
                                               << "M1" << QStringList { "餐饮", "自己", "按借款人查看", "按账户查看" }
                                               << " 1=1  and  (category_id='C1')  and   member_id='M1' ";
    QTest::newRow("borrower keeps the account")
        << QByteArray("cbAccountList") << "A1" << QByteArray("cbBorrowerList") << "B1"
        << QStringList { "按分类查看", "按成员查看", "小王", "现金" }
        << " 1=1  and  ( account_id='A1' or to_account_id='A1')  and  borrower_id='B1' ";
}

void TestWBillList::filtersResetEachOther()
{
    QFETCH(QByteArray, firstCombo);
    QFETCH(QString, first);
    QFETCH(QByteArray, secondCombo);
    QFETCH(QString, second);
    QFETCH(QStringList, shown);
    QFETCH(QString, condition);

    WBillList& page = standardPage();
    choose(page, firstCombo.constData(), first);
    QSignalSpy reloads(model(page), &QAbstractItemModel::modelReset);
    choose(page, secondCombo.constData(), second);

    QCOMPARE(reloads.size(), 1);
    QCOMPARE(page.buildCondition(), condition);
    QStringList texts;
    for (const char* name : { "cbCategoryList", "cbMemberList", "cbBorrowerList", "cbAccountList" })
        texts << child<QComboBox>(page, name)->currentText().trimmed();
    QCOMPARE(texts, shown);
}

void TestWBillList::firstItemDropsTheFilter_data()
{
    QTest::addColumn<QByteArray>("combo");
    QTest::addColumn<QVariant>("choice");
    QTest::addColumn<QVariant>("first");

    QTest::newRow("month") << QByteArray("cbMonthList") << QVariant(201307) << QVariant(0);
    QTest::newRow("account") << QByteArray("cbAccountList") << QVariant("A2") << QVariant("");
    QTest::newRow("category") << QByteArray("cbCategoryList") << QVariant("sS3") << QVariant("");
    QTest::newRow("member") << QByteArray("cbMemberList") << QVariant("M2") << QVariant("");
    QTest::newRow("borrower") << QByteArray("cbBorrowerList") << QVariant("B2") << QVariant("");
}

void TestWBillList::firstItemDropsTheFilter()
{
    QFETCH(QByteArray, combo);
    QFETCH(QVariant, choice);
    QFETCH(QVariant, first);

    WBillList& page = standardPage();
    choose(page, combo.constData(), choice);
    QVERIFY(page.buildCondition() != " 1=1 ");
    choose(page, combo.constData(), first);
    QCOMPARE(page.buildCondition(), QString(" 1=1 "));
    QCOMPARE(listed(page), allStandardBills());
}

void TestWBillList::searchBoxShowsTheSearchInForce()
{
    WBillList& page = standardPage();
    auto* box = child<QLineEdit>(page, "leSeacrh");
    QSignalSpy reloads(model(page), &QAbstractItemModel::modelReset);

    // Typing alone does not search.
    box->setText("e");
    QCOMPARE(reloads.size(), 0);
    QCOMPARE(listed(page), allStandardBills());
    child<QPushButton>(page, "pbSearch")->click();
    QCOMPARE(listed(page), (QStringList { "e1", "e2" }));

    // A reload (a bill changed, the page shown again) keeps the box and its search.
    addBill("expense", -1, QDate(2013, 7, 8), { { "description", "e3" } });
    MBill::clearCache();
    QCOMPARE(box->text(), QString("e"));
    QCOMPARE(listed(page), (QStringList { "e1", "e2", "e3" }));

    // Emptying the box by editing it drops the search.
    box->clear();
    QCOMPARE(page.buildCondition(), QString(" 1=1 "));
    QCOMPARE(listed(page).size(), 7);

    // "搜索" on an empty box drops it too.
    search(page, "l1");
    QCOMPARE(listed(page), QStringList { "l1" });
    {
        const QSignalBlocker blocker(box);
        box->clear();
    }
    child<QPushButton>(page, "pbSearch")->click();
    QCOMPARE(page.buildCondition(), QString(" 1=1 "));
}

void TestWBillList::refillsKeepTheChoiceInForce()
{
    WBillList& page = standardPage();
    auto* months = child<QComboBox>(page, "cbMonthList");
    auto* accounts = child<QComboBox>(page, "cbAccountList");
    auto* categories = child<QComboBox>(page, "cbCategoryList");
    choose(months, 201307);
    choose(accounts, "A2");
    choose(categories, "sS2");
    const QString condition = page.buildCondition();
    QCOMPARE(listed(page), QStringList { "e2" });

    // A bill in a new month refills the months.
    MBill bill;
    bill.setKind("expense");
    bill.setAmount(-5);
    bill.setDate(QDate(2013, 8, 1));
    bill.setMonth(201308);
    bill.setAccountId("A2");
    bill.setDescription("august");
    QVERIFY(MBill::insert(&bill));
    QCOMPARE(months->count(), 4);
    QCOMPARE(months->currentText(), QString("201307"));

    // A renamed account and a new category refill their combos.
    MAccount* card = MAccount::getById("A2");
    card->setName("工资卡");
    QVERIFY(MAccount::update(card));
    QCOMPARE(accounts->currentText(), QString("工资卡"));
    MCategory category;
    category.setName("交通");
    category.setKind("expense");
    QVERIFY(MCategory::insert(&category));
    QCOMPARE(categories->currentText(), QString("午餐"));
    QCOMPARE(categories->currentData().toString(), QString("sS2"));

    QCOMPARE(page.buildCondition(), condition);
    QCOMPARE(listed(page), QStringList { "e2" });
}

void TestWBillList::goneChoicesDropTheirFilter()
{
    WBillList& page = standardPage();
    auto* months = child<QComboBox>(page, "cbMonthList");
    auto* accounts = child<QComboBox>(page, "cbAccountList");
    auto* categories = child<QComboBox>(page, "cbCategoryList");

    // The last bills of the chosen month are deleted.
    choose(months, 201306);
    const QList<MBill*> june = *model(page)->getBillList();
    QCOMPARE(june.size(), 2);
    for (MBill* bill : june)
        QVERIFY(MBill::remove(bill));
    QCOMPARE(months->currentIndex(), 0);
    QCOMPARE(page.buildCondition(), QString(" 1=1 "));
    QCOMPARE(listed(page), (QStringList { "e1", "e2", "l1", "t1" }));

    // The chosen account and sub-category are removed.
    choose(accounts, "A1");
    QVERIFY(MAccount::remove("A1"));
    QCOMPARE(accounts->currentText(), QString("按账户查看"));
    choose(categories, "sS2");
    QSignalSpy reloads(model(page), &QAbstractItemModel::modelReset);
    QVERIFY(MCategory::remove(MCategory::getSubCategoryById("S2")));
    QCOMPARE(reloads.size(), 1);
    QCOMPARE(categories->currentText(), QString("按分类查看"));
    QCOMPARE(page.buildCondition(), QString(" 1=1 "));
    QCOMPARE(listed(page).size(), 4);
}

void TestWBillList::categoryPopupPicksAnyLevel()
{
    addStandardBills();
    WBillList page;
    page.resize(900, 500);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    auto* box = child<QComboBox>(page, "cbCategoryList");
    auto* popup = qobject_cast<QTreeView*>(box->view());
    QVERIFY(popup);

    for (const auto& [data, text] : { std::pair { "sS2", "午餐" }, std::pair { "cC2", "工资" } }) {
        box->showPopup();
        QTRY_VERIFY(popup->isVisible());
        const QModelIndex item = box->model()
                                     ->match(box->model()->index(0, 0), Qt::UserRole, QString(data), 1,
                                         Qt::MatchExactly | Qt::MatchRecursive)
                                     .value(0);
        QVERIFY(item.isValid());
        QVERIFY(popup->isExpanded(item.parent()));
        QTest::mouseClick(popup->viewport(), Qt::LeftButton, {}, popup->visualRect(item).center());
        QTRY_VERIFY(!popup->isVisible());
        QCOMPARE(box->currentText(), QString::fromUtf8(text));
    }
    QCOMPARE(page.buildCondition(), QString(" 1=1  and  (category_id='C2') "));
    QCOMPARE(listed(page), QStringList { "i1" });
}

void TestWBillList::memberFilterFollowsTheSetting_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<bool>("shown");

    QTest::newRow("default") << QVariant() << true;
    QTest::newRow("on") << QVariant(true) << true;
    QTest::newRow("off") << QVariant(false) << false;
}

void TestWBillList::memberFilterFollowsTheSetting()
{
    QFETCH(QVariant, stored);
    QFETCH(bool, shown);

    if (stored.isValid())
        FileSetting::getInstance()->setValue(SettingKeys::EnableBillMember, stored);
    WBillList page;
    QCOMPARE(child<QComboBox>(page, "cbMemberList")->isHidden(), !shown);
    QCOMPARE(child<QLabel>(page, "lblMemberList")->isHidden(), !shown);
}

void TestWBillList::pagingButtonsAndJumpBox()
{
    WBillList page;
    auto* label = child<QLabel>(page, "lblPagePosition");
    auto* first = child<QPushButton>(page, "pbFirst");
    auto* prev = child<QPushButton>(page, "pbPrev");
    auto* next = child<QPushButton>(page, "pbNext");
    auto* last = child<QPushButton>(page, "pbLast");
    auto* jump = child<QPushButton>(page, "pbChangePageIndex");
    auto* number = child<QSpinBox>(page, "sbPageNo");
    const auto buttons = [&] {
        return QList<bool> { first->isEnabled(), prev->isEnabled(), next->isEnabled(), last->isEnabled() };
    };

    QCOMPARE(label->text(), QString("1/1"));
    page.bind();
    QCOMPARE(label->text(), QString("1/1 "));
    QCOMPARE(buttons(), (QList<bool> { false, false, false, false }));

    for (int i = 0; i < 45; ++i)
        addBill("expense", -1, QDate(2013, 7, 1).addDays(i));
    MBill::clearCache();
    QCOMPARE(label->text(), QString("1/3 "));
    QCOMPARE(buttons(), (QList<bool> { false, false, true, true }));

    // The jump box follows the page shown, however it was reached.
    next->click();
    QCOMPARE(label->text(), QString("2/3 "));
    QCOMPARE(number->value(), 2);
    QCOMPARE(buttons(), (QList<bool> { true, true, true, true }));
    last->click();
    QCOMPARE(label->text(), QString("3/3 "));
    QCOMPARE(number->value(), 3);
    QCOMPARE(buttons(), (QList<bool> { true, true, false, false }));
    QCOMPARE(model(page)->rowCount(), 5);
    prev->click();
    QCOMPARE(label->text(), QString("2/3 "));
    first->click();
    QCOMPARE(label->text(), QString("1/3 "));
    QCOMPARE(number->value(), 1);

    number->setValue(99999);
    jump->click();
    QCOMPARE(label->text(), QString("3/3 "));
    QCOMPARE(number->value(), 3);
    number->setValue(2);
    jump->click();
    QCOMPARE(label->text(), QString("2/3 "));
    QCOMPARE(number->value(), 2);
    QCOMPARE(buttons(), (QList<bool> { true, true, true, true }));
    // Another filter: the box shows its page too.
    choose(page, "cbMonthList", 201307);
    QCOMPARE(label->text(), QString("2/2 "));
    QCOMPARE(number->value(), 2);
}

void TestWBillList::pageSizeFollowsTheTreeHeight_data()
{
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("rows");

    QTest::newRow("299") << 299 << 10;
    QTest::newRow("329") << 329 << 10;
    QTest::newRow("330") << 330 << 11;
    QTest::newRow("600") << 600 << 20;
    QTest::newRow("900") << 900 << 30;
    QTest::newRow("200") << 200 << 10;
}

void TestWBillList::pageSizeFollowsTheTreeHeight()
{
    QFETCH(int, height);
    QFETCH(int, rows);

    for (int i = 0; i < 45; ++i)
        addBill("expense", -1, QDate(2013, 7, 1).addDays(i));
    WBillList page;
    page.resize(900, 450);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QCOMPARE(model(page)->getPageSize(), 20);

    const int around = page.height() - tree(page)->height();
    page.resize(900, height + around);
    QTRY_COMPARE(tree(page)->height(), height);
    QCOMPARE(model(page)->getPageSize(), rows);
    QCOMPARE(child<QLabel>(page, "lblPagePosition")->text(), QString("1/%1 ").arg((45 - 1) / rows + 1));
}

void TestWBillList::showingAfterAHiddenResizeKeepsThePageSize()
{
    WBillList page;
    page.resize(900, 400);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QCOMPARE(model(page)->getPageSize(), 20);
    const int around = page.height() - tree(page)->height();
    page.resize(900, 330 + around);
    QTRY_COMPARE(model(page)->getPageSize(), 11);

    page.hide();
    page.resize(900, 900);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QCOMPARE(model(page)->getPageSize(), 11);
}

void TestWBillList::storedColumnWidths_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QList<int>>("widths");

    QTest::newRow("clamped") << "30:600:120" << QList<int> { 100, 500, 120, 100 };
    QTest::newRow("all given") << "60:70:80:90:100" << QList<int> { 60, 70, 80, 90 };
    QTest::newRow("not numbers") << "a:b" << QList<int> { 100, 100, 100, 100 };
    QTest::newRow("edges") << "50:500:49:501" << QList<int> { 50, 500, 100, 500 };
}

void TestWBillList::storedColumnWidths()
{
    QFETCH(QString, stored);
    QFETCH(QList<int>, widths);

    FileSetting::getInstance()->setValue(SettingKeys::ColumnWidths, stored);
    WBillList page;
    QList<int> applied;
    for (int column = 0; column < 4; ++column)
        applied << tree(page)->columnWidth(column);
    QCOMPARE(applied, widths);
    // Applying them stores nothing.
    QCOMPARE(FileSetting::getInstance()->value(SettingKeys::ColumnWidths).toString(), stored);
}

void TestWBillList::resizingAColumnStoresAllWidths()
{
    WBillList page;
    QHeaderView* header = tree(page)->header();
    QCOMPARE(header->sectionSize(0), 200);
    QCOMPARE(header->sectionSize(1), 130);
    QCOMPARE(header->sectionSize(2), 100);
    QCOMPARE(header->sectionResizeMode(4), QHeaderView::Stretch);
    QVERIFY(FileSetting::getInstance()->getColumnWidths().isEmpty());

    header->resizeSection(1, 180);
    const QList<int> stored = FileSetting::getInstance()->getColumnWidths();
    QCOMPARE(stored.size(), 5);
    QCOMPARE(stored.mid(0, 4), (QList<int> { 200, 180, 100, header->sectionSize(3) }));

    WBillList again;
    QCOMPARE(tree(again)->columnWidth(1), 180);
}

void TestWBillList::closingThePageStoresNoWidths()
{
    // A page shown as a window of its own is closed by its destruction, and its tree may lay the
    // header out once more as it hides (it did after a box had been shown over the page): the
    // page, half gone by then, must not take that for the user's resize.
    class WidenOnHide : public QObject {
    public:
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            if (event->type() == QEvent::Hide)
                static_cast<QTreeView*>(watched)->header()->resizeSection(0, 77);
            return false;
        }
    } widen;
    auto page = std::make_unique<WBillList>();
    page->show();
    QVERIFY(QTest::qWaitForWindowExposed(page.get()));
    FileSetting::getInstance()->setValue(SettingKeys::ColumnWidths, "1:2:3");
    tree(*page)->installEventFilter(&widen);
    page.reset();
    QCOMPARE(FileSetting::getInstance()->value(SettingKeys::ColumnWidths).toString(), QString("1:2:3"));
}

void TestWBillList::filterCombosAreAsWideAsTheirChoice()
{
    const QString longName = "招商银行信用卡（尾号 8888）还款专用";
    QVERIFY(execAll(
        { "insert into tbl_account (id,name,kind,amount,sort) values ('long','" + longName + "','credit',0,9)" }));
    MAccount::clearCache();
    WBillList page;
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    auto* box = child<QComboBox>(page, "cbAccountList");
    const auto textWidth = [box](const QString& text) { return box->fontMetrics().horizontalAdvance(text); };
    const auto fitsTheChoice = [&] {
        const int room = box->width() - textWidth(box->currentText());
        // The text, the arrow and the paddings; no room for a longer item.
        return room > 0 && room < 60;
    };
    QVERIFY2(fitsTheChoice(), qPrintable(QString::number(box->width())));
    choose(box, "long");
    QVERIFY2(fitsTheChoice(), qPrintable(QString::number(box->width())));
    QVERIFY(box->view()->minimumWidth() >= textWidth(longName));
    choose(box, "");
    // A style sheet applied later (a skin chosen) lays the combos out afresh.
    qApp->setStyleSheet("QComboBox { padding: 2px 6px; }");
    QVERIFY2(fitsTheChoice(), qPrintable(QString::number(box->width())));
    qApp->setStyleSheet(QString());
}

void TestWBillList::reloadsOnceOnEveryBillChangeShownOrHidden()
{
    addStandardBills();
    WBillList page;
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QCOMPARE(listed(page).size(), 6);
    QSignalSpy reloads(model(page), &QAbstractItemModel::modelReset);

    MBill bill;
    bill.setKind("expense");
    bill.setAmount(-5);
    bill.setDate(QDate(2014, 1, 1));
    bill.setMonth(201401);
    bill.setDescription("new");
    QVERIFY(MBill::insert(&bill));
    QCOMPARE(reloads.size(), 1);
    QCOMPARE(listed(page).size(), 7);
    QCOMPARE(child<QComboBox>(page, "cbMonthList")->itemText(1), QString("201401"));

    page.hide();
    reloads.clear();
    QVERIFY(MBill::remove(&bill));
    QCOMPARE(reloads.size(), 1);
    QCOMPARE(listed(page).size(), 6);
    QCOMPARE(child<QComboBox>(page, "cbMonthList")->itemText(1), QString("201307"));

    // Reference changes refill the combos without reloading the bills.
    MAccount account;
    account.setName("钱包");
    account.setKind("cash");
    QVERIFY(MAccount::insert(&account));
    QCOMPARE(reloads.size(), 1);
    QCOMPARE(child<QComboBox>(page, "cbAccountList")->itemText(3), QString("钱包"));
}

void TestWBillList::statusBarTotalsFollowTheFilter()
{
    addStandardBills();
    UStatusBar bar;
    WBillList page;
    page.bind();
    auto* totals = child<QLabel>(bar, "lblTotalSummary");
    const QString everything = totals->text();
    QCOMPARE(everything, "总计  " + UStatusBar::getSummary(" 1=1 "));

    choose(page, "cbMonthList", 201306);
    QCOMPARE(totals->text(), "总计  " + UStatusBar::getSummary(" 1=1  and  month=201306 "));
    QVERIFY(totals->text().contains("收入:8000.00"));
    search(page, "'");
    QCOMPARE(totals->text(), "总计  " + UStatusBar::getSummary(page.buildCondition()));
    QVERIFY(totals->text().contains("收入:0.00"));
    choose(page, "cbMonthList", 0);
    search(page, "");
    QCOMPARE(totals->text(), everything);
}

void TestWBillList::dayRowsSpanTheRow()
{
    // A day of every kind has the longest summary line.
    for (const char* kind : { "expense", "income", "transfer", "lend", "borrow", "refund", "repay" })
        addBill(kind, -1234.56, QDate(2013, 7, 1), {});
    addBill("expense", -1, QDate(2013, 6, 30), {});
    WBillList page;
    page.resize(900, 500);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QTreeView* view = tree(page);
    const auto daysSpan = [view] {
        for (int row = 0; row < view->model()->rowCount(); ++row) {
            if (!view->isFirstColumnSpanned(row, QModelIndex()))
                return false;
        }
        return view->model()->rowCount() > 0;
    };
    QVERIFY(daysSpan());
    const QString tip = view->model()->index(0, 0).data(Qt::ToolTipRole).toString();
    QVERIFY2(tip.startsWith("2013-07-01") && tip.contains("还款") && tip.contains("小计"), qPrintable(tip));
    QCOMPARE(view->model()->index(0, 4).data(Qt::ToolTipRole).toString(), tip);

    // Every reload lays the new rows out afresh.
    addBill("income", 5, QDate(2013, 7, 2), {});
    MBill::clearCache();
    QVERIFY(daysSpan());
    child<QPushButton>(page, "pbLast")->click();
    QVERIFY(daysSpan());
}

void TestWBillList::clickOnADayRowFoldsIt()
{
    addStandardBills();
    WBillList page;
    page.resize(900, 500);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QTreeView* view = tree(page);
    // The view drops clicks that come while a fold is still animating.
    view->setAnimated(false);
    const QModelIndex day = view->model()->index(0, 0);
    auto* record = static_cast<MBill*>(day.internalPointer());
    QVERIFY(record->isDayRow());
    QVERIFY(view->isExpanded(day));

    // A click on the subtotal folds the row as well as one on the date.
    const QModelIndex subtotal = day.siblingAtColumn(4);
    clickOn(view, subtotal);
    QVERIFY(!view->isExpanded(day));
    QVERIFY(!record->isExpanded());
    clickOn(view, day);
    QVERIFY(view->isExpanded(day));
    QVERIFY(record->isExpanded());

    // Folded from the keyboard, the row's icon follows too.
    view->collapse(day);
    QVERIFY(!record->isExpanded());
    clickOn(view, day);
    QVERIFY(record->isExpanded());
}

QTEST_MAIN(TestWBillList)
#include "tst_wbilllist.moc"
