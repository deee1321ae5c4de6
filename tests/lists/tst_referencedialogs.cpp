// The edit dialogs of the reference lists: account, category and sub-category, borrower, member.
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <functional>
#include <memory>

#include "data/maccount.h"
#include "data/mborrower.h"
#include "data/mcategory.h"
#include "data/mmember.h"
#include "lists/daccount.h"
#include "lists/dborrower.h"
#include "lists/dcategory.h"
#include "lists/dmember.h"
#include "modalanswerer.h"
#include "testenv.h"
#include "widgettest.h"

namespace {
const QString Expense = QStringLiteral("expense");

QString tableOf(const QString& which)
{
    static const QHash<QString, QString> tables { { "account", "tbl_account" }, { "borrower", "tbl_borrower" },
        { "member", "tbl_member" }, { "category", "tbl_category" }, { "sub-category", "tbl_sub_category" } };
    return tables.value(which);
}

int rowCount(const QString& which)
{
    return scalar("select count(*) from " + tableOf(which)).toInt();
}

QString failText(const QString& which)
{
    static const QHash<QString, QString> texts { { "account", "账户没有保存成功，请稍后再试。" },
        { "borrower", "借款人没有保存成功，请稍后再试。" }, { "member", "成员没有保存成功，请稍后再试。" },
        { "category", "分类没有保存成功，请稍后再试。" }, { "sub-category", "分类没有保存成功，请稍后再试。" } };
    return texts.value(which);
}

// A dialog in new mode; a sub-category dialog offers parentId first.
std::unique_ptr<QDialog> newDialog(const QString& which, const QString& parentId)
{
    if (which == "account")
        return std::make_unique<DAccount>(nullptr);
    if (which == "borrower")
        return std::make_unique<DBorrower>(nullptr);
    if (which == "member")
        return std::make_unique<DMember>(nullptr);
    return std::make_unique<DCategory>(Expense, nullptr, which == "sub-category", parentId);
}

// A stored record named "旧名" and a dialog in edit mode on its cached object.
struct Edited {
    std::unique_ptr<QDialog> dialog;
    std::function<QString()> recordName;
    QString id;
};

// Stores record named "旧名" and puts the dialog into edit mode on its cached object, which
// cachedOf finds by id.
template <typename Record, typename Dialog>
void editStored(Edited* edited, Record record, Record* (*cachedOf)(const QString&), void (Dialog::*set)(Record*))
{
    record.setName("旧名");
    Record::insert(&record);
    Record* cached = cachedOf(record.getId());
    (static_cast<Dialog*>(edited->dialog.get())->*set)(cached);
    edited->recordName = [cached] { return cached->getName(); };
    edited->id = record.getId();
}

Edited editExisting(const QString& which, const QString& parentId)
{
    Edited edited;
    edited.dialog = newDialog(which, parentId);
    if (which == "account") {
        MAccount record;
        record.setKind("cash");
        editStored(&edited, record, &MAccount::getById, &DAccount::setAccount);
    } else if (which == "borrower") {
        editStored(&edited, MBorrower(), &MBorrower::getById, &DBorrower::setBorrower);
    } else if (which == "member") {
        editStored(&edited, MMember(), &MMember::getById, &DMember::setMember);
    } else {
        MCategory record;
        record.setKind(Expense);
        const bool sub = which == "sub-category";
        if (sub)
            record.setCategoryId(parentId);
        editStored(
            &edited, record, sub ? &MCategory::getSubCategoryById : &MCategory::getById, &DCategory::setCategory);
    }
    return edited;
}

QLineEdit* nameField(QDialog* dialog)
{
    return dialog->findChild<QLineEdit*>("leName");
}

void clickOk(QDialog* dialog)
{
    dialog->findChild<QPushButton*>("pbOK")->click();
}

QString topCategory(const QString& name, const QString& kind = Expense)
{
    MCategory record;
    record.setName(name);
    record.setKind(kind);
    MCategory::insert(&record);
    return record.getId();
}
}

class TestReferenceDialogs : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void newRecordIsStored_data();
    void newRecordIsStored();
    void emptyNameIsRefused_data();
    void emptyNameIsRefused();
    void charactersNoTextCanHoldAreDropped_data();
    void charactersNoTextCanHoldAreDropped();
    void returnSaves_data();
    void returnSaves();
    void editWorksOnTheRecordItself_data();
    void editWorksOnTheRecordItself();
    void failedStoreKeepsTheDialogOpen_data();
    void failedStoreKeepsTheDialogOpen();
    void accountKindAndAmount();
    void parentList_data();
    void parentList();
    void subCategoryWithoutParentIsRefused_data();
    void subCategoryWithoutParentIsRefused();
    void movingASubCategoryTakesItsBills();
    void editedTopCategoryKeepsItsKind();

private:
    std::unique_ptr<TestEnv> env;
    std::unique_ptr<TestBook> book;
    QString topId;
};

void TestReferenceDialogs::init()
{
    // A slot that lost its object name would silently do nothing.
    QTest::failOnWarning(QRegularExpression("connectSlotsByName"));
    env = std::make_unique<TestEnv>();
    book = std::make_unique<TestBook>(env->dataDir() + "book.db");
    QVERIFY(book->isOpen());
    topId = topCategory("餐饮");
}

void TestReferenceDialogs::cleanup()
{
    book.reset();
    env.reset();
}

void TestReferenceDialogs::newRecordIsStored_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QString>("name");

    QTest::newRow("account") << "account"
                             << "工资卡";
    QTest::newRow("borrower") << "borrower"
                              << "老王";
    QTest::newRow("member") << "member"
                            << "妈妈";
    QTest::newRow("top category") << "category"
                                  << "交通";
    QTest::newRow("sub-category") << "sub-category"
                                  << "早餐";
    QTest::newRow("a name of blanks is a name") << "member"
                                                << "  ";
}

void TestReferenceDialogs::newRecordIsStored()
{
    QFETCH(QString, which);
    QFETCH(QString, name);

    ModalAnswerer boxes;
    const int before = rowCount(which);
    std::unique_ptr<QDialog> dialog = newDialog(which, topId);
    dialog->show();
    nameField(dialog.get())->setText(name);
    dialog->findChild<QLineEdit*>("lnDescription")->setText("说明 'quoted'");
    clickOk(dialog.get());

    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    QVERIFY(!dialog->isVisible());
    QCOMPARE(rowCount(which), before + 1);
    const QString where = " where name = '" + name + "'";
    QCOMPARE(scalar("select description from " + tableOf(which) + where).toString(), QString("说明 'quoted'"));
    if (which == "sub-category")
        QCOMPARE(scalar("select category_id from tbl_sub_category" + where).toString(), topId);
    if (which.endsWith("category"))
        QCOMPARE(scalar("select kind from " + tableOf(which) + where).toString(), Expense);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestReferenceDialogs::emptyNameIsRefused_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QString>("text");

    QTest::newRow("account") << "account"
                             << "账户名称不能为空！";
    QTest::newRow("borrower") << "borrower"
                              << "借款人名称不能为空！";
    QTest::newRow("member") << "member"
                            << "成员名称不能为空！";
    QTest::newRow("top category") << "category"
                                  << "分类名称不能为空！";
    QTest::newRow("sub-category") << "sub-category"
                                  << "分类名称不能为空！";
}

void TestReferenceDialogs::emptyNameIsRefused()
{
    QFETCH(QString, which);
    QFETCH(QString, text);

    ModalAnswerer boxes;
    boxes.expect("错误", text, "确定");
    const int before = rowCount(which);
    std::unique_ptr<QDialog> dialog = newDialog(which, topId);
    dialog->show();
    dialog->findChild<QLineEdit*>("lnDescription")->setText("留着");
    clickOk(dialog.get());
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QVERIFY(dialog->isVisible());
    QCOMPARE(rowCount(which), before);
    QCOMPARE(dialog->findChild<QLineEdit*>("lnDescription")->text(), QString("留着"));

    nameField(dialog.get())->setText("后来有了名字");
    clickOk(dialog.get());
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    QCOMPARE(rowCount(which), before + 1);
}

void TestReferenceDialogs::charactersNoTextCanHoldAreDropped_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored");
    const QChar nul(0);
    const QChar high(0xD83D);
    const QChar low(0xDE00);
    QTest::newRow("NUL in an account") << "account" << QString("现") + nul + "金"
                                       << "现金";
    QTest::newRow("lone high surrogate in a member") << "member" << QString("A") + high + "B"
                                                     << "AB";
    QTest::newRow("lone low surrogate in a borrower") << "borrower" << QString("老") + low + "王"
                                                      << "老王";
    QTest::newRow("a surrogate pair is one character")
        << "category" << QString("饭") + high + low << QString("饭") + high + low;
}

void TestReferenceDialogs::charactersNoTextCanHoldAreDropped()
{
    QFETCH(QString, which);
    QFETCH(QString, typed);
    QFETCH(QString, stored);

    ModalAnswerer boxes;
    std::unique_ptr<QDialog> dialog = newDialog(which, topId);
    dialog->show();
    nameField(dialog.get())->setText(typed);
    dialog->findChild<QLineEdit*>("lnDescription")->setText(typed + "说明");
    clickOk(dialog.get());
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    const QString last = " from " + tableOf(which) + " order by rowid desc limit 1";
    QCOMPARE(scalar("select name" + last).toString(), stored);
    QCOMPARE(scalar("select description" + last).toString(), stored + "说明");
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestReferenceDialogs::returnSaves_data()
{
    QTest::addColumn<QString>("which");
    for (const char* which : { "account", "borrower", "member", "category", "sub-category" })
        QTest::newRow(which) << which;
}

void TestReferenceDialogs::returnSaves()
{
    QFETCH(QString, which);

    ModalAnswerer boxes;
    const int before = rowCount(which);
    std::unique_ptr<QDialog> dialog = newDialog(which, topId);
    dialog->show();
    QTest::keyClicks(nameField(dialog.get()), "Return");
    QTest::keyClick(nameField(dialog.get()), Qt::Key_Return);
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    QCOMPARE(rowCount(which), before + 1);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestReferenceDialogs::editWorksOnTheRecordItself_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<bool>("confirm");
    for (const char* which : { "account", "borrower", "member", "category", "sub-category" }) {
        QTest::addRow("%s, OK", which) << which << true;
        QTest::addRow("%s, cancel", which) << which << false;
    }
}

void TestReferenceDialogs::editWorksOnTheRecordItself()
{
    QFETCH(QString, which);
    QFETCH(bool, confirm);

    ModalAnswerer boxes;
    Edited edited = editExisting(which, topId);
    const int before = rowCount(which);
    QDialog* dialog = edited.dialog.get();
    dialog->show();
    QCOMPARE(nameField(dialog)->text(), QString("旧名"));
    nameField(dialog)->setText("新名");
    dialog->findChild<QPushButton*>(confirm ? "pbOK" : "pbCancel")->click();

    const QString expected = confirm ? "新名" : "旧名";
    QCOMPARE(dialog->result(), int(confirm ? QDialog::Accepted : QDialog::Rejected));
    QVERIFY(!dialog->isVisible());
    QCOMPARE(edited.recordName(), expected);
    QCOMPARE(scalar("select name from " + tableOf(which) + " where id = '" + edited.id + "'").toString(), expected);
    QCOMPARE(rowCount(which), before);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestReferenceDialogs::failedStoreKeepsTheDialogOpen_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<bool>("edit");
    for (const char* which : { "account", "borrower", "member", "category", "sub-category" }) {
        QTest::addRow("%s, new", which) << which << false;
        QTest::addRow("%s, edit", which) << which << true;
    }
}

void TestReferenceDialogs::failedStoreKeepsTheDialogOpen()
{
    QFETCH(QString, which);
    QFETCH(bool, edit);

    ModalAnswerer boxes;
    boxes.expect("错误", failText(which), "确定");
    Edited edited = edit ? editExisting(which, topId) : Edited { newDialog(which, topId), {}, {} };
    const QString table = tableOf(which);
    // The book refuses every write to the table, as a full disk or a locked file would.
    QVERIFY(execAll(
        { "create trigger refuse_insert before insert on " + table + " begin select raise(abort, 'refused'); end",
            "create trigger refuse_update before update on " + table + " begin select raise(abort, 'refused'); end" }));
    const int before = rowCount(which);
    QDialog* dialog = edited.dialog.get();
    dialog->show();
    nameField(dialog)->setText("写不进去");
    clickOk(dialog);

    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QVERIFY(dialog->isVisible());
    QVERIFY(dialog->result() != QDialog::Accepted);
    QCOMPARE(nameField(dialog)->text(), QString("写不进去"));
    QCOMPARE(rowCount(which), before);
    if (edit)
        QCOMPARE(edited.recordName(), QString("旧名"));
}

void TestReferenceDialogs::accountKindAndAmount()
{
    ModalAnswerer boxes;
    DAccount dialog(nullptr);
    dialog.show();
    auto* kinds = dialog.findChild<QComboBox*>("cbKind");
    auto* amount = dialog.findChild<QDoubleSpinBox*>("dsbAmount");
    QCOMPARE(WidgetTest::itemTexts(kinds), QStringList({ "现金", "银行卡", "信用卡", "基金", "股票", "其它" }));
    QCOMPARE(kinds->currentText(), QString("现金"));
    QCOMPARE(amount->text(), QString("0.00"));
    QVERIFY(nameField(&dialog)->text().isEmpty());

    nameField(&dialog)->setText("信用卡一");
    kinds->setCurrentIndex(2);
    amount->setValue(-3.456);
    clickOk(&dialog);
    QCOMPARE(scalar("select kind from tbl_account where name = '信用卡一'").toString(), QString("credit"));
    QCOMPARE(scalar("select amount from tbl_account where name = '信用卡一'").toDouble(), -3.46);

    // A kind that is none of the six is shown as none and stored as none.
    MAccount odd;
    odd.setName("旧账户");
    odd.setKind("gold");
    MAccount::insert(&odd);
    DAccount edit(nullptr);
    edit.setAccount(MAccount::getById(odd.getId()));
    QCOMPARE(edit.findChild<QComboBox*>("cbKind")->currentIndex(), -1);
    clickOk(&edit);
    QCOMPARE(scalar("select kind from tbl_account where id = '" + odd.getId() + "'").toString(), QString(""));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestReferenceDialogs::parentList_data()
{
    QTest::addColumn<QString>("parentId");
    QTest::addColumn<QString>("current");

    QTest::newRow("no parent given: the first stored") << ""
                                                       << "丙";
    QTest::newRow("the third stored") << "c1"
                                      << "甲";
    QTest::newRow("an id that matches none: the first stored") << "nope"
                                                               << "丙";
}

void TestReferenceDialogs::parentList()
{
    QFETCH(QString, parentId);
    QFETCH(QString, current);

    // Stored in one order, sorted in the other: the list keeps the stored order. Income
    // categories are not offered for an expense sub-category.
    QVERIFY(execAll({ "delete from tbl_category",
        "insert into tbl_category (id,name,kind,description,sort) values ('c3','丙','expense','',3)",
        "insert into tbl_category (id,name,kind,description,sort) values ('i1','工资','income','',0)",
        "insert into tbl_category (id,name,kind,description,sort) values ('c2','乙','expense','',2)",
        "insert into tbl_category (id,name,kind,description,sort) values ('c1','甲','expense','',1)" }));
    ModalAnswerer boxes;
    DCategory dialog(Expense, nullptr, true, parentId);
    auto* parents = dialog.findChild<QComboBox*>("cbParentId");
    QCOMPARE(WidgetTest::itemTexts(parents), QStringList({ "丙", "乙", "甲" }));
    QCOMPARE(parents->currentText(), current);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestReferenceDialogs::subCategoryWithoutParentIsRefused_data()
{
    QTest::addColumn<bool>("edit");
    QTest::newRow("new, no top category of the kind") << false;
    QTest::newRow("edit, its parent is gone") << true;
}

void TestReferenceDialogs::subCategoryWithoutParentIsRefused()
{
    QFETCH(bool, edit);

    ModalAnswerer boxes;
    boxes.expect("错误", "请先选择所属大类", "确定");
    std::unique_ptr<DCategory> dialog;
    MCategory* record = nullptr;
    if (edit) {
        MCategory orphan;
        orphan.setName("孤儿");
        orphan.setKind(Expense);
        orphan.setCategoryId("gone");
        MCategory::insert(&orphan);
        record = MCategory::getSubCategoryById(orphan.getId());
        dialog = std::make_unique<DCategory>(Expense, nullptr, true, QString());
        dialog->setCategory(record);
    } else {
        dialog = std::make_unique<DCategory>("income", nullptr, true, QString());
    }
    const int tops = rowCount("category");
    const int subs = rowCount("sub-category");
    dialog->show();
    nameField(dialog.get())->setText("新名");
    clickOk(dialog.get());
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QVERIFY(dialog->isVisible());
    QCOMPARE(rowCount("category"), tops);
    QCOMPARE(rowCount("sub-category"), subs);
    if (record)
        QCOMPARE(record->getName(), QString("孤儿"));
}

void TestReferenceDialogs::movingASubCategoryTakesItsBills()
{
    const QString otherTop = topCategory("日用");
    MCategory sub;
    sub.setName("早餐");
    sub.setKind(Expense);
    sub.setCategoryId(topId);
    MCategory::insert(&sub);
    const QString bill
        = addBillRow(Expense, -5, QDate(2013, 7, 5), { { "category_id", topId }, { "sub_category_id", sub.getId() } });

    ModalAnswerer boxes;
    DCategory dialog(Expense, nullptr, true, QString());
    dialog.setCategory(MCategory::getSubCategoryById(sub.getId()));
    auto* parents = dialog.findChild<QComboBox*>("cbParentId");
    QCOMPARE(parents->currentData().toString(), topId);
    parents->setCurrentIndex(parents->findData(otherTop));
    clickOk(&dialog);
    QCOMPARE(scalar("select category_id from tbl_sub_category where id = '" + sub.getId() + "'").toString(), otherTop);
    QCOMPARE(scalar("select category_id from tbl_bill where id = '" + bill + "'").toString(), otherTop);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestReferenceDialogs::editedTopCategoryKeepsItsKind()
{
    const QString income = topCategory("工资", "income");
    ModalAnswerer boxes;
    DCategory dialog(Expense, nullptr, false, QString());
    dialog.setCategory(MCategory::getById(income));
    QVERIFY(dialog.findChild<QComboBox*>("cbParentId")->isHidden());
    nameField(&dialog)->setText("奖金");
    clickOk(&dialog);
    QCOMPARE(scalar("select kind from tbl_category where id = '" + income + "'").toString(), QString("income"));
    QCOMPARE(scalar("select name from tbl_category where id = '" + income + "'").toString(), QString("奖金"));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

QTEST_MAIN(TestReferenceDialogs)
#include "tst_referencedialogs.moc"
