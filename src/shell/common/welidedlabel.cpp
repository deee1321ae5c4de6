#include "shell/common/welidedlabel.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

WElidedLabel::WElidedLabel(QWidget* parent)
    : QLabel(parent)
{
    setSizePolicy(QSizePolicy::Preferred, sizePolicy().verticalPolicy());
}

QSize WElidedLabel::minimumSizeHint() const
{
    QSize size = QLabel::minimumSizeHint();
    size.setWidth(fontMetrics().horizontalAdvance(QStringLiteral("…")) * 4);
    return size;
}

void WElidedLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect area = contentsRect();
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, area.width());
    style()->drawItemText(&painter, area, int(alignment()), palette(), isEnabled(), shown, foregroundRole());
}

bool WElidedLabel::event(QEvent* event)
{
    // The whole text as the tooltip, but only while part of it is hidden.
    if (event->type() == QEvent::ToolTip && toolTip().isEmpty()) {
        if (fontMetrics().horizontalAdvance(text()) > contentsRect().width())
            QToolTip::showText(mapToGlobal(QPoint(0, height())), text(), this);
        else
            QToolTip::hideText();
        return true;
    }
    return QLabel::event(event);
}
