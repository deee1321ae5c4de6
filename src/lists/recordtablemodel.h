#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>

// The read-only snapshot table behind the account, borrower and member pages: one row per record
// as the record list was when the model was made, the record as each index's internal pointer,
// display texts only. A page makes a new model whenever the list may have changed.
template <typename Record> class RecordTableModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override
    {
        if (!hasIndex(row, column, parent))
            return QModelIndex();
        return createIndex(row, column, rows.at(row));
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : int(rows.size());
    }

    int columnCount(const QModelIndex& = QModelIndex()) const override { return int(headers.size()); }

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override
    {
        if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
            return QVariant();
        return text(rows.at(index.row()), index.column());
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override
    {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < headers.size())
            return headers.at(section);
        return QAbstractTableModel::headerData(section, orientation, role);
    }

protected:
    // The text shown for record in column.
    virtual QString text(const Record* record, int column) const = 0;

    QStringList headers;
    QList<Record*> rows;
};
