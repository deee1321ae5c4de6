#pragma once

#include <QString>

// Times the synchronisation of a copy of the book at generated with a quorvane-service of its own on
// this machine: the first synchronisation, which uploads every bill, and then, runs times, one after
// 100 bills changed; prints both beside their SQLite floor, with the size of each upload.
void benchSync(const QString& generated, int bills, int runs);
