#include "lists/wmemberlist.h"

#include <QShortcut>

#include "lists/dmember.h"
#include "lists/listpage.h"
#include "lists/mmembermodel.h"
#include "ui_wmemberlist.h"

WMemberList::WMemberList(QWidget* parent)
    : WBaseWidget(parent)
    , ui(new Ui::WMemberList)
{
    ui->setupUi(this);
    styleListButtons({ ui->pbCreate }, { ui->pbMovePrevious, ui->pbMoveNext, ui->pbModify, ui->pbRemove });
    auto* remove = new QShortcut(QKeySequence::Delete, ui->tvMemberList, nullptr, nullptr, Qt::WindowShortcut);
    connect(remove, &QShortcut::activated, this, &WMemberList::on_pbRemove_clicked);
    commands = std::make_unique<RecordListCommands<MMember>>(
        this, ui->tvMemberList, ui->pbMovePrevious, ui->pbMoveNext,
        [this](int row) { return model ? model->getMember(row) : nullptr; }, [this] { bind(); },
        RecordListCommands<MMember>::Texts { tr("删除失败"), tr("已经有账目使用了这个成员，您不能删除此成员。"),
            tr("成员“%1”没有删除成功，请稍后再试。"), tr("成员的顺序没有保存成功，请稍后再试。") });
}

WMemberList::~WMemberList()
{
    delete ui;
}

void WMemberList::bind()
{
    model = replaceModel(ui->tvMemberList, model, new MMemberModel(this));
    setColumnWidths(ui->tvMemberList, { 200, 300 });
}

MMember* WMemberList::selectedMember() const
{
    return commands->selected();
}

void WMemberList::on_pbModify_clicked()
{
    MMember* member = selectedMember();
    if (!member)
        return;
    dialog = replaceDialog(dialog, new DMember(this));
    dialog->setMember(member);
    if (dialog->exec() == QDialog::Accepted)
        bind();
}

void WMemberList::on_tvMemberList_doubleClicked(const QModelIndex&)
{
    on_pbModify_clicked();
}

void WMemberList::on_pbCreate_clicked()
{
    dialog = replaceDialog(dialog, new DMember(this));
    if (dialog->exec() == QDialog::Accepted)
        bind();
}

void WMemberList::on_pbRemove_clicked()
{
    commands->removeSelected();
}

void WMemberList::on_tvMemberList_clicked(const QModelIndex&)
{
    commands->updateMoveButtons();
}

void WMemberList::on_pbMovePrevious_clicked()
{
    commands->move(-1);
}

void WMemberList::on_pbMoveNext_clicked()
{
    commands->move(1);
}
