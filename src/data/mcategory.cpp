#include "data/mcategory.h"

#include <QDebug>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>

#include "data/mbill.h"
#include "data/notifier.h"
#include "data/recordarena.h"
#include "data/recordlist.h"
#include "data/sqlhelper.h"
#include "data/sqltransaction.h"
#include "data/logging.h"

namespace {

RecordArena<MCategory> records;
RecordArena<QList<MCategory*>> lists;
QList<MCategory*>* allCategories = nullptr;
QList<MCategory*>* expenseCategories = nullptr;
QList<MCategory*>* incomeCategories = nullptr;
QList<MCategory*>* allSubCategories = nullptr;
QHash<QString, QList<MCategory*>*> subCategoryMap;

void forget(QList<MCategory*>*& list)
{
    if (list) {
        list->clear();
        list = nullptr;
    }
}

} // namespace

QList<MCategory*>* MCategory::get(const QString& kind)
{
    if (!allCategories) {
        allCategories = lists.make();
        expenseCategories = lists.make();
        incomeCategories = lists.make();
        QSqlQuery query;
        query.setForwardOnly(true);
        if (query.exec(QStringLiteral("select id,name,kind,description,sort from tbl_category order by sort"))) {
            while (query.next()) {
                MCategory* category = records.make();
                category->id = query.value(0).toString();
                category->name = query.value(1).toString();
                category->kind = query.value(2).toString();
                category->description = query.value(3).toString();
                category->sort = query.value(4).toInt();
                for (MCategory* sub : *getSubCategories(category->id)) {
                    sub->parent = category;
                    category->children.append(sub);
                }
                allCategories->append(category);
                if (category->kind == QLatin1String("expense"))
                    expenseCategories->append(category);
                else
                    incomeCategories->append(category);
            }
        } else {
            qCWarning(lcSql) << "MCategory: cannot load categories:" << query.lastError().text();
        }
    }
    if (kind == QLatin1String("expense"))
        return expenseCategories;
    if (kind == QLatin1String("income"))
        return incomeCategories;
    return allCategories;
}

QList<MCategory*>* MCategory::getSubCategories(const QString& categoryId)
{
    if (!allSubCategories) {
        allSubCategories = lists.make();
        QSqlQuery query;
        query.setForwardOnly(true);
        if (query.exec(QStringLiteral(
                "select id,category_id,name,kind,description, sort  from tbl_sub_category order by sort"))) {
            while (query.next()) {
                MCategory* sub = records.make();
                sub->id = query.value(0).toString();
                sub->categoryId = query.value(1).toString();
                sub->name = query.value(2).toString();
                sub->kind = query.value(3).toString();
                sub->description = query.value(4).toString();
                sub->sort = query.value(5).toInt();
                allSubCategories->append(sub);
                QList<MCategory*>*& siblings = subCategoryMap[sub->categoryId];
                if (!siblings)
                    siblings = lists.make();
                siblings->append(sub);
            }
        } else {
            qCWarning(lcSql) << "MCategory: cannot load sub-categories:" << query.lastError().text();
        }
    }
    if (categoryId.isEmpty())
        return allSubCategories;
    // An id without sub-categories gets one empty list until the next reload, not a new one per
    // call: the bill dialog asks on every change of category.
    QList<MCategory*>*& siblings = subCategoryMap[categoryId];
    if (!siblings)
        siblings = lists.make();
    return siblings;
}

MCategory* MCategory::getById(const QString& id)
{
    return findById(*get(QString()), id);
}

MCategory* MCategory::getSubCategoryById(const QString& id)
{
    return findById(*getSubCategories(QString()), id);
}

int MCategory::indexOf(const MCategory* category, const QString& kind)
{
    if (!category->isSubCategory())
        return indexById(*get(kind), category->id);
    if (!category->parent)
        return -1;
    return indexById(category->parent->children, category->id);
}

int MCategory::getBillCount(const MCategory* category)
{
    const QString sql = category->isSubCategory()
        ? QStringLiteral("select count(*) from tbl_bill where sub_category_id=?")
        : QStringLiteral("select count(*) from tbl_bill where category_id=?");
    return sqlValue(QSqlDatabase::database(), sql, { category->id }, 0).toInt();
}

bool MCategory::insert(MCategory* category)
{
    const bool ok = insertRow(category, QSqlDatabase::database());
    clearCache();
    return ok;
}

bool MCategory::insertRow(MCategory* category, const QSqlDatabase& db)
{
    if (category->id.isEmpty())
        category->id = newRecordId();
    if (category->isSubCategory()) {
        if (category->sort == SortNotSet) {
            category->sort = sqlValue(db,
                QStringLiteral("select coalesce(max(sort),0)+1 from tbl_sub_category where category_id=?"),
                { category->categoryId }, 1)
                                 .toInt();
        }
        return execWrite(db,
            QStringLiteral("insert into tbl_sub_category (id,category_id, name,kind,description,sort)  values (?, ?, "
                           "?, ?, ?, ?) "),
            { category->id, category->categoryId, category->name, category->kind, category->description,
                category->sort });
    }
    if (category->sort == SortNotSet) {
        category->sort = sqlValue(
            db, QStringLiteral("select coalesce(max(sort),0)+1 from tbl_category where kind=?"), { category->kind }, 1)
                             .toInt();
    }
    return execWrite(db,
        QStringLiteral("insert into tbl_category (id, name,kind,description,sort)  values (?, ?, ?, ?, ?) "),
        { category->id, category->name, category->kind, category->description, category->sort });
}

bool MCategory::update(const MCategory* category)
{
    const QSqlDatabase db = QSqlDatabase::database();
    if (!category->isSubCategory()) {
        const bool ok = execWrite(db,
            QStringLiteral("update tbl_category set name = ? ,kind =? ,description=?,sort=? where id = ? "),
            { category->name, category->kind, category->description, category->sort, category->id });
        clearCache();
        return ok;
    }

    // The sub-category and its bills change together or not at all.
    SqlTransaction transaction(db);
    bool ok = transaction.isActive()
        && execWrite(db,
            QStringLiteral(
                "update tbl_sub_category set category_id=? , name = ? ,kind =? ,description=?,sort=? where id = ? "),
            { category->categoryId, category->name, category->kind, category->description, category->sort,
                category->id });
    const bool billsToMove = ok
        && sqlValue(db, QStringLiteral("select id from tbl_bill where category_id<>? and sub_category_id = ?"),
            { category->categoryId, category->id }, QVariant())
               .isValid();
    if (billsToMove) {
        ok = execWrite(db, QStringLiteral("update tbl_bill set category_id=? where sub_category_id = ? "),
            { category->categoryId, category->id });
    }
    ok = ok && transaction.commit();
    if (!ok)
        transaction.rollback();
    if (billsToMove) {
        MBill::clearCache();
        Notifier::getInstance()->notifyBillDataChanged();
    }
    clearCache();
    return ok;
}

bool MCategory::remove(const MCategory* category)
{
    const bool ok = deleteWithTombstone(
        category->isSubCategory() ? QStringLiteral("tbl_sub_category") : QStringLiteral("tbl_category"), category->id);
    clearCache();
    return ok;
}

void MCategory::clearCache()
{
    forget(expenseCategories);
    forget(incomeCategories);
    forget(allCategories);
    forget(allSubCategories);
    // The per-category lists are not emptied: whoever holds one keeps seeing its records.
    subCategoryMap.clear();
    Notifier::getInstance()->notifyCategoryDataChanged();
}
