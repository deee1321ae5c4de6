#include "shell/common/wbasewidget.h"

WBaseWidget::WBaseWidget(QWidget* parent)
    : QWidget(parent)
{
}

void WBaseWidget::bind()
{
}

void WBaseWidget::showEvent(QShowEvent*)
{
    bind();
}
