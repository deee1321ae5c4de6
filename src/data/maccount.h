#pragma once

#include <limits>

#include <QList>
#include <QSqlDatabase>
#include <QString>

// An account of the book (a row of tbl_account) and the cached list of all accounts with their
// balances. Records handed out stay valid for the life of the process; a reload makes new ones.
class MAccount
{
public:
    // sort of a record that nobody placed yet: insert puts it after the last account.
    static constexpr int SortNotSet = std::numeric_limits<int>::min();

    MAccount() = default;

    // All accounts ordered by sort, with balances. The list stays the class's; do not hold it
    // across a write.
    static QList<MAccount*>* get();
    // balance = amount + bills booked on the account - bills transferred to it, for every cached account.
    static void calculateBalance();
    static MAccount* getById(const QString& id);
    // Position of the account with account's id in get(), or -1.
    static int indexOf(const MAccount* account);
    // Gives account a new id when it has none and, when its sort is not set, the place after the
    // last account; both are left in account. True when the row was written.
    static bool insert(MAccount* account);
    // The same row write on another book's connection: no cache is touched, no signal is emitted.
    static bool insertRow(MAccount* account, const QSqlDatabase& db);
    static bool update(const MAccount* account);
    static bool remove(const QString& id);
    // Bills that name the account, as their own or as a transfer's target.
    static int getBillCount(const QString& id);
    static void clearCache();

    QString getId() const { return id; }
    void setId(const QString& value) { id = value; }
    QString getName() const { return name; }
    void setName(const QString& value) { name = value; }
    QString getKind() const { return kind; }
    void setKind(const QString& value) { kind = value; }
    double getAmount() const { return amount; }
    void setAmount(double value) { amount = value; }
    QString getDescription() const { return description; }
    void setDescription(const QString& value) { description = value; }
    int getSort() const { return sort; }
    void setSort(int value) { sort = value; }
    double getBalance() const { return balance; }
    void setBalance(double value) { balance = value; }

private:
    QString id;
    QString name;
    QString kind;
    double amount = 0;
    QString description;
    int sort = SortNotSet;
    double balance = 0;
};
