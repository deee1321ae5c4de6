#pragma once

#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QString>

// An ordered table of (label, key) pairs: the vocabulary of one kind of thing. Records store the
// key ("cash"), the user sees the label ("现金").
class MetaData : public QObject
{
    Q_OBJECT

public:
    explicit MetaData(QObject* parent = nullptr);

    void add(const QString& label, const QString& key);
    QString getLabel(const QString& key) const;
    QString getKey(const QString& label) const;
    int getCount() const;
    QList<QPair<QString, QString>> getPairs() const;

private:
    QList<QPair<QString, QString>> pairs;
    QMap<QString, QString> labelToKey;
    QMap<QString, QString> keyToLabel;
};
