#pragma once

#include <QJsonValue>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantMap>

// JSON text to and from the program's variant data, with the texts ECMAScript's JSON.stringify gives:
// compact, object keys in ascending order, texts escaped the same way.
class JSON : public QObject {
    Q_OBJECT

public:
    static JSON* getInstance();

    // A map becomes an object, a list an array, a bool or number itself, a text a string (a null
    // text ""), bytes a string of their Latin-1 characters up to the first zero byte, a date-time
    // "yyyy-MM-dd hh:mm:ss" as it stands; an invalid variant null, anything else an empty object.
    static QJsonValue toJsonValue(const QVariant& value);
    // The other way: objects as maps, arrays as lists, every number a double, null an invalid variant.
    static QVariant toVariant(const QJsonValue& value);
    // An object as a map; any other value gives an empty map.
    static QVariantMap toMap(const QJsonValue& value);

    QString serialize(const QVariant& value) const;
    QString serialize(const QJsonValue& value) const;
    // What JSON.parse makes of text: any JSON value; text that is not JSON gives an empty object.
    QJsonValue parse(const QString& text) const;
    // toMap() of parse().
    QVariantMap parseMap(const QString& text) const;

private:
    explicit JSON(QObject* parent = nullptr);
};
