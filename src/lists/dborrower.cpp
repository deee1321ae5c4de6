#include "lists/dborrower.h"

#include "data/mborrower.h"
#include "ui_dborrower.h"

DBorrower::DBorrower(QWidget* parent)
    : DEditDialog(parent)
    , ui(new Ui::DBorrower)
{
    ui->setupUi(this);
    keepWholeCharacters();
    ui->wgtTitle->setTitle(tr("借款人"));
}

DBorrower::~DBorrower()
{
    delete ui;
}

void DBorrower::setBorrower(MBorrower* record)
{
    borrower = record;
    isEdit = true;
    ui->leName->setText(record->getName());
    ui->lnDescription->setText(record->getDescription());
}

void DBorrower::on_pbOK_clicked()
{
    const QString name = storedText(ui->leName->text());
    const QString description = storedText(ui->lnDescription->text());
    if (!acceptsName(name, tr("借款人名称不能为空！")))
        return;
    storeRecord(
        borrower, created, isEdit,
        [&](MBorrower* record) {
            record->setName(name);
            record->setDescription(description);
        },
        tr("借款人没有保存成功，请稍后再试。"));
}

void DBorrower::on_pbCancel_clicked()
{
    close();
}
