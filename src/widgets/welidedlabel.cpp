#include "widgets/welidedlabel.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

WElidedLabel::WElidedLabel(QWidget* parent)
    : QLabel(parent)
{
    setSizePolicy(QSizePolicy::Preferred, sizePolicy().verticalPolicy());
}

QString WElidedLabel::lastWord() const
{
    const QString whole = text();
    const qsizetype blank = whole.lastIndexOf(QLatin1Char(' '));
    return blank > 0 ? whole.mid(blank) : QString();
}

QSize WElidedLabel::minimumSizeHint() const
{
    // Room for the last word and a little of the start before it.
    QSize size = QLabel::minimumSizeHint();
    const int margins = width() - contentsRect().width();
    size.setWidth(fontMetrics().horizontalAdvance(lastWord() + QStringLiteral("……")) + margins);
    return size;
}

QString WElidedLabel::shownText() const
{
    const QString whole = text();
    const int room = contentsRect().width();
    const QFontMetrics metrics = fontMetrics();
    if (metrics.horizontalAdvance(whole) <= room)
        return whole;
    const QString last = lastWord();
    const int lastWidth = metrics.horizontalAdvance(last);
    if (last.isEmpty() || lastWidth >= room)
        return metrics.elidedText(whole, Qt::ElideRight, room);
    return metrics.elidedText(whole.chopped(last.size()), Qt::ElideRight, room - lastWidth) + last;
}

void WElidedLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    style()->drawItemText(
        &painter, contentsRect(), int(alignment()), palette(), isEnabled(), shownText(), foregroundRole());
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
