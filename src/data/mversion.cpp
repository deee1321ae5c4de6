#include "data/mversion.h"

MVersion::MVersion(QObject* parent)
    : QObject(parent)
{
}
