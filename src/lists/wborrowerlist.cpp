#include "lists/wborrowerlist.h"

#include <QShortcut>

#include "lists/dborrower.h"
#include "lists/listpage.h"
#include "lists/mborrowermodel.h"
#include "ui_wborrowerlist.h"

WBorrowerList::WBorrowerList(QWidget* parent)
    : WBaseWidget(parent)
    , ui(new Ui::WBorrowerList)
{
    ui->setupUi(this);
    styleListButtons({ ui->pbCreate }, { ui->pbMovePrevious, ui->pbMoveNext, ui->pbModify, ui->pbRemove });
    auto* remove = new QShortcut(QKeySequence::Delete, ui->tvBorrowerList, nullptr, nullptr, Qt::WindowShortcut);
    connect(remove, &QShortcut::activated, this, &WBorrowerList::on_pbRemove_clicked);
    commands = std::make_unique<RecordListCommands<MBorrower>>(
        this, ui->tvBorrowerList, ui->pbMovePrevious, ui->pbMoveNext,
        [this](int row) { return model ? model->getBorrower(row) : nullptr; }, [this] { bind(); },
        RecordListCommands<MBorrower>::Texts { tr("删除失败"), tr("已经有账目使用了这个借款人，您不能删除此借款人。"),
            tr("借款人“%1”没有删除成功，请稍后再试。"), tr("借款人的顺序没有保存成功，请稍后再试。") });
}

WBorrowerList::~WBorrowerList()
{
    delete ui;
}

void WBorrowerList::bind()
{
    model = replaceModel(ui->tvBorrowerList, model, new MBorrowerModel(this));
    setColumnWidths(ui->tvBorrowerList, { 200, 150, 300 });
}

MBorrower* WBorrowerList::selectedBorrower() const
{
    return commands->selected();
}

void WBorrowerList::on_pbModify_clicked()
{
    MBorrower* borrower = selectedBorrower();
    if (!borrower)
        return;
    dialog = replaceDialog(dialog, new DBorrower(this));
    dialog->setBorrower(borrower);
    if (dialog->exec() == QDialog::Accepted)
        bind();
}

void WBorrowerList::on_tvBorrowerList_doubleClicked(const QModelIndex&)
{
    on_pbModify_clicked();
}

void WBorrowerList::on_pbCreate_clicked()
{
    dialog = replaceDialog(dialog, new DBorrower(this));
    if (dialog->exec() == QDialog::Accepted)
        bind();
}

void WBorrowerList::on_pbRemove_clicked()
{
    commands->removeSelected();
}

void WBorrowerList::on_tvBorrowerList_clicked(const QModelIndex&)
{
    commands->updateMoveButtons();
}

void WBorrowerList::on_pbMovePrevious_clicked()
{
    commands->move(-1);
}

void WBorrowerList::on_pbMoveNext_clicked()
{
    commands->move(1);
}
