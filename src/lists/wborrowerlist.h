#pragma once

#include <memory>

#include <QModelIndex>

#include "data/mborrower.h"
#include "lists/recordlistcommands.h"
#include "widgets/wbasewidget.h"

class DBorrower;
class MBorrowerModel;

namespace Ui {
class WBorrowerList;
}

// The borrower list page of the book page: the other parties of loans with their balances;
// create, modify, remove (refused while bills name a borrower) and reorder.
class WBorrowerList : public WBaseWidget {
    Q_OBJECT

public:
    explicit WBorrowerList(QWidget* parent = nullptr);
    ~WBorrowerList() override;

private slots:
    void bind() override;
    void on_pbModify_clicked();
    void on_tvBorrowerList_doubleClicked(const QModelIndex& index);
    void on_pbCreate_clicked();
    void on_pbRemove_clicked();
    void on_tvBorrowerList_clicked(const QModelIndex& index);
    void on_pbMovePrevious_clicked();
    void on_pbMoveNext_clicked();

private:
    MBorrower* selectedBorrower() const;

    Ui::WBorrowerList* ui;
    DBorrower* dialog = nullptr;
    MBorrowerModel* model = nullptr;
    std::unique_ptr<RecordListCommands<MBorrower>> commands;
};
