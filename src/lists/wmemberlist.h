#pragma once

#include <memory>

#include <QModelIndex>

#include "data/mmember.h"
#include "lists/recordlistcommands.h"
#include "widgets/wbasewidget.h"

class DMember;
class MMemberModel;

namespace Ui {
class WMemberList;
}

// The member list page of the book page: the people of the household to whom bills are
// attributed; create, modify, remove (refused while bills name a member) and reorder.
class WMemberList : public WBaseWidget {
    Q_OBJECT

public:
    explicit WMemberList(QWidget* parent = nullptr);
    ~WMemberList() override;

private slots:
    void bind() override;
    void on_pbModify_clicked();
    void on_tvMemberList_doubleClicked(const QModelIndex& index);
    void on_pbCreate_clicked();
    void on_pbRemove_clicked();
    void on_tvMemberList_clicked(const QModelIndex& index);
    void on_pbMovePrevious_clicked();
    void on_pbMoveNext_clicked();

private:
    MMember* selectedMember() const;

    Ui::WMemberList* ui;
    DMember* dialog = nullptr;
    MMemberModel* model = nullptr;
    std::unique_ptr<RecordListCommands<MMember>> commands;
};
