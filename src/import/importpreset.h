#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "import/columnrole.h"

// A known layout of a CSV file: the column headings of another program's export, of this
// program's own or of a bank statement, and the role each heading stands for.
class ImportPreset {
public:
    QString key;
    QString label;
    QList<QPair<QString, ColumnRole::Role>> headings;

    // This program's export, a generic bank or payment statement, then the other programs'.
    static QList<ImportPreset> all();
    // The preset of key ("quorvane", "bank", "homebank", "gnucash", "kmymoney", "mmex", "skrooge"),
    // or null.
    static const ImportPreset* find(const QString& key);

    // The roles of the columns of header as this preset names them; Skip for a heading it does not
    // know, and for a second column of a role already taken. *matched counts the headings known.
    QList<ColumnRole::Role> rolesFor(const QStringList& header, int* matched = nullptr) const;
    // The roles of header by the preset that knows most of its headings (its key in *presetKey),
    // every preset's headings helping out with the columns it leaves. Empty when no heading is known.
    static QList<ColumnRole::Role> guess(const QStringList& header, QString* presetKey = nullptr);

private:
    static QString normalHeading(const QString& heading);
};
