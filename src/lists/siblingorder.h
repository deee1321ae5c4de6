#pragma once

#include <QList>
#include <QSqlDatabase>

#include "data/sqltransaction.h"

class QPushButton;

// Moving a record among its siblings (accounts, borrowers, members, the top categories of a kind,
// the sub-categories of one top category). The two records exchange their sort values, so a move
// always changes places by one, whatever gaps the sorts have. When the siblings' sorts are not
// strictly increasing (ties from old books or other programs), they are first renumbered 1..n in
// the order shown, so that the result does not depend on how the book orders equal values.
// Every write goes through Record::update, which announces the change; all of them stand or
// fall together. siblings is a copy: each update empties the cached list in place.
template <typename Record> bool exchangeSorts(QList<Record*> siblings, int from, int to)
{
    if (from < 0 || to < 0 || from >= siblings.size() || to >= siblings.size() || from == to)
        return false;
    SqlTransaction transaction(QSqlDatabase::database(), QStringLiteral("quorvane_move"));
    bool ok = transaction.isActive();
    bool ordered = true;
    for (int i = 1; i < siblings.size(); ++i)
        ordered = ordered && siblings.at(i - 1)->getSort() < siblings.at(i)->getSort();
    for (int i = 0; ok && !ordered && i < siblings.size(); ++i) {
        Record* record = siblings.at(i);
        if (record->getSort() != i + 1) {
            record->setSort(i + 1);
            ok = Record::update(record);
        }
    }
    if (ok) {
        Record* moved = siblings.at(from);
        Record* neighbour = siblings.at(to);
        const int sort = moved->getSort();
        moved->setSort(neighbour->getSort());
        neighbour->setSort(sort);
        ok = Record::update(neighbour) && Record::update(moved);
    }
    ok = ok && transaction.commit();
    if (!ok) {
        transaction.rollback();
        // Whatever was loaded inside the failed transaction must not stay cached.
        Record::clearCache();
    }
    return ok;
}

// The enabled state of a page's move buttons for the record at position of count siblings
// (-1 when it is not among them).
void setMoveButtons(QPushButton* previous, QPushButton* next, int position, int count);
