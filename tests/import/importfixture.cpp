#include "importfixture.h"

#include "data/constants.h"
#include "data/dbhelper.h"
#include "data/maccount.h"

ImportFixture::ImportFixture()
{
    path = env.dataDir() + QStringLiteral("Quorvane.db");
    Constants::getInstance()->setBookName(QStringLiteral("Quorvane.db"));
    ready = TestBook::copyTemplate(path) && TestBook::openDefault(path) && DBHelper::getInstance()->upgrade()
        && DBHelper::getInstance()->initDefaultData(QString());
    TestBook::resetRecordCaches();
}

QString ImportFixture::fixture(const QString& name)
{
    return QStringLiteral(QUORVANE_IMPORT_FIXTURES "/") + name;
}

bool ImportFixture::read(const QString& file, const ImportSource::Settings& settings, ValueParser::DateOrder order)
{
    error.clear();
    plan.reset(new ImportPlan);
    ImportSource::Settings used = settings;
    if (used.dateOrder == ValueParser::DateOrder::Unknown)
        used.dateOrder = order;
    if (!source.load(file, &error) || !source.parse(used, &error))
        return false;
    plan->build(source, order, settings.defaultAccount);
    return true;
}

bool ImportFixture::book(ImportPlan::Summary* summary)
{
    error.clear();
    return plan->book(summary, &error);
}

double ImportFixture::balance(const QString& accountName)
{
    for (const MAccount* account : *MAccount::get()) {
        if (account->getName() == accountName)
            return account->getBalance();
    }
    return -999999;
}

int ImportFixture::count(const QString& table)
{
    return scalar(QStringLiteral("select count(*) from ") + table).toInt();
}
