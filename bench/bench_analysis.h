#pragma once

#include <QString>
#include <functional>
#include <vector>

// The analyses on the generated books: their figures for a whole year and for all years and each
// page's refresh, beside the SQLite floor; then, in a process of its own (quorvane-analysis-memory),
// the resident memory at start-up and after the first chart and after a chart on every page.
// bookPath(bills) is the generated book of that size.
void benchAnalyses(const std::vector<int>& sizes, const std::function<QString(int bills)>& bookPath, int runs);
