#include "shell/ucontent.h"

#include "widgets/pagetext.h"
#include "widgets/styledbackground.h"
#include "ui_ucontent.h"

UContent::UContent(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::UContent)
{
    ui->setupUi(this);
    markPageText(this);
}

UContent::~UContent()
{
    delete ui;
}

void UContent::switchPage(const QString& name)
{
    // Only the four containers of this stack count; deeper pages (those of the book page) do not.
    const QString objectName = QStringLiteral("pg") + name;
    for (int i = 0; i < ui->stackedWidget->count(); ++i) {
        QWidget* page = ui->stackedWidget->widget(i);
        if (page->objectName() == objectName) {
            ui->stackedWidget->setCurrentWidget(page);
            return;
        }
    }
}

QWidget* UContent::currentWidget() const
{
    return ui->stackedWidget->currentWidget();
}

void UContent::paintEvent(QPaintEvent*)
{
    paintStyledBackground(this);
}
