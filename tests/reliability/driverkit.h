#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// What the drivers of the reliability tests share: the lines they tell the test what they do in, and
// what a process that dies in the middle of a large write leaves behind.
namespace DriverKit {

// Writes text and a line break to the standard output in one write: a line shorter than the pipe's
// buffer arrives whole or not at all, and a longer one that a kill cuts short has no line end, so
// the reader drops it.
void say(const QByteArray& text);
// object as one line of JSON.
QByteArray compact(const QJsonObject& object);

// Writes part of a large transaction into the book at path, so that the rollback journal beside it
// is hot and the file holds half of the write, and then kills the process (SIGKILL).
[[noreturn]] void tearAndDie(const QString& path);

} // namespace DriverKit
