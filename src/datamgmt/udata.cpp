#include "datamgmt/udata.h"

#include <algorithm>

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>

#include "data/backuphelper.h"
#include "data/bookfile.h"
#include "data/constants.h"
#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "datamgmt/dbackup.h"
#include "datamgmt/dimport.h"
#include "widgets/appcontrol.h"
#include "widgets/dmessagebox.h"
#include "ui_udata.h"

UData::UData(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::UData)
{
    ui->setupUi(this);
}

UData::~UData()
{
    delete ui;
}

bool UData::event(QEvent* event)
{
    // The buttons' widths follow from the style sheet's font: measured once it applies.
    if (event->type() == QEvent::Polish || event->type() == QEvent::StyleChange)
        equaliseButtons();
    return QWidget::event(event);
}

void UData::equaliseButtons()
{
    // The six buttons form one block of equal tiles, three columns as wide as the longest text
    // needs; the buttons fill their columns.
    int width = 0;
    for (QPushButton* button :
        { ui->pbBackup, ui->pbResotre, ui->pbAutoBackup, ui->pbAutoBackup_2, ui->pbKobel, ui->pbImport }) {
        button->ensurePolished();
        // With a margin, so that the longest text does not touch the tile's edges.
        width = std::max(width, button->sizeHint().width() + button->fontMetrics().height());
    }
    for (int column = 1; column <= 3; ++column)
        ui->gridLayout->setColumnMinimumWidth(column, width);
}

QString UData::askFile(const QString& caption, bool save, const QString& folderKey, const QString& fallback)
{
    FileSetting* settings = FileSetting::getInstance();
    QFileDialog dialog(this, caption, settings->folderFor(folderKey, fallback), tr("数据文件 (*.db)"));
    if (save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("db"));
        // An existing file is never replaced, so the dialog does not offer to.
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    } else {
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    const QString file = dialog.selectedFiles().value(0);
    settings->rememberFolder(folderKey, file);
    return file;
}

void UData::on_pbBackup_clicked()
{
    // Where the last copy went, at first beside the automatic backups: a copy in the book folder itself
    // would show as a book.
    const QString target
        = askFile(tr("备份数据文件"), true, SettingKeys::BackupFileFolder, Constants::getInstance()->getBackupDir());
    if (target.isEmpty())
        return;
    if (QFileInfo::exists(target)) {
        DMessageBox::error(this, tr("文件已经存在，备份没有完成。请选择一个新的文件名。"));
        return;
    }
    // Owner-only: the copy holds the login and sync passwords as the book does. A book with a
    // write-ahead log is copied with what the log holds.
    Constants* constants = Constants::getInstance();
    QString error;
    if (!BookFile::copy(constants->getDbDir() + constants->getBookName(), target, &error)) {
        DMessageBox::error(this, tr("备份数据文件出现错误：") + error);
        return;
    }
    DMessageBox::information(this, tr("备份成功"), tr("您已经成功备份数据：%1").arg(QDir::toNativeSeparators(target)));
}

void UData::restartWith(const QString& word, const QString& caption, const QString& folderKey, const QString& fallback,
    const QString& failText)
{
    const QString file = askFile(caption, false, folderKey, fallback);
    if (file.isEmpty())
        return;
    // The running program never swaps its book: the next run replaces it before opening it. It is
    // told which book: the one open now (what the settings file names may be another copy's).
    if (!AppControl::restart({ word, file, Constants::getInstance()->getBookName() }))
        DMessageBox::error(this, failText);
}

void UData::on_pbResotre_clicked()
{
    restartWith(QStringLiteral("restore"), tr("数据备份文件"), SettingKeys::BackupFileFolder,
        Constants::getInstance()->getBackupDir(), tr("无法重新启动程序，数据没有恢复。"));
}

void UData::on_pbAutoBackup_clicked()
{
    DBackup dialog(this);
    dialog.exec();
}

void UData::on_pbKobel_clicked()
{
    restartWith(QStringLiteral("kobel"), tr("kobel数据文件"), SettingKeys::ImportFolder, Constants::getDocumentsDir(),
        tr("无法重新启动程序，数据没有导入。"));
}

void UData::on_pbImport_clicked()
{
    DImport dialog(this);
    dialog.exec();
}

void UData::on_pbAutoBackup_2_clicked()
{
    if (DMessageBox::question(
            this, tr("确定重置?"), tr("重置数据将删除所有数据，并且删除数据后不可以恢复，确定重置数据？"))
            != 1
        || DMessageBox::question(
               this, tr("再次确认?"), tr("重置数据将删除您的所有数据,并把账号恢复到注册时的状态，确定重置数据？"))
            != 1
        || DMessageBox::question(this, tr("最后确认?"), tr("删除数据后不可以恢复，确定需要重置数据？")) != 1)
        return;
    // Emptying a large book takes a few seconds (every delete leaves its tombstone first).
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QString reason;
    const bool reset = BackupHelper::resetBook(&reason);
    QApplication::restoreOverrideCursor();
    if (!reset) {
        DMessageBox::error(this, tr("重置数据出现错误，数据没有改变。") + reason);
        return;
    }
    DMessageBox::information(this, tr("重置完成"), tr("您已经成功重置数据"));
}
