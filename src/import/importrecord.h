#pragma once

#include <array>

#include <QString>

#include "import/columnrole.h"

// One bill as a file gives it, before it is read: the texts of its roles and the line it starts on.
struct ImportRecord {
    int line = 0;
    std::array<QString, ColumnRole::Borrower + 1> values;
    // Why the reader could not take the record apart (too few fields); empty when it could.
    QString problem;

    const QString& value(ColumnRole::Role role) const { return values[size_t(role)]; }
    void setValue(ColumnRole::Role role, const QString& text) { values[size_t(role)] = text; }
};
