#include "shell/ubook.h"

#include "widgets/styledbackground.h"
#include "widgets/wbasewidget.h"
#include "ui_ubook.h"

UBook::UBook(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::UBook)
{
    ui->setupUi(this);
    switchPage(QStringLiteral("BillList"));
}

UBook::~UBook()
{
    delete ui;
}

void UBook::switchPage(const QString& key)
{
    auto* page = ui->stackedWidget->findChild<QWidget*>(QStringLiteral("pg") + key);
    if (page && ui->stackedWidget->indexOf(page) >= 0)
        ui->stackedWidget->setCurrentWidget(page);
}

WBaseWidget* UBook::currentWidget() const
{
    QWidget* container = ui->stackedWidget->currentWidget();
    return container ? container->findChild<WBaseWidget*>() : nullptr;
}

void UBook::paintEvent(QPaintEvent*)
{
    paintStyledBackground(this);
}
