#pragma once

#include <limits>

#include <QList>
#include <QSqlDatabase>
#include <QString>

// A borrower, the other party of loan bills (a row of tbl_borrower), and the cached list of all
// borrowers with their balances. Records handed out stay valid for the life of the process.
class MBorrower
{
public:
    // sort of a record that nobody placed yet: insert puts it after the last borrower.
    static constexpr int SortNotSet = std::numeric_limits<int>::min();

    MBorrower() = default;

    // All borrowers ordered by sort, with balances; the argument plays no part.
    static QList<MBorrower*>* get(const QString& unused = QString());
    // balance = the sum of the borrower's bills, for every cached borrower.
    static void calculateBalance();
    static MBorrower* getById(const QString& id);
    static int indexOf(const MBorrower* borrower);
    // Gives borrower a new id when it has none and, when its sort is not set, the place after the
    // last borrower. The kind column is left NULL. True when the row was written.
    static bool insert(MBorrower* borrower);
    // The same row write on another book's connection: no cache is touched, no signal is emitted.
    static bool insertRow(MBorrower* borrower, const QSqlDatabase& db);
    // Writes name, description and sort; the kind column keeps what the row had.
    static bool update(const MBorrower* borrower);
    static bool remove(const QString& id);
    static int getBillCount(const QString& id);
    static void clearCache();

    QString getId() const { return id; }
    void setId(const QString& value) { id = value; }
    QString getName() const { return name; }
    void setName(const QString& value) { name = value; }
    double getBalance() const { return balance; }
    void setBalance(double value) { balance = value; }
    QString getDescription() const { return description; }
    void setDescription(const QString& value) { description = value; }
    int getSort() const { return sort; }
    void setSort(int value) { sort = value; }

private:
    QString id;
    QString name;
    double balance = 0;
    QString description;
    int sort = SortNotSet;
};
