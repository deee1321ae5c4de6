#include "data/scopedumask.h"

#include <sys/stat.h>

ScopedUmask::ScopedUmask(unsigned mask)
    : previous(::umask(mode_t(mask)))
{
}

ScopedUmask::~ScopedUmask()
{
    ::umask(mode_t(previous));
}
