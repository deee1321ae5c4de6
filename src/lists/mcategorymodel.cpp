#include "lists/mcategorymodel.h"

#include "data/constants.h"
#include "data/mcategory.h"
#include "data/metadata.h"

MCategoryModel::MCategoryModel(const QString& kind, QObject* parent)
    : QAbstractItemModel(parent)
    , kind(kind)
    , icon(QStringLiteral(":/rc/images/IcoCategory.png"))
{
    populateModel();
}

MCategoryModel::~MCategoryModel() = default;

void MCategoryModel::populateModel()
{
    headerList = QStringList { tr("分类名称"), tr("分类类型"), tr("分类说明") };
    topCategories = *MCategory::get(kind);
    for (int row = 0; row < topCategories.size(); ++row) {
        const MCategory* top = topCategories.at(row);
        const QList<MCategory*> children = top->getChildren();
        subCategories.insert(top, children);
        for (const MCategory* child : children)
            parentRows.insert(child, row);
    }
}

MCategory* MCategoryModel::getCategory(int row) const
{
    return topCategories.value(row);
}

const QList<MCategory*>& MCategoryModel::childrenOf(const QModelIndex& parent) const
{
    static const QList<MCategory*> none;
    if (!parent.isValid())
        return topCategories;
    const auto found = subCategories.constFind(static_cast<const MCategory*>(parent.internalPointer()));
    return found == subCategories.constEnd() ? none : found.value();
}

QModelIndex MCategoryModel::index(int row, int column, const QModelIndex& parent) const
{
    if (!hasIndex(row, column, parent))
        return QModelIndex();
    return createIndex(row, column, childrenOf(parent).at(row));
}

QModelIndex MCategoryModel::parent(const QModelIndex& index) const
{
    if (!index.isValid())
        return QModelIndex();
    const auto found = parentRows.constFind(static_cast<const MCategory*>(index.internalPointer()));
    if (found == parentRows.constEnd())
        return QModelIndex();
    return createIndex(found.value(), 0, topCategories.at(found.value()));
}

int MCategoryModel::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0)
        return 0;
    return int(childrenOf(parent).size());
}

int MCategoryModel::columnCount(const QModelIndex&) const
{
    return 3;
}

QVariant MCategoryModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return QVariant();
    const auto* category = static_cast<const MCategory*>(index.internalPointer());
    if (role == Qt::DecorationRole)
        return index.column() == 0 && rowCount(index) > 0 ? QVariant(icon) : QVariant();
    if (role != Qt::DisplayRole)
        return QVariant();
    switch (index.column()) {
    case 0:
        return category->getName();
    case 1:
        return Constants::getInstance()->getCategoryKinds()->getLabel(category->getKind());
    case 2:
        return category->getDescription();
    default:
        return QVariant();
    }
}

QVariant MCategoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < headerList.size())
        return headerList.at(section);
    return QAbstractItemModel::headerData(section, orientation, role);
}
