#include "data/metadata.h"

MetaData::MetaData(QObject* parent)
    : QObject(parent)
{
}

void MetaData::add(const QString& label, const QString& key)
{
    pairs.append(qMakePair(label, key));
    labelToKey.insert(label, key);
    keyToLabel.insert(key, label);
}

QString MetaData::getLabel(const QString& key) const
{
    return keyToLabel.value(key);
}

QString MetaData::getKey(const QString& label) const
{
    return labelToKey.value(label);
}

int MetaData::getCount() const
{
    return pairs.size();
}

QList<QPair<QString, QString>> MetaData::getPairs() const
{
    return pairs;
}
