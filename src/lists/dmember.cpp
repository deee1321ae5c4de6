#include "lists/dmember.h"

#include "data/mmember.h"
#include "ui_dmember.h"

DMember::DMember(QWidget* parent)
    : DEditDialog(parent)
    , ui(new Ui::DMember)
{
    ui->setupUi(this);
    keepWholeCharacters();
    ui->wgtTitle->setTitle(tr("成员"));
}

DMember::~DMember()
{
    delete ui;
}

void DMember::setMember(MMember* record)
{
    member = record;
    isEdit = true;
    ui->leName->setText(record->getName());
    ui->lnDescription->setText(record->getDescription());
}

void DMember::on_pbOK_clicked()
{
    const QString name = storedText(ui->leName->text());
    const QString description = storedText(ui->lnDescription->text());
    if (!acceptsName(name, tr("成员名称不能为空！")))
        return;
    storeRecord(
        member, created, isEdit,
        [&](MMember* record) {
            record->setName(name);
            record->setDescription(description);
        },
        tr("成员没有保存成功，请稍后再试。"));
}

void DMember::on_pbCancel_clicked()
{
    close();
}
