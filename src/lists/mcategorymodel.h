#pragma once

#include <QAbstractItemModel>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QStringList>

class MCategory;

// The categories of one kind as a two-level tree: the top categories, each with its
// sub-categories, in three read-only columns (name, kind, description). A snapshot of the
// category lists as they were when the model was made; the model keeps its own lists and never
// writes into the shared records, so any number of models can be shown at once. Each index
// carries its MCategory as internal pointer.
class MCategoryModel : public QAbstractItemModel {
    Q_OBJECT

public:
    // kind: "expense" or "income"; anything else lists the top categories of both kinds.
    explicit MCategoryModel(const QString& kind, QObject* parent = nullptr);
    ~MCategoryModel() override;

    // The top category of row, or null.
    MCategory* getCategory(int row) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    void populateModel();
    const QList<MCategory*>& childrenOf(const QModelIndex& parent) const;

    QString kind;
    QStringList headerList;
    QIcon icon;
    QList<MCategory*> topCategories;
    QHash<const MCategory*, QList<MCategory*>> subCategories;
    // The row of its top category, for every sub-category shown.
    QHash<const MCategory*, int> parentRows;
};
