#include "lists/listpage.h"

#include <QHeaderView>
#include <QPushButton>
#include <QTableView>
#include <QTreeView>

void styleListButtons(const QList<QPushButton*>& green, const QList<QPushButton*>& blue)
{
    for (QPushButton* button : green)
        button->setProperty("style", QStringLiteral("green"));
    for (QPushButton* button : blue)
        button->setProperty("style", QStringLiteral("blue"));
}

void setColumnWidths(QAbstractItemView* view, const QList<int>& widths)
{
    QHeaderView* header = nullptr;
    if (auto* table = qobject_cast<QTableView*>(view))
        header = table->horizontalHeader();
    else if (auto* tree = qobject_cast<QTreeView*>(view))
        header = tree->header();
    if (!header)
        return;
    for (int column = 0; column < widths.size(); ++column)
        header->resizeSection(column, widths.at(column));
}
