#include "lists/waccountlist.h"

#include <QShortcut>

#include "lists/daccount.h"
#include "lists/listpage.h"
#include "lists/maccountmodel.h"
#include "ui_waccountlist.h"

WAccountList::WAccountList(QWidget* parent)
    : WBaseWidget(parent)
    , ui(new Ui::WAccountList)
{
    ui->setupUi(this);
    styleListButtons({ ui->pbCreate }, { ui->pbMovePrevious, ui->pbMoveNext, ui->pbModify, ui->pbRemove });
    auto* remove = new QShortcut(QKeySequence::Delete, ui->tvAccountList, nullptr, nullptr, Qt::WindowShortcut);
    connect(remove, &QShortcut::activated, this, &WAccountList::on_pbRemove_clicked);
    commands = std::make_unique<RecordListCommands<MAccount>>(
        this, ui->tvAccountList, ui->pbMovePrevious, ui->pbMoveNext,
        [this](int row) { return model ? model->getAccount(row) : nullptr; }, [this] { bind(); },
        RecordListCommands<MAccount>::Texts { tr("不能删除"), tr("已经有账目使用了这个账户，您不能删除此账户。"),
            tr("账户“%1”没有删除成功，请稍后再试。"), tr("账户的顺序没有保存成功，请稍后再试。") });
}

WAccountList::~WAccountList()
{
    delete ui;
}

void WAccountList::bind()
{
    model = replaceModel(ui->tvAccountList, model, new MAccountModel(this));
    setColumnWidths(ui->tvAccountList, { 200, 100, 100, 100, 300 });
}

MAccount* WAccountList::selectedAccount() const
{
    return commands->selected();
}

void WAccountList::on_pbModify_clicked()
{
    MAccount* account = selectedAccount();
    if (!account)
        return;
    dialog = replaceDialog(dialog, new DAccount(this));
    dialog->setAccount(account);
    if (dialog->exec() == QDialog::Accepted)
        bind();
}

void WAccountList::on_tvAccountList_doubleClicked(const QModelIndex&)
{
    on_pbModify_clicked();
}

void WAccountList::on_pbCreate_clicked()
{
    dialog = replaceDialog(dialog, new DAccount(this));
    if (dialog->exec() == QDialog::Accepted)
        bind();
}

void WAccountList::on_pbRemove_clicked()
{
    commands->removeSelected();
}

void WAccountList::on_tvAccountList_clicked(const QModelIndex&)
{
    commands->updateMoveButtons();
}

void WAccountList::on_pbMovePrevious_clicked()
{
    commands->move(-1);
}

void WAccountList::on_pbMoveNext_clicked()
{
    commands->move(1);
}
