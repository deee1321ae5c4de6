#pragma once

#include <QByteArray>
#include <QFile>
#include <QMetaType>
#include <QRandomGenerator>
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

// The whole content of the file at path; "<missing>" when it cannot be read, so that a file that is
// gone never compares equal to an empty one.
inline QByteArray bytesOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// size bytes of noise, the same for the same seed.
inline QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, '\0');
    for (char& byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

} // namespace ReliabilityKit
