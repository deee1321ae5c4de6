#include "lists/mmembermodel.h"

MMemberModel::MMemberModel(QObject* parent)
    : RecordTableModel<MMember>(parent)
{
    populateModel();
}

MMemberModel::~MMemberModel() = default;

void MMemberModel::populateModel()
{
    headers = QStringList { tr("成员名称"), tr("成员说明") };
    rows = *MMember::get();
}

MMember* MMemberModel::getMember(int row) const
{
    return rows.value(row);
}

QString MMemberModel::text(const MMember* member, int column) const
{
    switch (column) {
    case 0:
        return member->getName();
    case 1:
        return member->getDescription();
    default:
        return QString();
    }
}
