#include "shell/common/dmessagebox.h"

#include <QPushButton>

#include "shell/common/styledbackground.h"
#include "ui_dmessagebox.h"

DMessageBox::DMessageBox(QWidget* parent, const QString& title, const QString& text)
    : QDialog(parent)
    , ui(new Ui::DMessageBox)
{
    setProperty("style", QStringLiteral("dialog"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    ui->setupUi(this);
    ui->wgtTitle->setTitle(title);
    ui->tlText->setText(text);
}

DMessageBox::~DMessageBox()
{
    delete ui;
}

void DMessageBox::setStandardButtons(QDialogButtonBox::StandardButtons buttons)
{
    ui->dbbButtons->setStandardButtons(buttons);
}

void DMessageBox::setButtonText(QDialogButtonBox::StandardButton which, const QString& text)
{
    if (QPushButton* button = ui->dbbButtons->button(which))
        button->setText(text);
}

QPushButton* DMessageBox::addButton(QDialogButtonBox::StandardButton which)
{
    return ui->dbbButtons->addButton(which);
}

int DMessageBox::error(QWidget* parent, const QString& text)
{
    return information(parent, tr("错误"), text);
}

int DMessageBox::question(QWidget* parent, const QString& title, const QString& text)
{
    DMessageBox box(parent, title, text);
    box.setStandardButtons(QDialogButtonBox::Yes | QDialogButtonBox::No);
    box.setButtonText(QDialogButtonBox::Yes, tr("是"));
    box.setButtonText(QDialogButtonBox::No, tr("否"));
    return box.exec();
}

int DMessageBox::information(QWidget* parent, const QString& title, const QString& text)
{
    DMessageBox box(parent, title, text);
    box.setStandardButtons(QDialogButtonBox::Ok);
    box.setButtonText(QDialogButtonBox::Ok, tr("确定"));
    return box.exec();
}

void DMessageBox::paintEvent(QPaintEvent*)
{
    paintStyledBackground(this);
}
