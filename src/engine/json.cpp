#include "engine/json.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

JSON::JSON(QObject* parent)
    : QObject(parent)
{
}

JSON* JSON::getInstance()
{
    static JSON* instance = new JSON(nullptr);
    return instance;
}

QJsonValue JSON::toJsonValue(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QVariantMap: {
        QJsonObject object;
        const QVariantMap map = value.toMap();
        for (auto it = map.constBegin(); it != map.constEnd(); ++it)
            object.insert(it.key(), toJsonValue(it.value()));
        return object;
    }
    case QMetaType::QVariantList: {
        QJsonArray array;
        for (const QVariant& element : value.toList())
            array.append(toJsonValue(element));
        return array;
    }
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
        return value.toDouble();
    case QMetaType::QString: {
        const QString text = value.toString();
        return text.isNull() ? QString(QLatin1String("")) : text;
    }
    case QMetaType::QByteArray: {
        QByteArray bytes = value.toByteArray();
        const qsizetype zero = bytes.indexOf('\0');
        if (zero >= 0)
            bytes.truncate(zero);
        return QString::fromLatin1(bytes);
    }
    case QMetaType::QDateTime:
        return value.toDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    default:
        return value.isValid() && !value.isNull() ? QJsonValue(QJsonObject()) : QJsonValue(QJsonValue::Null);
    }
}

QVariant JSON::toVariant(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Object: {
        QVariantMap map;
        const QJsonObject object = value.toObject();
        for (auto it = object.constBegin(); it != object.constEnd(); ++it)
            map.insert(it.key(), toVariant(it.value()));
        return map;
    }
    case QJsonValue::Array: {
        QVariantList list;
        for (const QJsonValue& element : value.toArray())
            list.append(toVariant(element));
        return list;
    }
    case QJsonValue::Bool:
        return value.toBool();
    case QJsonValue::Double:
        return value.toDouble();
    case QJsonValue::String:
        return value.toString();
    default:
        return QVariant();
    }
}

QString JSON::serialize(const QVariant& value) const
{
    return serialize(toJsonValue(value));
}

QString JSON::serialize(const QJsonValue& json) const
{
    // A document holds an array or an object; a lone value is written as the one element of an array.
    if (json.isObject())
        return QString::fromUtf8(QJsonDocument(json.toObject()).toJson(QJsonDocument::Compact));
    if (json.isArray())
        return QString::fromUtf8(QJsonDocument(json.toArray()).toJson(QJsonDocument::Compact));
    const QByteArray wrapped = QJsonDocument(QJsonArray { json }).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(wrapped.mid(1, wrapped.size() - 2));
}

QJsonValue JSON::parse(const QString& text) const
{
    // Wrapped in an array, so that any JSON value parses, not only objects and arrays.
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray("[") + text.toUtf8() + QByteArray("]"), &error);
    if (error.error != QJsonParseError::NoError || document.array().size() != 1)
        return QJsonObject();
    return document.array().at(0);
}

QVariantMap JSON::toMap(const QJsonValue& value)
{
    return value.isObject() ? toVariant(value).toMap() : QVariantMap();
}

QVariantMap JSON::parseMap(const QString& text) const
{
    return toMap(parse(text));
}
