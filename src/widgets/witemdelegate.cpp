#include "widgets/witemdelegate.h"

WItemDelegate::WItemDelegate(QObject* parent)
    : QStyledItemDelegate(parent)
{
}

QSize WItemDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const
{
    return QSize(25, 25);
}
