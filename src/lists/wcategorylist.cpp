#include "lists/wcategorylist.h"

#include <QShortcut>

#include "data/mbill.h"
#include "data/mcategory.h"
#include "data/recordlist.h"
#include "lists/dcategory.h"
#include "lists/listpage.h"
#include "lists/mcategorymodel.h"
#include "lists/siblingorder.h"
#include "widgets/dmessagebox.h"
#include "widgets/witemdelegate.h"
#include "ui_wcategorylist.h"

namespace {
bool isSubCategory(const MCategory* category)
{
    return !category->getCategoryId().isEmpty();
}
}

WCategoryList::WCategoryList(QWidget* parent)
    : WBaseWidget(parent)
    , ui(new Ui::WCategoryList)
{
    ui->setupUi(this);
    view = ui->tvExpenseList;
    kind = MBill::Expense;
    ui->twCategoryList->setCurrentIndex(0);
    styleListButtons({ ui->pbCreateExpenseCategory, ui->pbCreateExpenseSubCategory, ui->pbCreateIncomeCategory,
                         ui->pbCreateIncomeSubCategory },
        { ui->pbMoveNext, ui->pbMovePrevious, ui->pbModify, ui->pbRemove });
    // A shortcut only works while its tree is visible: Delete removes from the tree of the tab shown.
    for (QTreeView* tree : { ui->tvExpenseList, ui->tvIncomeList }) {
        auto* remove = new QShortcut(QKeySequence::Delete, tree, nullptr, nullptr, Qt::WindowShortcut);
        connect(remove, &QShortcut::activated, this, &WCategoryList::on_pbRemove_clicked);
        tree->setItemDelegate(new WItemDelegate(tree));
    }
}

WCategoryList::~WCategoryList()
{
    delete ui;
}

void WCategoryList::bind()
{
    expenseModel = replaceModel(ui->tvExpenseList, expenseModel, new MCategoryModel(MBill::Expense, this));
    ui->tvExpenseList->expandAll();
    incomeModel = replaceModel(ui->tvIncomeList, incomeModel, new MCategoryModel(MBill::Income, this));
    ui->tvIncomeList->expandAll();
    model = ui->twCategoryList->currentIndex() != 0 ? incomeModel : expenseModel;
    setColumnWidths(ui->tvExpenseList, { 200, 100 });
    setColumnWidths(ui->tvIncomeList, { 200, 100 });
}

QModelIndex WCategoryList::selectedIndex() const
{
    const QModelIndexList indexes
        = view->selectionModel() ? view->selectionModel()->selectedIndexes() : QModelIndexList();
    return indexes.isEmpty() ? QModelIndex() : indexes.first();
}

MCategory* WCategoryList::selectedCategory() const
{
    const QModelIndex index = selectedIndex();
    return index.isValid() ? static_cast<MCategory*>(index.internalPointer()) : nullptr;
}

void WCategoryList::on_twCategoryList_currentChanged(int index)
{
    if (index != 0) {
        kind = MBill::Income;
        model = incomeModel;
        view = ui->tvIncomeList;
    } else {
        kind = MBill::Expense;
        model = expenseModel;
        view = ui->tvExpenseList;
    }
}

void WCategoryList::create(const QString& categoryKind, bool isSub, int tab)
{
    dialog = replaceDialog(dialog, new DCategory(categoryKind, this, isSub, QString()));
    if (dialog->exec() == QDialog::Accepted)
        bind();
    ui->twCategoryList->setCurrentIndex(tab);
}

void WCategoryList::on_pbCreateExpenseCategory_clicked()
{
    create(MBill::Expense, false, 0);
}

void WCategoryList::on_pbCreateExpenseSubCategory_clicked()
{
    create(MBill::Expense, true, 0);
}

void WCategoryList::on_pbCreateIncomeCategory_clicked()
{
    create(MBill::Income, false, 1);
}

void WCategoryList::on_pbCreateIncomeSubCategory_clicked()
{
    create(MBill::Income, true, 1);
}

void WCategoryList::on_pbModify_clicked()
{
    if (!view->selectionModel())
        return;
    const QModelIndexList rows = view->selectionModel()->selectedRows(0);
    if (rows.isEmpty())
        return;
    auto* category = static_cast<MCategory*>(rows.first().internalPointer());
    dialog = replaceDialog(dialog, new DCategory(kind, this, isSubCategory(category), QString()));
    dialog->setCategory(category);
    if (dialog->exec() == QDialog::Accepted)
        bind();
}

void WCategoryList::on_tvExpenseList_doubleClicked(const QModelIndex&)
{
    on_pbModify_clicked();
}

void WCategoryList::on_tvIncomeList_doubleClicked(const QModelIndex&)
{
    on_pbModify_clicked();
}

void WCategoryList::on_pbRemove_clicked()
{
    if (!view->selectionModel())
        return;
    bool removed = false;
    for (const QModelIndex& row : view->selectionModel()->selectedRows(0)) {
        const auto* category = static_cast<const MCategory*>(row.internalPointer());
        // Asked of the book now: sub-categories and bills may have come since the tree was built
        // (from the bill dialog), and a top category removed with its sub-categories still in
        // the book would leave them behind unseen.
        if (!isSubCategory(category) && !MCategory::getSubCategories(category->getId())->isEmpty())
            DMessageBox::information(this, tr("删除失败"), tr("当前大分类下存在小分类，请先删除小分类。"));
        else if (isSubCategory(category) && MCategory::getBillCount(category) > 0)
            DMessageBox::information(this, tr("删除失败"), tr("已经有账目使用了这个分类，您不能删除此分类。"));
        else if (MCategory::remove(category))
            removed = true;
        else
            DMessageBox::error(this, tr("分类“%1”没有删除成功，请稍后再试。").arg(category->getName()));
    }
    if (removed)
        bind();
}

QList<MCategory*> WCategoryList::siblingsOf(const MCategory* category) const
{
    if (isSubCategory(category))
        return *MCategory::getSubCategories(category->getCategoryId());
    return *MCategory::get(kind);
}

void WCategoryList::updateMoveButtons()
{
    const MCategory* category = selectedCategory();
    if (!category) {
        ui->pbMovePrevious->setEnabled(false);
        ui->pbMoveNext->setEnabled(false);
        return;
    }
    const QList<MCategory*> siblings = siblingsOf(category);
    setMoveButtons(ui->pbMovePrevious, ui->pbMoveNext, indexById(siblings, category->getId()), int(siblings.size()));
}

void WCategoryList::on_tvExpenseList_clicked(const QModelIndex&)
{
    updateMoveButtons();
}

void WCategoryList::on_tvIncomeList_clicked(const QModelIndex&)
{
    updateMoveButtons();
}

QModelIndex WCategoryList::indexOfId(const QString& id) const
{
    if (!model)
        return QModelIndex();
    for (int row = 0; row < model->rowCount(); ++row) {
        const QModelIndex top = model->index(row, 0);
        if (model->getCategory(row)->getId() == id)
            return top;
        for (int child = 0; child < model->rowCount(top); ++child) {
            const QModelIndex sub = model->index(child, 0, top);
            if (static_cast<const MCategory*>(sub.internalPointer())->getId() == id)
                return sub;
        }
    }
    return QModelIndex();
}

void WCategoryList::move(int step)
{
    const MCategory* category = selectedCategory();
    if (!category)
        return;
    const QString id = category->getId();
    const QList<MCategory*> siblings = siblingsOf(category);
    const int position = indexById(siblings, id);
    const int target = position + step;
    if (position < 0 || target < 0 || target >= siblings.size())
        return;
    if (!exchangeSorts(siblings, position, target))
        DMessageBox::error(this, tr("分类的顺序没有保存成功，请稍后再试。"));
    bind();
    view->setCurrentIndex(indexOfId(id));
    updateMoveButtons();
    view->setFocus(Qt::OtherFocusReason);
}

void WCategoryList::on_pbMovePrevious_clicked()
{
    move(-1);
}

void WCategoryList::on_pbMoveNext_clicked()
{
    move(1);
}
