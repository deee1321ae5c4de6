#include "datamgmt/usetting.h"

#include <climits>

#include <QColor>
#include <QFileInfo>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QInputDialog>

#include "data/backuphelper.h"
#include "data/bookfile.h"
#include "data/booklist.h"
#include "data/constants.h"
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
    // The item shows the name; the file it stands for travels with it. The open book stands out:
    // it is the one that cannot be renamed or deleted here.
    // Its mark is the tool bar's "my book" picture; the others keep its room, so the names align.
    const QString open = Constants::getInstance()->getBookName();
    const QSize markSize(16, 16);
    ui->lwBookList->setIconSize(markSize);
    QPixmap noMark(markSize);
    noMark.fill(Qt::transparent);
    for (const QString& file : BookList::files(dbDir)) {
        auto* item = new QListWidgetItem(BookList::displayName(file), ui->lwBookList);
        item->setData(Qt::UserRole, file);
        if (file == open) {
            QFont font = item->font();
            font.setBold(true);
            item->setFont(font);
            item->setIcon(QIcon(QStringLiteral(":/rc/images/IcoHome.png")));
            item->setToolTip(tr("正在使用的账本"));
        } else {
            item->setIcon(QIcon(noMark));
        }
    }
}

QString USetting::chosenBook(const QString& failureTitle)
{
    const QListWidgetItem* item = ui->lwBookList->currentItem();
    if (!item) {
        DMessageBox::information(this, failureTitle, tr("请先在账本列表中选择一个账本。"));
        return QString();
    }
    return item->data(Qt::UserRole).toString();
}

QString USetting::askBookName(const QString& failureTitle, const QString& renamed)
{
    bool accepted = false;
    const QString current = renamed.isEmpty() ? QString() : BookList::displayName(renamed);
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
    // The file and the names SQLite and the program give the files beside it must fit the disk's
    // limit of a file name.
    if ((name + QLatin1String(bookSuffix) + QStringLiteral(".creating-journal")).toUtf8().size() > NAME_MAX) {
        DMessageBox::information(this, failureTitle, tr("账本名称太长，请换一个短一些的名称。"));
        return QString();
    }
    const QString twin
        = BookList::caseTwin(Constants::getInstance()->getDbDir(), name + QLatin1String(bookSuffix), renamed);
    if (!twin.isEmpty()) {
        DMessageBox::information(this, failureTitle,
            tr("已经有一个名称只有大小写不同的账本“%1”，请换一个名称。").arg(BookList::displayName(twin)));
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
    // Never replaces a file; the open book, its lists and caches never see the new book's rows.
    QString error;
    if (!BookFile::create(bookPath(name), &error)) {
        DMessageBox::information(this, failed, error);
        return;
    }
    // The list shows the new book while the box speaks of it.
    bindBookList();
    DMessageBox::information(this, tr("新建成功"),
        tr("新建成功！您可以通过窗口顶部") + QLatin1Char('"') + tr("[切换账本]") + QLatin1Char('"')
            + tr("按钮快速切换账本。"));
}

void USetting::on_pbRenameBook_clicked()
{
    const QString failed = tr("修改失败");
    const QString file = chosenBook(failed);
    if (file.isEmpty())
        return;
    if (file == Constants::getInstance()->getBookName()) {
        DMessageBox::information(this, failed, tr("账本正在被使用，您不能修改正在使用的账本"));
        return;
    }
    // The dialog starts with the name, to be changed rather than typed again; kept as it was, there
    // is nothing to do.
    const QString newName = askBookName(failed, file);
    if (newName.isEmpty() || newName == BookList::displayName(file))
        return;

    const QString newFile = newName + QLatin1String(bookSuffix);
    QString reason;
    if (QFileInfo::exists(bookPath(newName))) {
        DMessageBox::information(this, failed, tr("账本“%1”已经存在，请换一个名称。").arg(newName));
        return;
    }
    if (!BackupHelper::renameBook(file, newFile, &reason)) {
        DMessageBox::information(this, failed, tr("修改账本名称失败：%1账本保持原样。").arg(reason));
        return;
    }
    bindBookList();
    DMessageBox::information(this, tr("修改成功"), tr("您已经成功修改账本名称！"));
}

void USetting::on_pbDeleteBook_clicked()
{
    const QString failed = tr("删除失败");
    const QString file = chosenBook(failed);
    if (file.isEmpty())
        return;
    if (file == Constants::getInstance()->getBookName()) {
        DMessageBox::information(this, failed, tr("账本正在被使用，您不能删除正在使用的账本"));
        return;
    }
    if (DMessageBox::question(this, tr("确定删除?"),
            tr("您确定需要删除账本 %1 ? 账本删除后，属于此账本的所有数据将丢失，并且不能恢复！")
                .arg(BookList::displayName(file)))
        != 1)
        return;

    // Moved aside into the backup folder, never erased.
    QString reason;
    const bool deleted = BackupHelper::deleteBook(file, &reason);
    bindBookList();
    if (deleted)
        DMessageBox::information(this, tr("删除成功"), tr("您已经成功删除账本！"));
    else
        DMessageBox::information(this, failed, tr("删除账本失败：%1账本保持原样。").arg(reason));
}
