#include "data/constants.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <sys/stat.h>

#include "buildconfig.h"
#include "data/enteredtext.h"
#include "data/filesetting.h"
#include "data/mbill.h"
#include "data/metadata.h"
#include "data/settingkeys.h"

namespace {

Constants* instance = nullptr;

const char* const defaultBookName = "Quorvane.db";
const char* const publicBaseUrl = "http://127.0.0.1:8099/";
const char* const developmentBaseUrl = "http://127.0.0.1:8098/";

MetaData* makeTable(std::initializer_list<std::pair<const char*, const char*>> rows)
{
    auto* table = new MetaData(nullptr);
    for (const auto& row : rows)
        table->add(Constants::tr(row.first), QString::fromLatin1(row.second));
    return table;
}

QString withTrailingSeparator(const QString& path)
{
    QString native = QDir::toNativeSeparators(path);
    if (!native.endsWith(QDir::separator()))
        native += QDir::separator();
    return native;
}

} // namespace

Constants::Constants(QObject* parent)
    : QObject(parent)
{
    init(programRoots());
}

Constants::Constants(const Roots& roots, QObject* parent)
    : QObject(parent)
{
    init(roots);
}

Constants::~Constants()
{
    delete accountKinds;
    delete borrowerKinds;
    delete categoryKinds;
    delete loanKinds;
    delete billKinds;
}

void Constants::init(const Roots& roots)
{
    accountKinds = makeTable({ { "现金", "cash" }, { "银行卡", "card" }, { "信用卡", "credit" }, { "基金", "fund" },
        { "股票", "stock" }, { "其它", "other" } });
    borrowerKinds = makeTable({ { "债权人", "creditor" }, { "债务人", "debtor" } });
    categoryKinds = makeTable({ { "支出", MBill::Expense.data() }, { "收入", MBill::Income.data() } });
    loanKinds = makeTable({ { "借出", MBill::Lend.data() }, { "借入", MBill::Borrow.data() },
        { "收款", MBill::Refund.data() }, { "还款", MBill::Repay.data() } });
    billKinds = makeTable({ { "支出", MBill::Expense.data() }, { "收入", MBill::Income.data() },
        { "转账", MBill::Transfer.data() }, { "借出", MBill::Lend.data() }, { "借入", MBill::Borrow.data() },
        { "收款", MBill::Refund.data() }, { "还款", MBill::Repay.data() } });

    const QString sep = QDir::separator();
    if (roots.installed) {
        dbDir = roots.documentsRoot + sep + QStringLiteral("quorvane") + sep;
        settingDir = roots.configRoot + sep + QStringLiteral("Quorvane") + sep;
    } else {
        dbDir = roots.appDir + sep + QStringLiteral("data") + sep;
        settingDir = dbDir;
    }
    backupDir = dbDir + QStringLiteral("backup") + sep;
    backupDir = withTrailingSeparator(QDir::cleanPath(backupDir));
    dbDir = withTrailingSeparator(QDir::cleanPath(dbDir));
    settingDir = withTrailingSeparator(QDir::cleanPath(settingDir));

    makeDir(dbDir);
    makeDir(settingDir);
    makeDir(backupDir);

    bookName = QLatin1String("");
}

void Constants::setBookDir(const QString& dir)
{
    dbDir = withTrailingSeparator(QDir::cleanPath(dir));
    settingDir = dbDir;
    backupDir = withTrailingSeparator(QDir::cleanPath(dbDir + QStringLiteral("backup")));
    makeDir(backupDir);
}

Constants* Constants::getInstance()
{
    if (!instance)
        instance = new Constants(nullptr);
    return instance;
}

void Constants::setInstance(Constants* newInstance)
{
    if (instance == newInstance)
        return;
    delete instance;
    instance = newInstance;
}

void Constants::makeDir(const QString& path)
{
    // Books, backups and settings are nobody else's business: every folder made on the way is
    // its owner's alone, whatever the umask lets through.
    const QString clean = QDir::cleanPath(QDir(path).absolutePath());
    if (QFileInfo(clean).isDir())
        return;
    const QStringList parts = clean.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString walked;
    for (const QString& part : parts) {
        walked += QLatin1Char('/') + part;
        if (!QFileInfo(walked).isDir() && ::mkdir(QFile::encodeName(walked).constData(), S_IRWXU) != 0)
            return;
    }
}

QString Constants::getDocumentsDir()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

QString Constants::getVersion()
{
    return QStringLiteral("1.6");
}

int Constants::getVersionCode() const
{
    return 38;
}

QString Constants::getBookName()
{
    if (bookName.isEmpty()) {
        // A remembered name that is empty, points outside the book folder or names a folder in it
        // (the backups') is not a book of ours.
        const QString stored
            = FileSetting::getInstance()->value(SettingKeys::LastBook, QString::fromLatin1(defaultBookName)).toString();
        const bool usable = isValidBookName(stored) && !QDir(dbDir + stored).exists();
        bookName = usable ? stored : QString::fromLatin1(defaultBookName);
    }
    return bookName;
}

bool Constants::setBookName(const QString& name)
{
    if (!isValidBookName(name))
        return false;
    bookName = name;
    return true;
}

void Constants::rememberBook()
{
    FileSetting::getInstance()->setValue(SettingKeys::LastBook, getBookName());
}

bool Constants::isValidBookName(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") || enteredText(name) != name)
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

QString Constants::getBaseUrl()
{
    QString url = qEnvironmentVariable("QUORVANE_BASE_URL");
    if (!url.isEmpty()) {
        if (!url.endsWith(QLatin1Char('/')))
            url += QLatin1Char('/');
        return url;
    }
    return baseUrlFor(QCoreApplication::applicationDirPath());
}

QString Constants::baseUrlFor(const QString& appDir)
{
    // The same test as for the folders: a program is installed or not, never half of each.
    return rootsFor(appDir).installed ? QString::fromLatin1(publicBaseUrl) : QString::fromLatin1(developmentBaseUrl);
}

QString Constants::installPrefix()
{
    return QString::fromUtf8(QUORVANE_INSTALL_PREFIX);
}

Constants::Roots Constants::programRoots()
{
    return rootsFor(QCoreApplication::applicationDirPath());
}

Constants::Roots Constants::rootsFor(const QString& appDir)
{
    Roots roots;
    roots.appDir = appDir;
    roots.installed = isBelow(appDir, installPrefix());
    roots.documentsRoot = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    roots.configRoot = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return roots;
}

bool Constants::isBelow(const QString& dir, const QString& prefix)
{
    const QString cleanDir = QDir::cleanPath(dir);
    const QString cleanPrefix = QDir::cleanPath(prefix);
    if (cleanPrefix.isEmpty())
        return false;
    if (cleanPrefix == QLatin1String("/"))
        return cleanDir.startsWith(QLatin1Char('/'));
    return cleanDir == cleanPrefix || cleanDir.startsWith(cleanPrefix + QLatin1Char('/'));
}
