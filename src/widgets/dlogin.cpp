#include "widgets/dlogin.h"

#include "data/booklist.h"
#include "data/bookprobe.h"
#include "data/constants.h"
#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "widgets/dmessagebox.h"
#include "widgets/styledbackground.h"
#include "ui_dlogin.h"

DLogin::DLogin(QWidget* parent, const QString& book)
    : QDialog(parent)
    , ui(new Ui::DLogin)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    ui->setupUi(this);
    setProperty("style", QStringLiteral("dialog"));
    ui->widget->setTitle(tr("登陆"));

    const QString dbDir = Constants::getInstance()->getDbDir();
    Constants::makeDir(dbDir);
    // Adding the first item makes it current, which probes it.
    for (const QString& file : BookList::files(dbDir))
        ui->cbDbList->addItem(BookList::displayName(file), file);
    if (ui->cbDbList->count() == 0)
        on_cbDbList_currentIndexChanged(-1);

    const QString preselect
        = book.isEmpty() ? FileSetting::getInstance()->value(SettingKeys::LastBook, QString()).toString() : book;
    // A name that matches no book leaves the first book chosen: there is nothing else to probe.
    const int found = ui->cbDbList->findData(preselect, Qt::UserRole, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (found >= 0)
        ui->cbDbList->setCurrentIndex(found);
}

DLogin::~DLogin()
{
    delete ui;
}

void DLogin::on_cbDbList_currentIndexChanged(int index)
{
    // Whatever an earlier probe found belongs to another book.
    storedPassword.clear();
    ui->lePassword->setEnabled(false);
    ui->pbOK->setEnabled(false);
    if (index < 0)
        return;

    const QString file = ui->cbDbList->itemData(index).toString();
    const BookProbe::Result result
        = BookProbe::probe(Constants::getInstance()->getDbDir() + file, ui->cbDbList->itemText(index));
    if (!result.opened) {
        // OK stays off: a book whose password could not be read is never opened unlocked.
        DMessageBox::information(this, tr("数据文件错误"), tr("打开数据文件出现错误。") + result.errorText);
        return;
    }
    storedPassword = result.password;
    ui->lePassword->setEnabled(!storedPassword.isEmpty());
    ui->pbOK->setEnabled(true);
}

void DLogin::on_pbOK_clicked()
{
    if (ui->cbDbList->currentIndex() < 0)
        return;
    if (!storedPassword.isEmpty() && ui->lePassword->text() != storedPassword) {
        DMessageBox::information(this, tr("密码错误"), tr("您输入的密码有错误！"));
        return;
    }
    if (!Constants::getInstance()->setBookName(ui->cbDbList->currentData().toString())) {
        DMessageBox::error(this, tr("账本名称无效。"));
        return;
    }
    accept();
}

void DLogin::on_pbCancel_clicked()
{
    reject();
}

void DLogin::paintEvent(QPaintEvent*)
{
    paintStyledBackground(this);
}
