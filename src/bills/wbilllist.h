#pragma once

#include <QList>
#include <QModelIndex>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariant>

#include "widgets/wbasewidget.h"

class MBill;
class MBillModel;
class QComboBox;
class QMenu;
class QResizeEvent;
class QStandardItemModel;
class QTreeView;

namespace Ui {
class WBillList;
}

// The book's bills: filters by month, account, category, member, borrower and text over a paged
// tree of bills grouped by day. The filters make the bill condition, the one SQL where-fragment
// that the model and the status bar use; every literal in it is quoted. Commands on the selected
// bills (context menu, buttons, Delete and Space, double click) edit, copy, add, delete and
// change them; export and print take every bill of the filters, all pages.
class WBillList : public WBaseWidget {
    Q_OBJECT

public:
    explicit WBillList(QWidget* parent = nullptr);
    ~WBillList() override;

    // " 1=1 " followed by " and " and each condition part in force, in a fixed order.
    QString buildCondition() const;
    // Appends the row of a category kind with its categories and their sub-categories.
    void addKindToCategoryModel(QStandardItemModel* model, const QString& kind);

public slots:
    // Reloads the list under the filters in force; runs on every show and every change of bills.
    void bind() override;

protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void on_tvBillList_clicked(const QModelIndex& index);
    void on_tvBillList_doubleClicked(const QModelIndex& index);
    void changePageIndex();
    void changePageButtons();
    void on_cbCategoryList_currentIndexChanged(int index);
    void on_cbAccountList_currentIndexChanged(int index);
    void on_cbMemberList_currentIndexChanged(int index);
    void on_cbBorrowerList_currentIndexChanged(int index);
    void on_pbChangePageIndex_clicked();
    void on_cbMonthList_currentIndexChanged(int index);
    void on_pbSearch_clicked();
    void on_leSeacrh_textChanged(const QString& text);
    void on_tvBillList_customContextMenuRequested(const QPoint& pos);
    // Deletes the selected bills after one question.
    void deleteBills();
    // Edits the first selected bill.
    void modifyBill();
    // Bulk changes of the selected bills; each refuses a selection of kinds it does not fit.
    void changeAccount();
    void changeMember();
    void changeCategory();
    void changeBorrower();
    // A new bill filled in from each selected bill, one dialog after the other.
    void replicateBill();
    // A new bill on the date of each selected bill.
    void supplyBill();
    void accountDataChanged();
    void monthListChanged();
    void borrowerDataChanged();
    void categoryDataChanged();
    void memberDataChanged();
    void on_pbExport_clicked();
    void on_pbPrint_clicked();
    void on_pbDelete_clicked();
    void on_pbModify_clicked();

private:
    QList<QComboBox*> filterCombos() const;
    // The bills of the selected rows, in the order they were selected.
    QList<MBill*> selectedBills() const;
    // False, after saying refusal, when a bill is of a kind isFit refuses.
    bool fitKinds(const QList<MBill*>& bills, bool (*isFit)(const QString& kind), const QString& refusal);
    // Runs the bulk change of type on bills and shows the result; nothing for no bills.
    void quickChange(const QString& type, const QList<MBill*>& bills);

    // Connected by hand to the header, so it is no slot that the form would try to bind by name.
    void on_sectionResized(int, int, int);
    void applyColumnWidths();
    // Expands every day row of the page, and says so in their records (their icons follow).
    void expandDays();
    // Refills a list combo with (text, data) items without running its reaction.
    void refillCombo(QComboBox* box, QString* part, const QList<QPair<QString, QVariant>>& items);
    // Puts a combo back on its first item without running its reaction and drops its part.
    void resetFilter(QComboBox* box, QString* part);
    // After a refill: shows the choice in force again, or drops the filter when its item is gone.
    void keepChoice(QComboBox* box, const QVariant& choice, QString* part);

    Ui::WBillList* ui;
    MBillModel* model;
    QString accountPart;
    QString categoryPart;
    QString borrowerPart;
    QString memberPart;
    QString monthPart;
    QString searchPart;
    QTreeView* categoryPopup;
    QStandardItemModel* categoryModel = nullptr;
    QMenu* contextMenu = nullptr;
};
