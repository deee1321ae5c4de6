#include "sync/usync.h"

#include "data/dbsetting.h"
#include "sync/dsync.h"
#include "sync/dsyncabout.h"
#include "sync/dsyncconfig.h"
#include "widgets/dmessagebox.h"
#include "ui_usync.h"

USync::USync(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::USync)
{
    ui->setupUi(this);
}

USync::~USync()
{
    delete ui;
}

void USync::on_pbSync_clicked()
{
    if (!DbSetting::getInstance()->hasSyncAccount()) {
        DMessageBox::information(this, tr("错误"), tr("请填写同步账号和密码"));
        DSyncConfig config(this);
        config.exec();
        if (!DbSetting::getInstance()->hasSyncAccount())
            return;
    }
    DSync sync(this);
    sync.exec();
}

void USync::on_pbConfig_clicked()
{
    DSyncConfig config(this);
    config.exec();
}

void USync::on_pbAbount_clicked()
{
    DSyncAbout about(this);
    about.exec();
}
