#pragma once

#include <QAbstractItemModel>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class MBill;

// The bill list's tree: one page of the bills that match a condition, grouped under a bold row
// per day that carries the date and the day's subtotals. Every index carries its MBill as internal
// pointer; day rows are MBills made by the model (isDayRow()), bill rows are the bill cache's own.
// A population asks the bill records for the number of bills and the bills of its page only, so
// that its cost does not grow with the book.
class MBillModel : public QAbstractItemModel {
public:
    // The columns of a bill row: what it is booked on (category, target account or borrower), kind
    // and amount, account, member, then title and description (a day row's subtotals stand there).
    enum Column { ReferenceColumn, AmountColumn, AccountColumn, MemberColumn, TextColumn, ColumnCount };

    explicit MBillModel(QObject* parent = nullptr);
    ~MBillModel() override;

    // Each of these repopulates. The page index is pulled back into range by the population.
    void setCondition(const QString& condition);
    void setPage(int index);
    void setPageSize(int size);
    // "first", "prev", "next" or "last" (any other word keeps the page); the page in force after.
    int gotoPage(const QString& which);
    void refresh();

    // Every bill of the condition, all pages, newest first (the export and the printout), read
    // when asked for: a population reads only the page it shows. It is the bill cache's list: do
    // not hold it across a write.
    QList<MBill*>* getBillList() const;
    // The number of bills of the condition, all pages.
    int getBillCount() const { return billCount; }
    int getPageCount() const { return pageCount; }
    int getPageIndex() const { return pageIndex; }
    int getPageSize() const { return pageSize; }
    QString getCondition() const { return condition; }
    MBill* getDayRow(int i) const;
    int getDayRowCount() const;

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    // Names of the reference records by id, built once per population (and again after a
    // reference list changed) so that painting a page never scans the lists.
    struct Names {
        QHash<QString, QString> accounts;
        QHash<QString, QString> categories;
        QHash<QString, QString> subCategories;
        QHash<QString, QString> borrowers;
        QHash<QString, QString> members;
    };

    void populateModel();
    void referencesChanged();
    const Names& names() const;
    QVariant dayData(MBill* day, int column, int role) const;
    QVariant billData(const MBill* bill, int column, int role) const;
    QString billText(const MBill* bill, int column) const;
    QString toolTip(const MBill* bill) const;
    QString subtotalLine(MBill* day) const;

    QStringList headerList;
    std::unique_ptr<MBill> root;
    bool populated = false;
    int billCount = 0;
    int pageSize = 20;
    int pageIndex = 0;
    int pageCount = 0;
    QString condition;
    // The day rows of the current page; those of the previous population go at the next one.
    std::vector<std::unique_ptr<MBill>> dayRows;
    mutable Names nameCache;
    mutable bool namesStale = true;
};
