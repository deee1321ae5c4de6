#pragma once

#include <memory>

#include <QModelIndex>

#include "data/maccount.h"
#include "lists/recordlistcommands.h"
#include "widgets/wbasewidget.h"

class DAccount;
class MAccountModel;

namespace Ui {
class WAccountList;
}

// The account list page of the book page: the accounts with their balances and a total row;
// create, modify, remove (refused while bills are booked on an account) and reorder.
class WAccountList : public WBaseWidget {
    Q_OBJECT

public:
    explicit WAccountList(QWidget* parent = nullptr);
    ~WAccountList() override;

private slots:
    void bind() override;
    void on_pbModify_clicked();
    void on_tvAccountList_doubleClicked(const QModelIndex& index);
    void on_pbCreate_clicked();
    void on_pbRemove_clicked();
    void on_tvAccountList_clicked(const QModelIndex& index);
    void on_pbMovePrevious_clicked();
    void on_pbMoveNext_clicked();

private:
    MAccount* selectedAccount() const;

    Ui::WAccountList* ui;
    DAccount* dialog = nullptr;
    MAccountModel* model = nullptr;
    std::unique_ptr<RecordListCommands<MAccount>> commands;
};
