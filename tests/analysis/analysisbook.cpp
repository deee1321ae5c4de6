#include "analysisbook.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

#include "analysis/reporthelper.h"
#include "analysis/waccountanalysis.h"
#include "analysis/wbillstat.h"
#include "analysis/wborroweranalysis.h"
#include "analysis/wcategoryanalysis.h"
#include "analysis/wmemberanalysis.h"

namespace {

void run(const QString& sql, const QVariantList& values)
{
    QSqlQuery query;
    query.prepare(sql);
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (!query.exec())
        QFAIL(qPrintable(sql + QStringLiteral(": ") + query.lastError().text()));
}

} // namespace

AnalysisBook::AnalysisBook()
    : env(new TestEnv)
{
    book.reset(new TestBook(env->dataDir() + QStringLiteral("analysis.db")));
    ReportHelper::setToday(&AnalysisBook::today);
}

AnalysisBook::~AnalysisBook()
{
    ReportHelper::setToday({});
    book.reset();
    env.reset();
}

bool AnalysisBook::isOpen() const
{
    return book->isOpen();
}

QString AnalysisBook::path() const
{
    return book->path();
}

void AnalysisBook::account(const QString& id, const QString& name, const QString& kind)
{
    run(QStringLiteral(
            "insert into tbl_account (id, name, kind, amount, description, sort) values (?, ?, ?, 0, '', 0)"),
        { id, name, kind });
}

void AnalysisBook::category(const QString& id, const QString& name, const QString& kind, const QString& parentId)
{
    if (parentId.isEmpty())
        run(QStringLiteral("insert into tbl_category (id, name, kind, description, sort) values (?, ?, ?, '', 0)"),
            { id, name, kind });
    else
        run(QStringLiteral("insert into tbl_sub_category (id, category_id, name, kind, description, sort) "
                           "values (?, ?, ?, ?, '', 0)"),
            { id, parentId, name, kind });
}

void AnalysisBook::borrower(const QString& id, const QString& name)
{
    run(QStringLiteral("insert into tbl_borrower (id, name, kind, description, sort) values (?, ?, '', '', 0)"),
        { id, name });
}

void AnalysisBook::member(const QString& id, const QString& name)
{
    run(QStringLiteral("insert into tbl_member (id, name, description, sort) values (?, ?, '', 0)"), { id, name });
}

void AnalysisBook::bill(const QString& kind, double amount, const QDate& date, const QVariantMap& columns)
{
    addBillRow(kind, amount, date, columns);
}

void AnalysisBook::accountsWithATransfer()
{
    account(QStringLiteral("a"), QStringLiteral("钱包"), QStringLiteral("cash"));
    account(QStringLiteral("b"), QStringLiteral("工资卡"), QStringLiteral("card"));
    account(QStringLiteral("c"), QStringLiteral("信用卡"), QStringLiteral("credit"));
    const QDate day(2013, 5, 10);
    const QString accountId = QStringLiteral("account_id");
    bill(QStringLiteral("transfer"), -100, day, { { accountId, "a" }, { QStringLiteral("to_account_id"), "b" } });
    bill(QStringLiteral("expense"), -12.5, day, { { accountId, "a" } });
    bill(QStringLiteral("income"), 1000, day, { { accountId, "b" } });
}

WAnalysisPage* makeAnalysisPage(const QString& name)
{
    if (name == QLatin1String("account"))
        return new WAccountAnalysis;
    if (name == QLatin1String("borrower"))
        return new WBorrowerAnalysis;
    if (name == QLatin1String("member"))
        return new WMemberAnalysis;
    if (name == QLatin1String("statistics"))
        return new WBillStat;
    return new WCategoryAnalysis;
}
