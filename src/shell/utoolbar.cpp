#include "shell/utoolbar.h"

#include <QDesktopServices>
#include <QUrl>

#include "data/constants.h"
#include "shell/ucontent.h"
#include "sync/dfeedback.h"
#include "widgets/styledbackground.h"
#include "ui_utoolbar.h"

UToolBar::UToolBar(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::UToolBar)
{
    ui->setupUi(this);
}

UToolBar::~UToolBar()
{
    delete ui;
}

void UToolBar::setContent(UContent* newContent)
{
    content = newContent;
}

QUrl UToolBar::websiteUrl()
{
    return QUrl(Constants::getBaseUrl());
}

QUrl UToolBar::weiboUrl()
{
    return QUrl(Constants::getBaseUrl() + QStringLiteral("weibo/"));
}

void UToolBar::switchPage(const QString& name)
{
    if (content)
        content->switchPage(name);
}

void UToolBar::on_pbBook_clicked()
{
    switchPage(QStringLiteral("Book"));
}

void UToolBar::on_tbSync_clicked()
{
    switchPage(QStringLiteral("Sync"));
}

void UToolBar::on_tbData_clicked()
{
    switchPage(QStringLiteral("Data"));
}

void UToolBar::on_tbSetting_clicked()
{
    switchPage(QStringLiteral("Setting"));
}

void UToolBar::on_tbWebsite_clicked()
{
    QDesktopServices::openUrl(websiteUrl());
}

void UToolBar::on_tbWeibo_clicked()
{
    QDesktopServices::openUrl(weiboUrl());
}

void UToolBar::on_tbFeedback_clicked()
{
    // Kept after it closes: an answer to feedback still under way is shown from it.
    auto* dialog = new DFeedback(this);
    dialog->exec();
}

void UToolBar::paintEvent(QPaintEvent*)
{
    paintStyledBackground(this);
}
