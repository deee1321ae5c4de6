#pragma once

#include <QList>
#include <QModelIndex>

#include "widgets/wbasewidget.h"

class DCategory;
class MCategory;
class MCategoryModel;
class QTreeView;

namespace Ui {
class WCategoryList;
}

// The category list page of the book page: the expense and the income tree in two tabs; create
// top categories and sub-categories of either kind, modify, remove (a top category once it has
// no sub-categories, a sub-category while no bill uses it) and reorder among siblings.
class WCategoryList : public WBaseWidget {
    Q_OBJECT

public:
    explicit WCategoryList(QWidget* parent = nullptr);
    ~WCategoryList() override;

private slots:
    void bind() override;
    void on_pbModify_clicked();
    void on_pbRemove_clicked();
    void on_twCategoryList_currentChanged(int index);
    void on_tvExpenseList_doubleClicked(const QModelIndex& index);
    void on_tvIncomeList_doubleClicked(const QModelIndex& index);
    void on_pbCreateExpenseCategory_clicked();
    void on_pbCreateExpenseSubCategory_clicked();
    void on_pbCreateIncomeCategory_clicked();
    void on_pbCreateIncomeSubCategory_clicked();
    void on_pbMovePrevious_clicked();
    void on_pbMoveNext_clicked();
    void on_tvExpenseList_clicked(const QModelIndex& index);
    void on_tvIncomeList_clicked(const QModelIndex& index);

private:
    QModelIndex selectedIndex() const;
    MCategory* selectedCategory() const;
    // The move buttons for the selected category of the current tree.
    void updateMoveButtons();
    void create(const QString& categoryKind, bool isSub, int tab);
    void move(int step);
    // The category's siblings as the book holds them now, in order.
    QList<MCategory*> siblingsOf(const MCategory* category) const;
    // The row of the category with id in the current tree, or an invalid index.
    QModelIndex indexOfId(const QString& id) const;

    Ui::WCategoryList* ui;
    DCategory* dialog = nullptr;
    MCategoryModel* model = nullptr;
    MCategoryModel* expenseModel = nullptr;
    MCategoryModel* incomeModel = nullptr;
    QTreeView* view = nullptr;
    QString kind;
};
