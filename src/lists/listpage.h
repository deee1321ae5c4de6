#pragma once

#include <QAbstractItemView>
#include <QItemSelectionModel>
#include <QList>

class QDialog;
class QPushButton;

// Small pieces the reference list pages share.

// The page's create button(s) drawn green, the other command buttons blue.
void styleListButtons(const QList<QPushButton*>& green, const QList<QPushButton*>& blue);
// Column widths in pixels, from the first column on. A new model resets a header's sections, so
// pages apply them after every model they set.
void setColumnWidths(QAbstractItemView* view, const QList<int>& widths);

// Shows model in view and frees oldModel and the selection model that went with it: a view frees
// neither. Returns model.
template <typename Model> Model* replaceModel(QAbstractItemView* view, QAbstractItemModel* oldModel, Model* model)
{
    QItemSelectionModel* oldSelection = view->selectionModel();
    view->setModel(model);
    // Later: the view may be inside one of its own signals (a double click) that still holds
    // indexes of the old model.
    if (oldSelection)
        oldSelection->deleteLater();
    if (oldModel)
        oldModel->deleteLater();
    return model;
}

// Each command makes its own dialog; the one before is closed by then and no longer needed.
template <typename Dialog> Dialog* replaceDialog(Dialog* old, Dialog* made)
{
    delete old;
    return made;
}
