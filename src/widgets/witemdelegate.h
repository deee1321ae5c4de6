#pragma once

#include <QStyledItemDelegate>

// Gives every item the size hint 25 × 25, so all rows of a view that uses it are 25 pixels high.
// Pass the view as parent so the delegate goes with it; views do not own their delegates.
class WItemDelegate : public QStyledItemDelegate {
public:
    explicit WItemDelegate(QObject* parent = nullptr);

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
