#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The cells of an exported file's table, row by row, as an XML reader of the page reads them. A
// file that is not well-formed gives its error in *error (when given) and the rows read until then.
QList<QStringList> exportedTable(const QString& path, QString* error = nullptr);
