#include "sync/dsyncconfig.h"

#include <QDesktopServices>

#include "data/constants.h"
#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "engine/httphelper.h"
#include "engine/json.h"
#include "engine/servicepaths.h"
#include "engine/synclogging.h"
#include "widgets/dmessagebox.h"
#include "widgets/styledbackground.h"
#include "ui_dsyncconfig.h"

DSyncConfig::DSyncConfig(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DSyncConfig)
{
    setProperty("style", QStringLiteral("dialog"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    ui->setupUi(this);
    ui->wgtTitle->setTitle(tr("同步设置"));

    const DbSetting* setting = DbSetting::getInstance();
    ui->leSyncUsername->setText(setting->getSyncUsername());
    ui->leSyncPassword->setText(setting->getSyncPassword());
    const FileSetting* settings = FileSetting::getInstance();
    ui->cbSyncWhenStartup->setChecked(settings->getSyncWhenStartup());
    ui->cbSyncWhenClose->setChecked(settings->getSyncWhenClose());
}

DSyncConfig::~DSyncConfig()
{
    delete ui;
}

QUrl DSyncConfig::signupUrl()
{
    return QUrl(Constants::getBaseUrl()).resolved(QUrl(QStringLiteral("/")));
}

void DSyncConfig::paintEvent(QPaintEvent*)
{
    paintStyledBackground(this);
}

void DSyncConfig::done(int result)
{
    // A check still under way answers no more once the dialog is gone.
    const auto requests = findChildren<HttpHelper*>();
    for (HttpHelper* request : requests) {
        request->disconnect(this);
        request->deleteLater();
    }
    QDialog::done(result);
}

void DSyncConfig::on_pbOK_clicked()
{
    DbSetting* setting = DbSetting::getInstance();
    const QString username = setting->getSyncUsername();
    const QString password = setting->getSyncPassword();
    setting->setSyncUsername(ui->leSyncUsername->text());
    setting->setSyncPassword(ui->leSyncPassword->text());
    if (!setting->save()) {
        // The account the book still holds stays in force; the switches are left as they were too.
        setting->setSyncUsername(username);
        setting->setSyncPassword(password);
        DMessageBox::error(this, tr("同步账号没有保存：账本无法写入，请稍后再试。"));
        return;
    }
    FileSetting* settings = FileSetting::getInstance();
    settings->setSyncWhenStartup(ui->cbSyncWhenStartup->isChecked());
    settings->setSyncWhenClose(ui->cbSyncWhenClose->isChecked());
    accept();
}

void DSyncConfig::on_pbCancel_clicked()
{
    reject();
}

void DSyncConfig::on_pbSignup_clicked()
{
    QDesktopServices::openUrl(signupUrl());
}

void DSyncConfig::on_pbCheckAccount_clicked()
{
    // Every click asks on its own and gets its own answer.
    auto* request = new HttpHelper(this);
    connect(request, &HttpHelper::finished, this, [this, request](const QString& html) {
        request->deleteLater();
        downloadHtml(html);
    });
    connect(request, &HttpHelper::error, this, [this, request] {
        request->deleteLater();
        downloadError();
    });
    const QString url = Constants::getBaseUrl() + ServicePaths::UserId;
    qCDebug(lcSync) << "account check:" << url;
    request->post(url,
        { { QStringLiteral("username"), ui->leSyncUsername->text() },
            { QStringLiteral("password"), ui->leSyncPassword->text() } });
}

void DSyncConfig::downloadHtml(const QString& html)
{
    const QVariantMap map = JSON::getInstance()->parseMap(html);
    if (map.contains(QStringLiteral("error"))) {
        DMessageBox::information(this, tr("错误！"), tr("用户名或密码错误！"));
        return;
    }
    // Only the account's id says the service knows the account; any other answer (a page of some
    // other server, an empty reply) says nothing about it.
    if (map.value(QStringLiteral("id")).toString().isEmpty()) {
        qCInfo(lcSync) << "account check: an answer without an id:" << html.left(200);
        downloadError();
        return;
    }
    DMessageBox::information(this, tr("正确！"), tr("用户名密码正确！"));
}

void DSyncConfig::downloadError()
{
    DMessageBox::information(this, tr("错误！"), tr("与服务器通讯出错！"));
}
