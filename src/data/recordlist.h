#pragma once

#include <QList>
#include <QString>

// Lookups by id in the cached record lists: the first record with that id, or null / -1.
template <typename T> T* findById(const QList<T*>& records, const QString& id)
{
    for (T* record : records) {
        if (record->getId() == id)
            return record;
    }
    return nullptr;
}

template <typename T> int indexById(const QList<T*>& records, const QString& id)
{
    for (int i = 0; i < records.size(); ++i) {
        if (records.at(i)->getId() == id)
            return i;
    }
    return -1;
}
