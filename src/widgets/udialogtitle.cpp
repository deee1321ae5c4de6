#include "widgets/udialogtitle.h"

#include <QDialog>
#include <QMouseEvent>

#include "ui_udialogtitle.h"

UDialogTitle::UDialogTitle(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::UDialogTitle)
{
    ui->setupUi(this);
}

UDialogTitle::~UDialogTitle()
{
    delete ui;
}

void UDialogTitle::setTitle(const QString& title)
{
    ui->tlTitle->setText(title);
}

void UDialogTitle::on_pbClose_clicked()
{
    // done(0) rather than reject(): the caller sees exactly what a cancel gives. A strip that
    // sits on something other than a dialog has nothing to end.
    if (auto* dialog = qobject_cast<QDialog*>(window()))
        dialog->done(0);
}

void UDialogTitle::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    dragOffset = event->globalPosition().toPoint() - window()->frameGeometry().topLeft();
    event->accept();
}

void UDialogTitle::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    window()->move(event->globalPosition().toPoint() - dragOffset);
    event->accept();
}
