#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include "import/importrecord.h"
#include "import/valueparser.h"

// Reads a QIF file: the sections of bank, cash, credit card and other asset and liability accounts
// (!Type:Bank, Cash, CCard, Oth A, Oth L), the !Account blocks that name the account of the
// sections after them, and each transaction's date (D), amount (T or U), payee (P), memo (M),
// category or [transfer account] (L), number (N), cleared mark (C) and splits (S, E, $), each
// split a bill of its own (what the parts leave of the total is one more part; a split whose parts
// cannot all be read is refused whole). A transfer between two accounts of the file appears in both
// accounts' sections, often on days apart: halves of the same accounts and amount within a few days
// are booked once.
class QifReader {
public:
    struct Result {
        QList<ImportRecord> records;
        // The kind of account ("card", "cash", "credit", "other") each named account's sections
        // are of, for accounts the import creates.
        QHash<QString, QString> accountKinds;
        // Transfers seen twice and booked once.
        int pairedTransfers = 0;
        // What the reader made of the file that the user should hear of, by line.
        QList<QPair<int, QString>> notes;
    };

    // True when text starts like a QIF file (its first line a "!Type:" or "!Account" or "!Option").
    static bool looksLikeQif(const QString& text);
    // The bills of text. Sections without an !Account block before them are booked on
    // defaultAccount. A transfer is turned around so that its amount is what leaves its account.
    // order reads the dates that pair transfer halves (Unknown: as the file's dates show).
    static Result read(const QString& text, const QString& defaultAccount,
        ValueParser::DateOrder order = ValueParser::DateOrder::Unknown);
};
