#include "lists/mborrowermodel.h"

#include "data/money.h"

MBorrowerModel::MBorrowerModel(QObject* parent)
    : RecordTableModel<MBorrower>(parent)
{
    populateModel();
}

MBorrowerModel::~MBorrowerModel() = default;

void MBorrowerModel::populateModel()
{
    headers = QStringList { tr("借款人名称"), tr("余额"), tr("借款人说明") };
    rows = *MBorrower::get(QString());
}

MBorrower* MBorrowerModel::getBorrower(int row) const
{
    return rows.value(row);
}

QString MBorrowerModel::text(const MBorrower* borrower, int column) const
{
    switch (column) {
    case 0:
        return borrower->getName();
    case 1:
        return formatMoney(borrower->getBalance());
    case 2:
        return borrower->getDescription();
    default:
        return QString();
    }
}
