#pragma once

#include <QDateTime>

// A clock of the test's own for SQLite and the synchronisation: the system's time moved by an
// offset. Once installed, CURRENT_TIMESTAMP on every connection this process opens reads it (through
// a VFS that is the system's own but for its clock), and so do the synchronisation's start and client
// times. tick() moves it to the middle of the next second, so that everything written after a tick
// has a version of its own, a second after everything before.
namespace SqliteClock {

bool install();
QDateTime now();
// The time after the tick, to the second, as the books stamp it.
QString tick();
// Sets the clock to the system's time and ms more (or less), as a clock set by hand or by a time
// service jumps, and tells the offset it has.
void setOffset(qint64 ms);
qint64 offset();

} // namespace SqliteClock
