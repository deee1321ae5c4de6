#include "shell/uheader.h"

#include "shell/utitlebar.h"
#include "shell/utoolbar.h"
#include "widgets/styledbackground.h"
#include "ui_uheader.h"

UHeader::UHeader(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::UHeader)
{
    ui->setupUi(this);
}

UHeader::~UHeader()
{
    delete ui;
}

void UHeader::setContent(UContent* content)
{
    ui->wgtToolBar->setContent(content);
    ui->wgtTitleBar->setContent(content);
}

void UHeader::paintEvent(QPaintEvent*)
{
    paintStyledBackground(this);
}
