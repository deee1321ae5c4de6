#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "data/constants.h"
#include "data/filesetting.h"
#include "data/metadata.h"
#include "data/settingkeys.h"
#include "testenv.h"

class TestConstants : public QObject
{
    Q_OBJECT

private slots:
    void directories_data();
    void directories();
    void missingDirectoriesAreCreated();
    void createdFoldersAreTheOwnersAlone();
    void installedMeansBelowThePrefix_data();
    void installedMeansBelowThePrefix();
    void kindTables();
    void metaDataKeepsDuplicates();
    void bookNameDefaultsWithoutWritingTheIni();
    void bookIsRememberedInTheIniOnlyWhenAsked();
    void rememberedNameThatIsNoPlainFileName_data();
    void rememberedNameThatIsNoPlainFileName();
    void bookNamesAreChecked_data();
    void bookNamesAreChecked();
    void baseUrlHonoursTheEnvironment();
    void oneRuleForFoldersAndAddress_data();
    void oneRuleForFoldersAndAddress();
};

void TestConstants::directories_data()
{
    QTest::addColumn<bool>("installed");
    QTest::addColumn<QString>("dbDir");
    QTest::addColumn<QString>("settingDir");
    QTest::addColumn<QString>("backupDir");
    QTest::newRow("installed") << true << "docs/quorvane/" << "config/Quorvane/" << "docs/quorvane/backup/";
    QTest::newRow("run from its folder") << false << "app/data/" << "app/data/" << "app/data/backup/";
}

void TestConstants::directories()
{
    QFETCH(bool, installed);
    QFETCH(QString, dbDir);
    QFETCH(QString, settingDir);
    QFETCH(QString, backupDir);
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString root = tmp.path() + QLatin1Char('/');
    Constants constants(Constants::Roots { root + "app", installed, root + "docs", root + "config" });
    QCOMPARE(constants.getDbDir(), QDir::toNativeSeparators(root + dbDir));
    QCOMPARE(constants.getSettingDir(), QDir::toNativeSeparators(root + settingDir));
    QCOMPARE(constants.getBackupDir(), QDir::toNativeSeparators(root + backupDir));
}

void TestConstants::missingDirectoriesAreCreated()
{
    QTemporaryDir tmp;
    const QString docs = tmp.path() + "/deep/er/docs";
    Constants constants(Constants::Roots { tmp.path() + "/app", true, docs, tmp.path() + "/cfg" });
    QVERIFY(QFileInfo(constants.getDbDir()).isDir());
    QVERIFY(QFileInfo(constants.getBackupDir()).isDir());
    QVERIFY(QFileInfo(constants.getSettingDir()).isDir());

    // Existing folders and what is in them stay as they are.
    QFile marker(constants.getBackupDir() + "keep.db");
    QVERIFY(marker.open(QIODevice::WriteOnly));
    marker.close();
    Constants again(Constants::Roots { tmp.path() + "/app", true, docs, tmp.path() + "/cfg" });
    QVERIFY(QFileInfo::exists(again.getBackupDir() + "keep.db"));
}

void TestConstants::createdFoldersAreTheOwnersAlone()
{
    QTemporaryDir tmp;
    ScopedUmask careless(0);
    const Constants installed(
        Constants::Roots { tmp.path() + "/app", true, tmp.path() + "/home/docs", tmp.path() + "/home/cfg" });
    const Constants portable(Constants::Roots { tmp.path() + "/portable", false, QString(), QString() });
    const QFile::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
        | QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;
    for (const QString& dir : { installed.getDbDir(), installed.getBackupDir(), installed.getSettingDir(),
             tmp.path() + "/home", portable.getDbDir(), portable.getBackupDir() })
        QCOMPARE(QFileInfo(dir).permissions(), ownerOnly);
}

void TestConstants::installedMeansBelowThePrefix_data()
{
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<bool>("below");
    QTest::newRow("bin below prefix") << "/usr/local/bin" << "/usr/local" << true;
    QTest::newRow("prefix itself") << "/usr/local" << "/usr/local/" << true;
    QTest::newRow("build tree") << "/home/me/quorvane/build" << "/usr/local" << false;
    QTest::newRow("same start, other folder") << "/usr/localized/bin" << "/usr/local" << false;
    QTest::newRow("other case") << "/USR/LOCAL/bin" << "/usr/local" << false;
    QTest::newRow("empty prefix") << "/usr/bin" << "" << false;
}

void TestConstants::installedMeansBelowThePrefix()
{
    QFETCH(QString, dir);
    QFETCH(QString, prefix);
    QFETCH(bool, below);
    QCOMPARE(Constants::isBelow(dir, prefix), below);
}

void TestConstants::kindTables()
{
    TestEnv env;
    Constants* c = Constants::getInstance();
    QCOMPARE(c->getBillKinds()->getLabel("repay"), QString("还款"));
    QCOMPARE(c->getBillKinds()->getLabel("transfer"), QString("转账"));
    QCOMPARE(c->getLoanKinds()->getLabel("transfer"), QString());
    QCOMPARE(c->getAccountKinds()->getKey("现金"), QString("cash"));
    QCOMPARE(c->getAccountKinds()->getKey("x"), QString());
    QCOMPARE(c->getBorrowerKinds()->getLabel("debtor"), QString("债务人"));
    QCOMPARE(c->getCategoryKinds()->getCount(), 2);

    QStringList accountKeys;
    for (const auto& pair : c->getAccountKinds()->getPairs())
        accountKeys << pair.second;
    QCOMPARE(accountKeys, QStringList({ "cash", "card", "credit", "fund", "stock", "other" }));

    // The bill kinds are the category kinds, then transfer, then the loan kinds, each with the same
    // label as in its own table.
    const auto bills = c->getBillKinds()->getPairs();
    QCOMPARE(bills.size(), 7);
    auto expected = c->getCategoryKinds()->getPairs();
    expected.append(qMakePair(QString("转账"), QString("transfer")));
    expected.append(c->getLoanKinds()->getPairs());
    QCOMPARE(bills, expected);

    QCOMPARE(c->getVersion(), QString("1.6"));
    QCOMPARE(c->getVersionCode(), 38);
}

void TestConstants::metaDataKeepsDuplicates()
{
    MetaData table;
    table.add("A", "k1");
    table.add("A", "k2");
    QCOMPARE(table.getCount(), 2);
    QCOMPARE(table.getKey("A"), QString("k2"));
    QCOMPARE(table.getLabel("k1"), QString("A"));
    QCOMPARE(table.getLabel("k2"), QString("A"));
}

void TestConstants::bookNameDefaultsWithoutWritingTheIni()
{
    TestEnv env;
    QCOMPARE(Constants::getInstance()->getBookName(), QString("Quorvane.db"));
    FileSetting::getInstance()->sync();
    QSettings ini(env.iniPath(), QSettings::IniFormat);
    QVERIFY(!ini.contains(SettingKeys::LastBook));
}

void TestConstants::bookIsRememberedInTheIniOnlyWhenAsked()
{
    TestEnv env;
    FileSetting::getInstance()->setValue(SettingKeys::LastBook, "earlier.db");
    // Choosing the book is not opening it: what the INI remembers stays until the book has opened.
    QVERIFY(Constants::getInstance()->setBookName("家庭.db"));
    QCOMPARE(Constants::getInstance()->getBookName(), QString("家庭.db"));
    QCOMPARE(FileSetting::getInstance()->value(SettingKeys::LastBook).toString(), QString("earlier.db"));
    Constants::getInstance()->rememberBook();
    QVERIFY(FileSetting::getInstance()->sync());
    QSettings ini(env.iniPath(), QSettings::IniFormat);
    QCOMPARE(ini.value(SettingKeys::LastBook).toString(), QString("家庭.db"));

    // Once known, the name is not read from the INI again.
    FileSetting::getInstance()->setValue(SettingKeys::LastBook, "other.db");
    QCOMPARE(Constants::getInstance()->getBookName(), QString("家庭.db"));
}

void TestConstants::rememberedNameThatIsNoPlainFileName_data()
{
    QTest::addColumn<QString>("stored");
    QTest::newRow("empty") << "";
    QTest::newRow("parent folder") << "../outside.db";
    QTest::newRow("absolute path") << "/etc/passwd";
    QTest::newRow("dot dot") << "..";
}

void TestConstants::rememberedNameThatIsNoPlainFileName()
{
    // A remembered name that would open something outside the book folder (or the folder itself)
    // falls back to the default book.
    QFETCH(QString, stored);
    TestEnv env;
    FileSetting::getInstance()->setValue(SettingKeys::LastBook, stored);
    QCOMPARE(Constants::getInstance()->getBookName(), QString("Quorvane.db"));
}

void TestConstants::bookNamesAreChecked_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("valid");
    QTest::newRow("plain") << "Quorvane.db" << true;
    QTest::newRow("chinese") << "我的账本.db" << true;
    QTest::newRow("blank inside") << "my book.db" << true;
    QTest::newRow("slash") << "a/b.db" << false;
    QTest::newRow("backslash") << "a\\b.db" << false;
    QTest::newRow("dot") << "." << false;
    QTest::newRow("dot dot") << ".." << false;
    QTest::newRow("newline") << "a\nb.db" << false;
    QTest::newRow("NUL") << QString("a") + QChar(0) + "b.db" << false;
    QTest::newRow("lone surrogate") << QString("a") + QChar(0xD800) + "b.db" << false;
    QTest::newRow("a character beyond 16 bits") << QString::fromUtf8("\xF0\x9F\x98\x80.db") << true;
    QTest::newRow("empty") << "" << false;
}

void TestConstants::bookNamesAreChecked()
{
    QFETCH(QString, name);
    QFETCH(bool, valid);
    QCOMPARE(Constants::isValidBookName(name), valid);
    TestEnv env;
    QCOMPARE(Constants::getInstance()->setBookName(name), valid);
    QCOMPARE(Constants::getInstance()->getBookName(), valid ? name : QString("Quorvane.db"));
}

void TestConstants::baseUrlHonoursTheEnvironment()
{
    const QByteArray saved = qgetenv("QUORVANE_BASE_URL");
    qputenv("QUORVANE_BASE_URL", "http://example.test:1234/api/");
    QCOMPARE(Constants::getBaseUrl(), QString("http://example.test:1234/api/"));
    qputenv("QUORVANE_BASE_URL", "http://example.test:1234/api");
    QCOMPARE(Constants::getBaseUrl(), QString("http://example.test:1234/api/"));
    qunsetenv("QUORVANE_BASE_URL");
    // This test runs from the build folder: the development service, on this machine.
    QCOMPARE(Constants::getBaseUrl(), QString("http://127.0.0.1:8098/"));
    qputenv("QUORVANE_BASE_URL", saved);
}

void TestConstants::oneRuleForFoldersAndAddress_data()
{
    QTest::addColumn<QString>("appDir");
    QTest::addColumn<bool>("installed");
    QTest::newRow("installed") << Constants::installPrefix() + "/bin" << true;
    QTest::newRow("build folder") << QCoreApplication::applicationDirPath() << false;
    QTest::newRow("copied elsewhere") << "/opt/elsewhere/quorvane" << false;
}

void TestConstants::oneRuleForFoldersAndAddress()
{
    QFETCH(QString, appDir);
    QFETCH(bool, installed);
    const Constants::Roots roots = Constants::rootsFor(appDir);
    QCOMPARE(roots.installed, installed);
    QCOMPARE(Constants::baseUrlFor(appDir), QString(installed ? "http://127.0.0.1:8099/" : "http://127.0.0.1:8098/"));
}

QTEST_GUILESS_MAIN(TestConstants)
#include "tst_constants.moc"
