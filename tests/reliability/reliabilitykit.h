#pragma once

#include <QMetaType>
#include <QString>
#include <QVariant>
#include <QtGlobal>

// Small helpers the reliability tests share.
namespace ReliabilityKit {

// A run's size or seed from the environment, or fallback when it is not set to a number.
inline int setting(const char* name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

// A column's value as the tests compare it: NULL as "", a real number in its shortest exact form.
inline QString text(const QVariant& value)
{
    if (value.isNull())
        return QString();
    if (value.typeId() == QMetaType::Double)
        return QString::number(value.toDouble(), 'g', 15);
    return value.toString();
}

} // namespace ReliabilityKit
