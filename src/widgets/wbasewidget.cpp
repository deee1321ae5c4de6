#include "widgets/wbasewidget.h"

#include "widgets/pagetext.h"

WBaseWidget::WBaseWidget(QWidget* parent)
    : QWidget(parent)
{
}

void WBaseWidget::bind()
{
}

void WBaseWidget::showEvent(QShowEvent*)
{
    // Also what the page made since it was shown last.
    markPageText(this);
    bind();
}
