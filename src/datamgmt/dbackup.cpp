#include "datamgmt/dbackup.h"

#include <QFileDialog>
#include <QFileInfo>

#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "widgets/styledbackground.h"
#include "ui_dbackup.h"

DBackup::DBackup(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DBackup)
{
    setProperty("style", QStringLiteral("dialog"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    ui->setupUi(this);
    ui->wgtTitle->setTitle(tr("备份设置"));

    const FileSetting* settings = FileSetting::getInstance();
    ui->leBackupDir->setText(settings->value(SettingKeys::BackupDir).toString());
    ui->cbBackupWhenStartup->setChecked(settings->value(SettingKeys::BackupWhenStartup).toBool());
    ui->cbBackupWhenClose->setChecked(settings->value(SettingKeys::BackupWhenClose).toBool());
    ui->cbBackupBeforeSync->setChecked(settings->value(SettingKeys::BackupBeforeSync).toBool());
    ui->cbBackupAfterSync->setChecked(settings->value(SettingKeys::BackupAfterSync).toBool());
}

DBackup::~DBackup()
{
    delete ui;
}

void DBackup::paintEvent(QPaintEvent*)
{
    paintStyledBackground(this);
}

void DBackup::on_pbBackupDir_clicked()
{
    // Starts at the folder the settings name now, when it is there.
    const QString current = ui->leBackupDir->text();
    QFileDialog dialog(this, tr("选择备份目录"), QFileInfo(current).isDir() ? current : QString());
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QString dir = dialog.selectedFiles().value(0);
    if (!dir.isEmpty())
        ui->leBackupDir->setText(dir);
}

void DBackup::on_pbOk_clicked()
{
    FileSetting* settings = FileSetting::getInstance();
    settings->setValue(SettingKeys::BackupDir, ui->leBackupDir->text());
    settings->setValue(SettingKeys::BackupWhenStartup, ui->cbBackupWhenStartup->isChecked());
    settings->setValue(SettingKeys::BackupWhenClose, ui->cbBackupWhenClose->isChecked());
    settings->setValue(SettingKeys::BackupBeforeSync, ui->cbBackupBeforeSync->isChecked());
    settings->setValue(SettingKeys::BackupAfterSync, ui->cbBackupAfterSync->isChecked());
    accept();
}

void DBackup::on_pbCancel_clicked()
{
    reject();
}
