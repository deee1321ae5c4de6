#pragma once

#include <QString>

// Sums of money are shown and compared in cents: float noise must never show as "-0.00" or turn a
// zero change into "+0.00". Stored amounts stay doubles.
double roundToCents(double amount);
// Two decimals, a point, no grouping, a "-" for negative amounts (never for zero).
QString formatMoney(double amount);
