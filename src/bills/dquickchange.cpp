#include "bills/dquickchange.h"

#include <QSqlDatabase>

#include "data/maccount.h"
#include "data/mbill.h"
#include "data/mborrower.h"
#include "data/mcategory.h"
#include "data/mmember.h"
#include "data/sqltransaction.h"
#include "lists/dcategory.h"
#include "widgets/dmessagebox.h"
#include "widgets/styledbackground.h"
#include "ui_dquickchange.h"

namespace {

const QString Account = QStringLiteral("account");
const QString Member = QStringLiteral("member");
const QString Category = QStringLiteral("category");
const QString Borrower = QStringLiteral("borrower");

template <typename Record> void addRecords(QComboBox* box, const QList<Record*>& records)
{
    for (const Record* record : records)
        box->addItem(record->getName(), record->getId());
}

// The ids that a change of type writes, to put them back when the change fails.
struct Choice {
    QString id;
    QString subId;
};

Choice choiceOf(const MBill* bill, const QString& type)
{
    if (type == Account)
        return { bill->getAccountId(), QString() };
    if (type == Member)
        return { bill->getMemberId(), QString() };
    if (type == Category)
        return { bill->getCategoryId(), bill->getSubCategoryId() };
    return { bill->getBorrowerId(), QString() };
}

void applyChoice(MBill* bill, const QString& type, const Choice& choice)
{
    if (type == Account) {
        bill->setAccountId(choice.id);
    } else if (type == Member) {
        bill->setMemberId(choice.id);
    } else if (type == Category) {
        bill->setCategoryId(choice.id);
        bill->setSubCategoryId(choice.subId);
    } else {
        bill->setBorrowerId(choice.id);
    }
}

} // namespace

DQuickChange::DQuickChange(const QString& changeType, const QList<MBill*>& changed, QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DQuickChange)
{
    ui->setupUi(this);
    ui->wgtTitle->setTitle(tr("批量快捷操作"));
    type = changeType;
    bills = changed;
    setProperty("style", QStringLiteral("dialog"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    ui->label2->hide();
    ui->comboBox2->hide();

    // The first item added becomes current, which runs the index reaction at once: for categories
    // the first category's sub-categories are there (or asked for) before the dialog shows.
    if (type == Account) {
        ui->label->setText(tr("账户"));
        addRecords(ui->comboBox, *MAccount::get());
    } else if (type == Member) {
        ui->label->setText(tr("成员"));
        addRecords(ui->comboBox, *MMember::get());
    } else if (type == Category) {
        ui->label->setText(tr("大类"));
        // Only the bills' own kind: a bill under a category of the other kind would be counted
        // as one kind and filed as the other.
        const QString kind = categoryKind();
        if (!kind.isEmpty())
            addRecords(ui->comboBox, *MCategory::get(kind));
        ui->label2->show();
        ui->comboBox2->show();
    } else if (type == Borrower) {
        ui->label->setText(tr("借款人"));
        addRecords(ui->comboBox, *MBorrower::get(QString()));
    }
}

DQuickChange::~DQuickChange()
{
    delete ui;
}

void DQuickChange::paintEvent(QPaintEvent*)
{
    paintStyledBackground(this);
}

void DQuickChange::on_comboBox_currentIndexChanged(int index)
{
    if (type != Category)
        return;
    ui->comboBox2->clear();
    const QString id = ui->comboBox->itemData(index).toString();
    if (id.isEmpty())
        return;
    if (MCategory::getSubCategories(id)->isEmpty()
        && DMessageBox::question(this, tr("确定新建?"), tr("当前大分类下没有小分类，你是否需要添加小分类?")) == 1) {
        if (const MCategory* category = MCategory::getById(id)) {
            DCategory dialog(category->getKind(), this, true, id);
            dialog.exec();
        }
    }
    // Read again: a sub-category just created belongs in the list.
    addRecords(ui->comboBox2, *MCategory::getSubCategories(id));
}

void DQuickChange::on_pbOK_clicked()
{
    // An empty choice would clear the reference of every bill: the user has to pick one.
    const QString id = ui->comboBox->currentData().toString();
    if (id.isEmpty()) {
        DMessageBox::information(this, tr("错误"), tr("请选择一个%1").arg(ui->label->text()));
        return;
    }
    QString subId;
    if (type == Category) {
        subId = ui->comboBox2->currentData().toString();
        if (subId.isEmpty()) {
            DMessageBox::information(this, tr("错误"), tr("请选择一个小类"));
            return;
        }
    }
    if (!store(id, subId)) {
        DMessageBox::error(this, tr("账目没有保存成功，请稍后再试。"));
        return;
    }
    close();
    accept();
}

QString DQuickChange::categoryKind() const
{
    if (bills.isEmpty())
        return QString();
    const QString kind = bills.first()->getKind();
    if (!MBill::isCategoryKind(kind))
        return QString();
    for (const MBill* bill : bills) {
        if (bill->getKind() != kind)
            return QString();
    }
    return kind;
}

bool DQuickChange::store(const QString& id, const QString& subId)
{
    QList<Choice> before;
    for (const MBill* bill : std::as_const(bills))
        before.append(choiceOf(bill, type));

    // All bills or none: a failure half-way puts the book and the records back as they were. The
    // list, the totals and the balances follow once, when the batch ends after the transaction.
    bool stored = true;
    {
        MBill::Batch batch;
        SqlTransaction transaction(QSqlDatabase::database(), QStringLiteral("quick_change"));
        stored = transaction.isActive();
        for (MBill* bill : std::as_const(bills)) {
            if (!stored)
                break;
            applyChoice(bill, type, { id, subId });
            stored = MBill::update(bill);
        }
        stored = stored && transaction.commit();
    }
    if (stored)
        return true;
    for (int i = 0; i < bills.size(); ++i)
        applyChoice(bills.at(i), type, before.at(i));
    return false;
}
