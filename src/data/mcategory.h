#pragma once

#include <limits>

#include <QList>
#include <QSqlDatabase>
#include <QString>

// A category of the two-level tree (rows of tbl_category and tbl_sub_category): a record is a
// sub-category exactly when its parent category id is not empty. The cached lists share their
// records; records handed out stay valid for the life of the process.
class MCategory
{
public:
    // sort of a record that nobody placed yet: insert puts it after its last sibling.
    static constexpr int SortNotSet = std::numeric_limits<int>::min();

    MCategory() = default;

    // Top categories ordered by sort: "expense" the expense ones, "income" every other kind,
    // anything else all of them. Each carries its sub-categories as children.
    static QList<MCategory*>* get(const QString& kind);
    // "" every sub-category; a top category's id its sub-categories; an id without any a new empty list.
    static QList<MCategory*>* getSubCategories(const QString& categoryId);
    static MCategory* getById(const QString& id);
    static MCategory* getSubCategoryById(const QString& id);
    // Position among its siblings: get(kind) for a top category, its parent's children for a
    // sub-category; -1 when absent.
    static int indexOf(const MCategory* category, const QString& kind);
    // Bills whose category_id (top category) or sub_category_id (sub-category) is the record's id.
    static int getBillCount(const MCategory* category);
    // Gives category a new id when it has none and, when its sort is not set, the place after its
    // last sibling (same kind for a top category, same parent for a sub-category). True when the
    // row was written.
    static bool insert(MCategory* category);
    // The same row write on another book's connection: no cache is touched, no signal is emitted.
    static bool insertRow(MCategory* category, const QSqlDatabase& db);
    // A sub-category moved to another top category takes its bills along. True when every
    // statement succeeded; on a failure nothing is changed.
    static bool update(const MCategory* category);
    // Deletes the row only: sub-categories and bills that name it stay.
    static bool remove(const MCategory* category);
    static void clearCache();

    QString getCategoryId() const { return categoryId; }
    void setCategoryId(const QString& value) { categoryId = value; }
    QString getId() const { return id; }
    void setId(const QString& value) { id = value; }
    QString getName() const { return name; }
    void setName(const QString& value) { name = value; }
    QString getKind() const { return kind; }
    void setKind(const QString& value) { kind = value; }
    QString getDescription() const { return description; }
    void setDescription(const QString& value) { description = value; }
    int getSort() const { return sort; }
    void setSort(int value) { sort = value; }
    MCategory* getParent() const { return parent; }
    void setParent(MCategory* value) { parent = value; }
    QList<MCategory*> getChildren() const { return children; }
    void addChild(MCategory* child) { children.append(child); }

private:
    bool isSubCategory() const { return !categoryId.isEmpty(); }

    QString categoryId = QStringLiteral("");
    QString id;
    QString name;
    QString kind;
    QString description;
    int sort = SortNotSet;
    MCategory* parent = nullptr;
    QList<MCategory*> children;
};
