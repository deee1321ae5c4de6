#include "lists/maccountmodel.h"

#include "data/constants.h"
#include "data/metadata.h"
#include "data/money.h"

MAccountModel::MAccountModel(QObject* parent)
    : RecordTableModel<MAccount>(parent)
{
    populateModel();
}

MAccountModel::~MAccountModel() = default;

void MAccountModel::populateModel()
{
    headers = QStringList { tr("账户名称"), tr("账户类型"), tr("初始金额"), tr("账户余额"), tr("账户说明") };
    rows = *MAccount::get();
    total.setName(tr("合计"));
    double amount = 0;
    double balance = 0;
    for (const MAccount* account : std::as_const(rows)) {
        amount += account->getAmount();
        balance += account->getBalance();
    }
    total.setAmount(amount);
    total.setBalance(balance);
    rows.append(&total);
}

MAccount* MAccountModel::getAccount(int row) const
{
    if (row < 0 || row >= rows.size() - 1)
        return nullptr;
    return rows.at(row);
}

QString MAccountModel::text(const MAccount* account, int column) const
{
    switch (column) {
    case 0:
        return account->getName();
    case 1:
        return Constants::getInstance()->getAccountKinds()->getLabel(account->getKind());
    case 2:
        return formatMoney(account->getAmount());
    case 3:
        return formatMoney(account->getBalance());
    case 4:
        return account->getDescription();
    default:
        return QString();
    }
}
