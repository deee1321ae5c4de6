#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// What a column of a CSV file holds, and the words for it on the command line and in the dialog.
class ColumnRole {
public:
    enum Role {
        Skip,
        Date,
        Amount,
        Income,
        Expense,
        InOut,
        Account,
        ToAccount,
        Category,
        SubCategory,
        Member,
        Title,
        Description,
        Borrower,
    };

    // Every role, Skip first.
    static QList<Role> all();
    // The command line's word: "date", "amount", "income", "expense", "inout", "account",
    // "to-account", "category", "subcategory", "member", "title", "description", "borrower", "-".
    static QString key(Role role);
    // The dialog's name for it.
    static QString label(Role role);
    // A comma-separated list of words, one per column. False, with the word it did not know in
    // *error, when a word is no role or a role other than "-" comes twice.
    static bool parseList(const QString& text, QList<Role>* roles, QString* error);
    static QString toList(const QList<Role>& roles);
};
