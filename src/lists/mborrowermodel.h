#pragma once

#include "data/mborrower.h"
#include "lists/recordtablemodel.h"

// The borrowers of the book with their balances (the sum of their bills).
class MBorrowerModel : public RecordTableModel<MBorrower> {
    Q_OBJECT

public:
    explicit MBorrowerModel(QObject* parent = nullptr);
    ~MBorrowerModel() override;

    MBorrower* getBorrower(int row) const;

protected:
    QString text(const MBorrower* borrower, int column) const override;

private:
    void populateModel();
};
