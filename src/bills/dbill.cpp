#include "bills/dbill.h"

#include <QCalendarWidget>
#include <QKeyEvent>
#include <QListView>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>

#include "bills/dcalculator.h"
#include "data/constants.h"
#include "data/filesetting.h"
#include "data/maccount.h"
#include "data/mbill.h"
#include "data/mborrower.h"
#include "data/mcategory.h"
#include "data/metadata.h"
#include "data/mmember.h"
#include "data/settingkeys.h"
#include "lists/daccount.h"
#include "lists/dborrower.h"
#include "lists/dcategory.h"
#include "lists/dmember.h"
#include "widgets/dmessagebox.h"
#include "ui_dbill.h"

namespace {
// Every data field of a bill but its id.
struct BillFields {
    double amount = 0;
    QString description = QStringLiteral("");
    QDate date;
    int month = 0;
    QString categoryId = QStringLiteral("");
    QString subCategoryId = QStringLiteral("");
    QString accountId = QStringLiteral("");
    QString toAccountId = QStringLiteral("");
    QString borrowerId = QStringLiteral("");
    QString memberId = QStringLiteral("");
    QString kind = QStringLiteral("");
    QString title = QStringLiteral("");

    static BillFields of(const MBill& bill)
    {
        return { bill.getAmount(), bill.getDescription(), bill.getDate(), bill.getMonth(), bill.getCategoryId(),
            bill.getSubCategoryId(), bill.getAccountId(), bill.getToAccountId(), bill.getBorrowerId(),
            bill.getMemberId(), bill.getKind(), bill.getTitle() };
    }

    void applyTo(MBill* bill) const
    {
        bill->setAmount(amount);
        bill->setDescription(description);
        bill->setDate(date);
        bill->setMonth(month);
        bill->setCategoryId(categoryId);
        bill->setSubCategoryId(subCategoryId);
        bill->setAccountId(accountId);
        bill->setToAccountId(toAccountId);
        bill->setBorrowerId(borrowerId);
        bill->setMemberId(memberId);
        bill->setKind(kind);
        bill->setTitle(title);
    }
};

QString chosenId(const QComboBox* combo)
{
    const QString id = combo->currentData().toString();
    return id.isNull() ? QStringLiteral("") : id;
}

bool settingOn(const QString& key)
{
    return FileSetting::getInstance()->value(key).toBool();
}

// The real day nearest to a stored date text that names none ("2024-02-30" → 2024-02-29): the
// same month when the text has one, else the bill's month, else today.
QDate nearestDay(const QString& text, int month)
{
    const QStringList parts = text.trimmed().split(QLatin1Char('-'));
    if (parts.size() >= 2) {
        const int y = parts.at(0).toInt();
        const int m = parts.at(1).toInt();
        const QDate first(y, m, 1);
        if (first.isValid()) {
            const int d = parts.size() > 2 ? parts.at(2).left(2).toInt() : 1;
            return QDate(y, m, qBound(1, d, first.daysInMonth()));
        }
    }
    const QDate ofMonth(month / 100, month % 100, 1);
    return ofMonth.isValid() ? ofMonth : QDate::currentDate();
}
}

DBill::DBill(QWidget* parent)
    : DEditDialog(parent)
    , ui(new Ui::DBill)
{
    init();
}

DBill::DBill(QDate date, QWidget* parent)
    : DEditDialog(parent)
    , ui(new Ui::DBill)
{
    init();
    ui->deDate->setDate(date);
}

DBill::DBill(MBill* bill, QWidget* parent)
    : DEditDialog(parent)
    , ui(new Ui::DBill)
{
    init();
    setBill(bill);
}

DBill::~DBill()
{
    delete ui;
}

QSize DBill::sizeHint() const
{
    return { 1700, 1450 };
}

void DBill::init()
{
    kind = MBill::Expense;
    ui->setupUi(this);
    ui->wgtTitle->setTitle(tr("账目"));

    for (QAbstractButton* radio : { ui->rbExpense, ui->rbIncome, ui->rbTransfer, ui->rbLoan })
        connect(radio, &QAbstractButton::clicked, this, &DBill::onKindChanged);
    connect(ui->cbLoanKind, &QComboBox::currentIndexChanged, this, &DBill::onLoanKindChanged);

    for (const auto& [label, key] : Constants::getInstance()->getLoanKinds()->getPairs())
        ui->cbLoanKind->addItem(label, key);

    ui->pbOk->setProperty("style", QStringLiteral("green"));
    ui->pbCancel->setProperty("style", QStringLiteral("blue"));
    ui->pbContinue->setProperty("style", QStringLiteral("blue"));
    ui->cbContinue->setChecked(settingOn(SettingKeys::EnableBillEnterContinue));

    for (QComboBox* combo : { ui->cbAccount, ui->cbBorrower, ui->cbCategory, ui->cbLoanKind, ui->cbMember,
             ui->cbSubCategory, ui->cbToAccount })
        combo->setView(new QListView(this));

    // The date's calendar pop-up is made when it first opens; it then gets its edge.
    ui->deDate->installEventFilter(this);

    connect(ui->deDate, &QDateEdit::dateChanged, this, [this] {
        dateEdited = true;
        ui->deDate->setStyleSheet(QString());
        ui->deDate->setToolTip(QString());
    });

    resetForNew();
}

void DBill::resetForNew()
{
    editMode = false;
    ui->pbContinue->show();
    ui->rbExpense->click();
    ui->cbLoanKind->setCurrentIndex(0);
    ui->deDate->setDate(QDate::currentDate());
    ui->dsbAmount->setValue(0);
    ui->teDescription->clear();
    ui->leTitle->clear();
    loadCategories();
    loadBorrowers();
    loadAccounts();
    loadMembers();
    const bool titles = settingOn(SettingKeys::EnableBillTitle);
    ui->lblTitle->setVisible(titles);
    ui->leTitle->setVisible(titles);
    focusAmount();
}

void DBill::focusAmount()
{
    QTimer::singleShot(0, ui->dsbAmount, [this] { ui->dsbAmount->setFocus(); });
    QTimer::singleShot(100, ui->dsbAmount, [this] { ui->dsbAmount->selectAll(); });
}

void DBill::setBill(MBill* source)
{
    if (!source)
        return;
    if (!source->getId().isEmpty()) {
        ui->pbContinue->hide();
        ui->cbContinue->hide();
        editMode = true;
        bill = source;
        if (source->getDate().isValid())
            ui->deDate->setDate(source->getDate());
        else
            showInvalidDate(source);
    }
    kind = source->getKind();
    if (kind == MBill::Expense)
        ui->rbExpense->click();
    else if (kind == MBill::Income)
        ui->rbIncome->click();
    else if (kind == MBill::Transfer)
        ui->rbTransfer->click();
    else
        ui->rbLoan->click();

    selectRecord(ui->cbAccount, source->getAccountId());
    if (MBill::isCategoryKind(source->getKind())) {
        selectRecord(ui->cbCategory, source->getCategoryId());
        selectRecord(ui->cbSubCategory, source->getSubCategoryId());
        selectRecord(ui->cbMember, source->getMemberId());
    } else if (source->getKind() == MBill::Transfer) {
        selectRecord(ui->cbToAccount, source->getToAccountId());
    } else {
        selectByData(ui->cbLoanKind, source->getKind());
        loadBorrowers();
        selectRecord(ui->cbBorrower, source->getBorrowerId());
    }
    ui->dsbAmount->setValue(qAbs(source->getAmount()));
    ui->leTitle->setText(source->getTitle());
    ui->teDescription->setPlainText(source->getDescription());

    loaded.bill.reset(source->clone());
    loaded.shownAmount = ui->dsbAmount->value();
    loaded.shownTitle = ui->leTitle->text();
    loaded.shownDescription = ui->teDescription->toPlainText();
    dateEdited = false;
}

void DBill::showInvalidDate(const MBill* source)
{
    invalidDateText = MBill::getStoredDate(source->getId());
    ui->deDate->setDate(nearestDay(invalidDateText, source->getMonth()));
    ui->deDate->setStyleSheet(QStringLiteral("color:#C00000;"));
    ui->deDate->setToolTip(tr("保存的日期“%1”不是有效的日期").arg(invalidDateText));
}

bool DBill::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->deDate && event->type() == QEvent::ChildPolished) {
        auto* popup = qobject_cast<QWidget*>(static_cast<QChildEvent*>(event)->child());
        if (popup && popup->isWindow() && popup->objectName() != QLatin1String("calendarPopup")
            && popup->findChild<QCalendarWidget*>()) {
            // Named for the style sheet, which draws its edge (a rule on the calendar's own parts
            // would make their rows taller than the pop-up), and given room for that edge.
            popup->setObjectName(QStringLiteral("calendarPopup"));
            popup->setAttribute(Qt::WA_StyledBackground);
            popup->style()->unpolish(popup);
            popup->style()->polish(popup);
            if (popup->layout())
                popup->layout()->setContentsMargins(1, 1, 2, 2);
        }
    }
    return DEditDialog::eventFilter(watched, event);
}

void DBill::showEvent(QShowEvent* event)
{
    DEditDialog::showEvent(event);
    if (invalidDateText.isEmpty() || invalidDateTold)
        return;
    invalidDateTold = true;
    QTimer::singleShot(0, this, [this] {
        DMessageBox::information(this, tr("日期有误"),
            tr("这笔账目保存的日期“%1”不是有效的日期，发生日期显示的是离它最近的一天。"
               "不改日期而保存时，账目保留原来的日期。")
                .arg(invalidDateText));
    });
}

void DBill::selectByData(QComboBox* combo, const QString& value)
{
    const int index = combo->findData(value, Qt::UserRole, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        combo->setCurrentIndex(index);
}

void DBill::selectRecord(QComboBox* combo, const QString& id)
{
    if (!id.isEmpty() && combo->findData(id, Qt::UserRole, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0)
        combo->setCurrentIndex(-1);
    else
        selectByData(combo, id);
}

void DBill::onKindChanged()
{
    auto* button = qobject_cast<QAbstractButton*>(sender());
    if (!button)
        return;
    kind = button->objectName().mid(2).toLower();
    const bool categories = button == ui->rbExpense || button == ui->rbIncome;
    const bool transfer = button == ui->rbTransfer;
    const bool loan = button == ui->rbLoan;

    for (QWidget* widget : std::initializer_list<QWidget*> { ui->lblLoan, ui->cbLoanKind })
        widget->setVisible(loan);
    for (QWidget* widget : std::initializer_list<QWidget*> {
             ui->lblCategory, ui->cbCategory, ui->cbSubCategory, ui->pbCreateCategory, ui->pbCreateSubCategory })
        widget->setVisible(categories);
    for (QWidget* widget : std::initializer_list<QWidget*> { ui->lblToAccount, ui->cbToAccount })
        widget->setVisible(transfer);
    for (QWidget* widget : std::initializer_list<QWidget*> { ui->lblBorrower, ui->cbBorrower, ui->pbCreateBorrower })
        widget->setVisible(loan);

    bool members = false;
    if (categories) {
        loadCategories();
        loadAccounts();
        loadMembers();
        members = ui->cbMember->count() > 0 && settingOn(SettingKeys::EnableBillMember);
    }
    for (QWidget* widget : std::initializer_list<QWidget*> { ui->lblMember, ui->cbMember, ui->pbCreateMember })
        widget->setVisible(members);

    if (categories) {
        if (ui->cbCategory->count() == 0)
            promptForCategories();
        if (ui->cbAccount->count() == 0) {
            DMessageBox::information(this, tr("错误"), tr("请先建立一个 账户"));
            on_pbCreateAccount_clicked();
        }
    } else if (transfer) {
        if (ui->cbAccount->count() < 2) {
            DMessageBox::information(this, tr("错误"), tr("转账时，至少需要两个账户，请先再建立一个 账户"));
            on_pbCreateAccount_clicked();
        }
    } else {
        kind = chosenId(ui->cbLoanKind);
        loadBorrowers();
        if (ui->cbBorrower->count() == 0) {
            DMessageBox::information(this, tr("错误"), tr("请创建一个 借款人"));
            on_pbCreateBorrower_clicked();
        }
    }
}

void DBill::promptForCategories()
{
    DMessageBox::information(this, tr("错误"),
        kind == MBill::Expense ? tr("请先建立一个 支出 大类，并在大类下创建 小类")
                               : tr("请先建立一个 收入 大类，并在大类下创建 小类"));
    DCategory top(kind, this, false, QString());
    if (top.exec() != QDialog::Accepted)
        return;
    DCategory sub(kind, this, true, QString());
    sub.exec();
    // The top category is stored whatever became of the sub-category: show it either way.
    loadCategories();
}

void DBill::onLoanKindChanged(int index)
{
    if (!ui->rbLoan->isChecked())
        return;
    kind = ui->cbLoanKind->itemData(index).toString();
    loadBorrowers();
    if (ui->cbBorrower->count() == 0) {
        DMessageBox::information(this, tr("错误"), tr("请先进入借款人列表创建一个 借款人"));
        on_pbCreateBorrower_clicked();
    }
}

void DBill::on_cbCategory_currentIndexChanged(int index)
{
    ui->cbSubCategory->clear();
    // Without a top category there is no sub-category to offer, nor one to ask about.
    const QString id = index < 0 ? QString() : ui->cbCategory->itemData(index).toString();
    if (id.isEmpty())
        return;
    if (MCategory::getSubCategories(id)->isEmpty() && !askedForSubCategory.contains(id)) {
        askedForSubCategory.insert(id);
        if (DMessageBox::question(this, tr("确定新建?"), tr("当前大分类下没有小分类，你是否需要添加小分类?")) == 1) {
            DCategory dialog(kind, this, true, id);
            dialog.exec();
        }
    }
    // A copy: a dialog opened from here may drop the category lists.
    const QList<MCategory*> subCategories = *MCategory::getSubCategories(id);
    for (const MCategory* subCategory : subCategories)
        ui->cbSubCategory->addItem(subCategory->getName(), subCategory->getId());
}

// The fills copy the record lists first: selecting the first item runs handlers that may open a
// create dialog, whose store drops the list being read.
void DBill::loadAccounts()
{
    ui->cbAccount->clear();
    ui->cbToAccount->clear();
    const QList<MAccount*> accounts = *MAccount::get();
    for (const MAccount* account : accounts) {
        ui->cbAccount->addItem(account->getName(), account->getId());
        ui->cbToAccount->addItem(account->getName(), account->getId());
    }
}

void DBill::loadCategories()
{
    ui->cbCategory->clear();
    const QList<MCategory*> categories = *MCategory::get(kind);
    for (const MCategory* category : categories)
        ui->cbCategory->addItem(category->getName(), category->getId());
}

void DBill::loadBorrowers()
{
    ui->cbBorrower->clear();
    const QList<MBorrower*> borrowers = *MBorrower::get(QString());
    for (const MBorrower* borrower : borrowers)
        ui->cbBorrower->addItem(borrower->getName(), borrower->getId());
}

void DBill::loadMembers()
{
    ui->cbMember->clear();
    const QList<MMember*> members = *MMember::get();
    for (const MMember* member : members)
        ui->cbMember->addItem(member->getName(), member->getId());
}

void DBill::on_pbCreateCategory_clicked()
{
    DCategory dialog(kind, this, false, QString());
    if (dialog.exec() == QDialog::Accepted)
        loadCategories();
}

void DBill::on_pbCreateSubCategory_clicked()
{
    DCategory dialog(kind, this, true, QString());
    if (dialog.exec() == QDialog::Accepted)
        loadCategories();
}

void DBill::on_pbCreateAccount_clicked()
{
    DAccount dialog(this);
    if (dialog.exec() == QDialog::Accepted)
        loadAccounts();
}

void DBill::on_pbCreateBorrower_clicked()
{
    DBorrower dialog(this);
    if (dialog.exec() == QDialog::Accepted)
        loadBorrowers();
}

void DBill::on_pbCreateMember_clicked()
{
    DMember dialog(this);
    if (dialog.exec() == QDialog::Accepted)
        loadMembers();
}

void DBill::on_pbCalculator_clicked()
{
    auto* calculator = new DCalculator(ui->dsbAmount, this);
    calculator->show();
    calculator->move(ui->pbCalculator->mapToGlobal(QPoint(0, ui->pbCalculator->height())));
}

void DBill::on_cbContinue_clicked()
{
    FileSetting::getInstance()->setValue(SettingKeys::EnableBillEnterContinue, ui->cbContinue->isChecked());
}

bool DBill::refuse(const QString& text)
{
    DMessageBox::information(this, tr("错误"), text);
    return false;
}

bool DBill::checkChoices()
{
    if (ui->cbAccount->count() == 0)
        return refuse(tr("请进入账户列表建立一个账户"));
    // A list without a current item belongs to a bill whose record was deleted.
    if (ui->cbAccount->currentIndex() < 0)
        return refuse(tr("请选择所属账户"));
    if (MBill::isCategoryKind(kind)) {
        if (ui->cbCategory->count() == 0)
            return refuse(tr("请进入分类列表建立一个大分类"));
        if (ui->cbCategory->currentIndex() < 0)
            return refuse(tr("请选择账目分类"));
        if (ui->cbSubCategory->count() == 0)
            return refuse(tr("请进入分类列表建立一个小分类"));
        if (ui->cbSubCategory->currentIndex() < 0)
            return refuse(tr("请选择账目小类"));
        // With the member row hidden the user cannot choose: the bill is then stored without one.
        if (ui->cbMember->count() > 0 && ui->cbMember->currentIndex() < 0 && ui->cbMember->isVisibleTo(this))
            return refuse(tr("请选择成员"));
    } else if (kind == MBill::Transfer) {
        if (ui->cbToAccount->currentIndex() < 0)
            return refuse(tr("请选择转入账户"));
    } else {
        if (ui->cbBorrower->count() == 0)
            return refuse(tr("请进入借款人列表建立一个借款人"));
        if (ui->cbBorrower->currentIndex() < 0)
            return refuse(tr("请选择借款人"));
    }
    return true;
}

bool DBill::save()
{
    if (!checkChoices())
        return false;

    // A field left as the form showed it keeps the bill's own value, and so do the records that the
    // bill's kind does not use.
    const MBill* original = loaded.bill.get();
    BillFields entered;
    if (original && kind == original->getKind())
        entered = BillFields::of(*original);
    const bool amountAsShown = original && ui->dsbAmount->value() == loaded.shownAmount;
    if (!amountAsShown || kind != original->getKind()) {
        const double amount = amountAsShown ? qAbs(original->getAmount()) : ui->dsbAmount->value();
        // No "-0" for a bill of nothing.
        entered.amount = MBill::isOutgoingKind(kind) && amount != 0 ? -amount : amount;
    }
    const QString description = ui->teDescription->toPlainText();
    entered.description
        = storedText(original && description == loaded.shownDescription ? original->getDescription() : description);
    if (editMode && !dateEdited) {
        entered.date = original->getDate();
        entered.month = original->getMonth();
    } else {
        entered.date = ui->deDate->date();
        entered.month = entered.date.year() * 100 + entered.date.month();
    }
    entered.accountId = chosenId(ui->cbAccount);
    if (MBill::isCategoryKind(kind)) {
        entered.categoryId = chosenId(ui->cbCategory);
        entered.subCategoryId = chosenId(ui->cbSubCategory);
        entered.memberId = chosenId(ui->cbMember);
    } else if (kind == MBill::Transfer) {
        entered.toAccountId = chosenId(ui->cbToAccount);
    } else {
        entered.borrowerId = chosenId(ui->cbBorrower);
    }
    entered.kind = kind;
    const QString title = ui->leTitle->text();
    entered.title = original && title == loaded.shownTitle ? original->getTitle() : storedText(title);

    if (editMode) {
        // The record is the bill list's own: it keeps its old values unless the book took the new.
        const BillFields before = BillFields::of(*bill);
        entered.applyTo(bill);
        if (!MBill::update(bill)) {
            before.applyTo(bill);
            return refuse(tr("账目没有保存成功，请稍后再试。"));
        }
        return true;
    }
    auto fresh = std::make_unique<MBill>();
    entered.applyTo(fresh.get());
    if (!MBill::insert(fresh.get()))
        return refuse(tr("账目没有保存成功，请稍后再试。"));
    created = std::move(fresh);
    bill = created.get();
    return true;
}

void DBill::on_pbOk_clicked()
{
    if (save())
        accept();
}

void DBill::on_pbContinue_clicked()
{
    if (!save())
        return;
    // The next bill is the user's own, not the copy's.
    loaded.bill.reset();
    ui->dsbAmount->setValue(0);
    ui->teDescription->clear();
    ui->leTitle->clear();
    focusAmount();
}

void DBill::on_pbCancel_clicked()
{
    reject();
}

void DBill::keyPressEvent(QKeyEvent* event)
{
    // Only the keypad's Enter saves; the main Return key is left to the focused field.
    switch (event->key()) {
    case Qt::Key_Enter:
        if (!editMode && ui->cbContinue->isChecked())
            ui->pbContinue->click();
        else
            ui->pbOk->click();
        break;
    case Qt::Key_Escape:
        reject();
        break;
    default:
        break;
    }
}
