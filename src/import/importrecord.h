#pragma once

#include <array>
#include <memory>

#include <QString>
#include <QStringList>

#include "import/columnrole.h"

// One bill as a file gives it, before it is read: its fields, which field holds which role, and the
// line it starts on. The fields are the file's own (shared, not copied); records of one file share
// one column map.
struct ImportRecord {
    // The field of each role, or -1.
    using Columns = std::array<int, ColumnRole::Borrower + 1>;

    int line = 0;
    // The records of one QIF split share a number above 0: they are booked all or none.
    int group = 0;
    QStringList fields;
    std::shared_ptr<const Columns> columns;
    // Why the reader could not take the record apart (too few fields); empty when it could.
    QString problem;

    const QString& value(ColumnRole::Role role) const
    {
        static const QString none;
        const int column = columns ? (*columns)[size_t(role)] : -1;
        return column >= 0 && column < fields.size() ? fields.at(column) : none;
    }
    // A record whose fields are in the roles' own order (the QIF reader's).
    static std::shared_ptr<const Columns> byRole()
    {
        static const std::shared_ptr<const Columns> identity = [] {
            auto columns = std::make_shared<Columns>();
            for (size_t i = 0; i < columns->size(); ++i)
                (*columns)[i] = int(i);
            return columns;
        }();
        return identity;
    }
    void setValue(ColumnRole::Role role, const QString& text)
    {
        if (!columns)
            columns = byRole();
        while (fields.size() <= int(role))
            fields.append(QString());
        fields[int(role)] = text;
    }
};
