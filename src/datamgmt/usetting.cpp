#include "datamgmt/usetting.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QInputDialog>

#include "data/booklist.h"
#include "data/constants.h"
#include "data/dbhelper.h"
#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "datamgmt/qcolorbutton.h"
#include "widgets/dmessagebox.h"
#include "ui_usetting.h"

namespace {

const char* const bookSuffix = ".db";

void storeOption(const QString& key, bool on)
{
    FileSetting::getInstance()->setValue(key, on);
}

QString bookPath(const QString& name)
{
    return Constants::getInstance()->getDbDir() + name + QLatin1String(bookSuffix);
}

bool isOpenBook(const QString& name)
{
    return name + QLatin1String(bookSuffix) == Constants::getInstance()->getBookName();
}

} // namespace

USetting::USetting(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::USetting)
{
    ui->setupUi(this);
    ui->tabWidget->setCurrentIndex(0);

    const FileSetting* settings = FileSetting::getInstance();
    // Setting a check state from code emits no clicked(): loading writes nothing.
    ui->cbEnableBillTitle->setChecked(settings->value(SettingKeys::EnableBillTitle).toBool());
    ui->cbEnableBillMember->setChecked(settings->value(SettingKeys::EnableBillMember).toBool());
    ui->cbAnalysisAllData->setChecked(settings->value(SettingKeys::AnalysisAllData).toBool());
    ui->cbEnableSystemTrayIcon->setChecked(settings->value(SettingKeys::EnableSystemTrayIcon).toBool());
    ui->cbEnableAutoUpdate->setChecked(settings->value(SettingKeys::EnableAutoUpdate).toBool());
    ui->cbEnableHttpProxy->setChecked(settings->value(SettingKeys::EnableHttpProxy).toBool());
    enableProxyFields(ui->cbEnableHttpProxy->isChecked());

    const QString password = DbSetting::getInstance()->getPassword();
    ui->lePassword->setText(password);
    ui->lePassword_2->setText(password);

    // A stored text such as "#ff0000" converts; anything that does not gives an invalid colour.
    const std::pair<QColorButton*, QString> colors[] = {
        { ui->cbExpenseColor, SettingKeys::ExpenseColor },
        { ui->cbIncomeColor, SettingKeys::IncomeColor },
        { ui->cbTransferColor, SettingKeys::TransferColor },
        { ui->cbLendColor, SettingKeys::LendColor },
        { ui->cbBorrowColor, SettingKeys::BorrowColor },
        { ui->cbRefundColor, SettingKeys::RefundColor },
        { ui->cbRepayColor, SettingKeys::RepayColor },
    };
    for (const auto& [button, key] : colors)
        button->setColor(settings->value(key).value<QColor>());

    bindBookList();
}

USetting::~USetting()
{
    delete ui;
}

void USetting::enableProxyFields(bool on)
{
    for (QWidget* field :
        std::initializer_list<QWidget*> { ui->leProxyUrl, ui->sbProxyPort, ui->leProxyUsername, ui->leProxyPassword })
        field->setEnabled(on);
}

void USetting::on_cbEnableBillTitle_clicked()
{
    storeOption(SettingKeys::EnableBillTitle, ui->cbEnableBillTitle->isChecked());
}

void USetting::on_cbEnableBillMember_clicked()
{
    storeOption(SettingKeys::EnableBillMember, ui->cbEnableBillMember->isChecked());
}

void USetting::on_cbEnableSystemTrayIcon_clicked()
{
    storeOption(SettingKeys::EnableSystemTrayIcon, ui->cbEnableSystemTrayIcon->isChecked());
}

void USetting::on_cbEnableAutoUpdate_clicked()
{
    storeOption(SettingKeys::EnableAutoUpdate, ui->cbEnableAutoUpdate->isChecked());
}

void USetting::on_cbAnalysisAllData_clicked()
{
    storeOption(SettingKeys::AnalysisAllData, ui->cbAnalysisAllData->isChecked());
}

void USetting::on_cbEnableHttpProxy_clicked()
{
    storeOption(SettingKeys::EnableHttpProxy, ui->cbEnableHttpProxy->isChecked());
    enableProxyFields(ui->cbEnableHttpProxy->isChecked());
}

// The button's own handler has run the colour dialog before these slots: they store what it left,
// also the unchanged colour of a cancelled dialog.
void USetting::storeColor(const QColorButton* button, const QString& key)
{
    FileSetting::getInstance()->setValue(key, button->color());
}

void USetting::on_cbExpenseColor_clicked()
{
    storeColor(ui->cbExpenseColor, SettingKeys::ExpenseColor);
}

void USetting::on_cbIncomeColor_clicked()
{
    storeColor(ui->cbIncomeColor, SettingKeys::IncomeColor);
}

void USetting::on_cbTransferColor_clicked()
{
    storeColor(ui->cbTransferColor, SettingKeys::TransferColor);
}

void USetting::on_cbLendColor_clicked()
{
    storeColor(ui->cbLendColor, SettingKeys::LendColor);
}

void USetting::on_cbBorrowColor_clicked()
{
    storeColor(ui->cbBorrowColor, SettingKeys::BorrowColor);
}

void USetting::on_cbRefundColor_clicked()
{
    storeColor(ui->cbRefundColor, SettingKeys::RefundColor);
}

void USetting::on_cbRepayColor_clicked()
{
    storeColor(ui->cbRepayColor, SettingKeys::RepayColor);
}

void USetting::on_pbOK_clicked()
{
    const QString password = ui->lePassword->text();
    if (password != ui->lePassword_2->text()) {
        DMessageBox::information(this, tr("错误"), tr("密码和重复密码不一致，请重新确认！"));
        return;
    }
    DbSetting* setting = DbSetting::getInstance();
    const QString previous = setting->getPassword();
    setting->setPassword(password);
    if (!setting->save()) {
        // What the book still holds stays in force, also for a later save of the row.
        setting->setPassword(previous);
        DMessageBox::error(this, tr("登陆密码没有保存：账本无法写入，原来的密码仍然有效。"));
        return;
    }
    DMessageBox::information(this, tr("设置密码成功"), tr("您已经成功设置登陆密码，将在下次启动时生效！"));
}

void USetting::bindBookList()
{
    const QString dbDir = Constants::getInstance()->getDbDir();
    Constants::makeDir(dbDir);
    ui->lwBookList->clear();
    for (const QString& file : BookList::files(dbDir))
        ui->lwBookList->addItem(BookList::displayName(file));
}

QString USetting::chosenBook(const QString& failureTitle)
{
    const QListWidgetItem* item = ui->lwBookList->currentItem();
    if (!item) {
        DMessageBox::information(this, failureTitle, tr("请先在账本列表中选择一个账本。"));
        return QString();
    }
    return item->text();
}

QString USetting::askBookName(const QString& failureTitle, const QString& current)
{
    bool accepted = false;
    const QString name = QInputDialog::getText(
        this, tr("新建账本"), tr("请输入新账本的名称："), QLineEdit::Normal, current, &accepted);
    if (!accepted || name.isEmpty())
        return QString();
    // The name becomes part of a path: it must stay a file name in the book folder. A leading dot
    // would hide the file from every book list.
    if (!Constants::isValidBookName(name) || name.startsWith(QLatin1Char('.'))) {
        DMessageBox::information(
            this, failureTitle, tr("账本名称不能以“.”开头，也不能包含“/”、“\\”或控制字符，请换一个名称。"));
        return QString();
    }
    return name;
}

void USetting::on_pbCreateBook_clicked()
{
    const QString failed = tr("新建失败");
    const QString name = askBookName(failed, QString());
    if (name.isEmpty())
        return;

    const QString path = bookPath(name);
    // Never overwrites: an existing book of that name stays as it is.
    if (!QFile::copy(QStringLiteral(":/rc/data/init.db"), path)) {
        if (QFile::exists(path))
            DMessageBox::information(this, failed, tr("账本“%1”已经存在，请换一个名称。").arg(name));
        else
            DMessageBox::information(this, failed, tr("无法建立账本文件，请确认账本目录可以写入。"));
        return;
    }
    // A copy of a resource is read-only; the book belongs to its owner alone.
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    // Filled on a connection of its own: the open book, its lists and caches never see these rows.
    if (!DBHelper::getInstance()->initDefaultData(path)) {
        QFile::remove(path);
        DMessageBox::information(this, failed, tr("无法写入新账本的默认数据，账本没有建立。"));
        return;
    }

    DMessageBox::information(this, tr("新建成功"),
        tr("新建成功！您可以通过窗口顶部") + QLatin1Char('"') + tr("[切换账本]") + QLatin1Char('"')
            + tr("按钮快速切换账本。"));
    bindBookList();
}

void USetting::on_pbRenameBook_clicked()
{
    const QString failed = tr("修改失败");
    const QString name = chosenBook(failed);
    if (name.isEmpty())
        return;
    if (isOpenBook(name)) {
        DMessageBox::information(this, failed, tr("账本正在被使用，您不能修改正在使用的账本"));
        return;
    }
    // The dialog starts with the name, to be changed rather than typed again; kept as it was, there
    // is nothing to do.
    const QString newName = askBookName(failed, name);
    if (newName.isEmpty() || newName == name)
        return;

    // QFile::rename never replaces an existing file.
    if (!QFile::rename(bookPath(name), bookPath(newName))) {
        DMessageBox::information(this, failed, tr("修改账本名称失败，可能此账本文件已经被其他程序占用！"));
        return;
    }
    DMessageBox::information(this, tr("修改成功"), tr("您已经成功修改账本名称！"));
    bindBookList();
}

void USetting::on_pbDeleteBook_clicked()
{
    const QString failed = tr("删除失败");
    const QString name = chosenBook(failed);
    if (name.isEmpty())
        return;
    if (isOpenBook(name)) {
        DMessageBox::information(this, failed, tr("账本正在被使用，您不能删除正在使用的账本"));
        return;
    }
    if (DMessageBox::question(this, tr("确定删除?"),
            tr("您确定需要删除账本 %1 ? 账本删除后，属于此账本的所有数据将丢失，并且不能恢复！").arg(name))
        != 1)
        return;

    // Moved aside, never erased; an earlier deleted book of the same name is never replaced.
    const QString target
        = Constants::getInstance()->getBackupDir() + name + QLatin1String(bookSuffix) + QStringLiteral(".deleted");
    if (QFile::rename(bookPath(name), target)) {
        DMessageBox::information(this, tr("删除成功"), tr("您已经成功删除账本！"));
    } else if (QFile::exists(target)) {
        DMessageBox::information(this, failed,
            tr("删除账本失败：备份目录中已经有一个删除过的同名账本（%1），账本保持原样。")
                .arg(QDir::toNativeSeparators(target)));
    } else {
        DMessageBox::information(this, failed, tr("删除账本失败：无法把账本文件移到备份目录，账本保持原样。"));
    }
    bindBookList();
}
