#include "lists/daccount.h"

#include <QListView>

#include "data/constants.h"
#include "data/maccount.h"
#include "data/metadata.h"
#include "ui_daccount.h"

DAccount::DAccount(QWidget* parent)
    : DEditDialog(parent)
    , ui(new Ui::DAccount)
{
    ui->setupUi(this);
    keepWholeCharacters();
    ui->wgtTitle->setTitle(tr("账户"));
    ui->cbKind->setView(new QListView(this));
    for (const auto& [label, key] : Constants::getInstance()->getAccountKinds()->getPairs())
        ui->cbKind->addItem(label, key);
}

DAccount::~DAccount()
{
    delete ui;
}

void DAccount::setAccount(MAccount* record)
{
    account = record;
    isEdit = true;
    ui->leName->setText(record->getName());
    ui->cbKind->setCurrentIndex(ui->cbKind->findData(record->getKind(), Qt::UserRole, Qt::MatchExactly));
    ui->dsbAmount->setValue(record->getAmount());
    ui->lnDescription->setText(record->getDescription());
}

void DAccount::on_pbOK_clicked()
{
    const QString name = storedText(ui->leName->text());
    const QString kindKey = storedText(ui->cbKind->currentData().toString());
    const double amount = ui->dsbAmount->value();
    const QString description = storedText(ui->lnDescription->text());
    if (!acceptsName(name, tr("账户名称不能为空！")))
        return;
    storeRecord(
        account, created, isEdit,
        [&](MAccount* record) {
            record->setName(name);
            record->setKind(kindKey);
            record->setAmount(amount);
            record->setDescription(description);
        },
        tr("账户没有保存成功，请稍后再试。"));
}

void DAccount::on_pbCancel_clicked()
{
    close();
}
