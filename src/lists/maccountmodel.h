#pragma once

#include "data/maccount.h"
#include "lists/recordtablemodel.h"

// The accounts of the book with their kind, initial amount and balance, followed by the total row
// "合计" that sums the initial amounts and the balances.
class MAccountModel : public RecordTableModel<MAccount> {
    Q_OBJECT

public:
    explicit MAccountModel(QObject* parent = nullptr);
    ~MAccountModel() override;

    // The account of row; null for the total row.
    MAccount* getAccount(int row) const;

protected:
    QString text(const MAccount* account, int column) const override;

private:
    void populateModel();

    MAccount total;
};
