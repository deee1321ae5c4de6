#pragma once

#include <QDate>
#include <QString>
#include <QVariantMap>
#include <memory>

#include "testenv.h"

class WAnalysisPage;

// A private program folder with an empty book (the template, no default records) open as the
// default connection, and the clock of the analyses fixed on 20 May 2013. Records and bills are
// written with plain SQL, so that a test sees exactly the rows it made.
class AnalysisBook {
public:
    AnalysisBook();
    ~AnalysisBook();

    static QDate today() { return QDate(2013, 5, 20); }
    bool isOpen() const;
    QString path() const;

    void account(const QString& id, const QString& name, const QString& kind = QStringLiteral("cash"));
    void category(const QString& id, const QString& name, const QString& kind, const QString& parentId = QString());
    void borrower(const QString& id, const QString& name);
    void member(const QString& id, const QString& name);
    // A bill of kind and amount (stored as given) on date; columns adds or overrides columns, e.g.
    // { "category_id", "01" } or { "month", 0 }.
    void bill(const QString& kind, double amount, const QDate& date, const QVariantMap& columns = {});

    // Three accounts: "a" 钱包 (cash), "b" 工资卡 (card), "c" 信用卡 (credit); on 10 May 2013 a transfer
    // of 100 from a to b, an expense of 12.50 from a and an income of 1000 into b.
    void accountsWithATransfer();

private:
    std::unique_ptr<TestEnv> env;
    std::unique_ptr<TestBook> book;
};

// A new analysis page by name: "category", "account", "borrower", "member" or "statistics".
WAnalysisPage* makeAnalysisPage(const QString& name);
