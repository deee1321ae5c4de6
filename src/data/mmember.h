#pragma once

#include <limits>

#include <QList>
#include <QSqlDatabase>
#include <QString>

// A member of the household to whom bills are attributed (a row of tbl_member), and the cached
// list of all members. Records handed out stay valid for the life of the process.
class MMember
{
public:
    // sort of a record that nobody placed yet: insert puts it after the last member.
    static constexpr int SortNotSet = std::numeric_limits<int>::min();

    MMember() = default;

    // All members ordered by sort. The list stays the class's; do not hold it across a write.
    static QList<MMember*>* get();
    static MMember* getById(const QString& id);
    static int indexOf(const MMember* member);
    // Gives member a new id when it has none and, when its sort is not set, the place after the
    // last member. True when the row was written.
    static bool insert(MMember* member);
    // The same row write on another book's connection: no cache is touched, no signal is emitted.
    static bool insertRow(MMember* member, const QSqlDatabase& db);
    static bool update(const MMember* member);
    static bool remove(const QString& id);
    static int getBillCount(const QString& id);
    static void clearCache();

    QString getId() const { return id; }
    void setId(const QString& value) { id = value; }
    QString getName() const { return name; }
    void setName(const QString& value) { name = value; }
    QString getDescription() const { return description; }
    void setDescription(const QString& value) { description = value; }
    int getSort() const { return sort; }
    void setSort(int value) { sort = value; }

private:
    QString id;
    QString name;
    QString description;
    int sort = SortNotSet;
};
