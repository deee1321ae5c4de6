#pragma once

#include "data/mmember.h"
#include "lists/recordtablemodel.h"

// The members of the household with their descriptions.
class MMemberModel : public RecordTableModel<MMember> {
    Q_OBJECT

public:
    explicit MMemberModel(QObject* parent = nullptr);
    ~MMemberModel() override;

    MMember* getMember(int row) const;

protected:
    QString text(const MMember* member, int column) const override;

private:
    void populateModel();
};
