#include "data/money.h"

#include <cmath>

double roundToCents(double amount)
{
    const double rounded = std::round(amount * 100.0) / 100.0;
    return rounded == 0.0 ? 0.0 : rounded; // no negative zero
}

QString formatMoney(double amount)
{
    return QString::number(roundToCents(amount), 'f', 2);
}
