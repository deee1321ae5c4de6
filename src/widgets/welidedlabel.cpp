#include "widgets/welidedlabel.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

namespace {

const QString Ellipsis = QStringLiteral("…");

} // namespace

WElidedLabel::WElidedLabel(QWidget* parent)
    : QLabel(parent)
{
    setSizePolicy(QSizePolicy::Preferred, sizePolicy().verticalPolicy());
}

QList<qsizetype> WElidedLabel::itemEnds() const
{
    const QString whole = text();
    QList<qsizetype> ends;
    for (qsizetype i = 0; i < whole.size(); ++i) {
        if (whole.at(i) != QLatin1Char(' ') && (i + 1 == whole.size() || whole.at(i + 1) == QLatin1Char(' ')))
            ends.append(i + 1);
    }
    return ends;
}

QString WElidedLabel::shortened(int kept) const
{
    const QString whole = text();
    const QList<qsizetype> ends = itemEnds();
    // The last item with the blank before it.
    const qsizetype lastStart = whole.lastIndexOf(QLatin1Char(' ')) + 1;
    if (kept <= 0)
        return Ellipsis + QLatin1Char(' ') + whole.mid(lastStart);
    // The first items with the blanks after them, as the text has them.
    qsizetype cut = ends.at(kept - 1);
    while (cut < whole.size() && whole.at(cut) == QLatin1Char(' '))
        ++cut;
    return whole.left(cut) + Ellipsis + QLatin1Char(' ') + whole.mid(lastStart);
}

QSize WElidedLabel::minimumSizeHint() const
{
    // Room for the first item and the last, with "…" between them.
    QSize size = QLabel::minimumSizeHint();
    const int margins = width() - contentsRect().width();
    const QString least = itemEnds().size() > 2 ? shortened(1) : text();
    size.setWidth(fontMetrics().horizontalAdvance(least) + margins);
    return size;
}

QString WElidedLabel::shownText() const
{
    const QString whole = text();
    const int room = contentsRect().width();
    const QFontMetrics metrics = fontMetrics();
    if (metrics.horizontalAdvance(whole) <= room)
        return whole;
    const int items = int(itemEnds().size());
    if (items < 2)
        return Ellipsis;
    // As many items from the start as fit beside the last one.
    for (int kept = items - 2; kept >= 0; --kept) {
        const QString candidate = shortened(kept);
        if (metrics.horizontalAdvance(candidate) <= room)
            return candidate;
    }
    return Ellipsis;
}

void WElidedLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    style()->drawItemText(
        &painter, contentsRect(), int(alignment()), palette(), isEnabled(), shownText(), foregroundRole());
}

bool WElidedLabel::event(QEvent* event)
{
    // The whole text as the tooltip, but only while part of it is left out.
    if (event->type() == QEvent::ToolTip && toolTip().isEmpty()) {
        if (shownText() != text())
            QToolTip::showText(mapToGlobal(QPoint(0, height())), text(), this);
        else
            QToolTip::hideText();
        return true;
    }
    return QLabel::event(event);
}
