#include "data/filesetting.h"

#include <QColor>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSettings>

#include "data/constants.h"
#include "data/scopedumask.h"
#include "data/settingkeys.h"

namespace {

FileSetting* instance = nullptr;

const QHash<QString, QVariant>& defaults()
{
    using namespace SettingKeys;
    static const QHash<QString, QVariant> table = {
        { LastBook, QStringLiteral("Quorvane.db") },
        { ColumnWidths, QString() },
        { EnableBillTitle, false },
        { EnableBillMember, true },
        { AnalysisAllData, false },
        { EnableSystemTrayIcon, false },
        { EnableAutoUpdate, true },
        { EnableBillEnterContinue, false },
        { EnableHttpProxy, false },
        { ExpenseColor, QColor(Qt::red) },
        { IncomeColor, QColor(Qt::green) },
        { TransferColor, QColor(Qt::yellow) },
        { LendColor, QColor(Qt::gray) },
        { BorrowColor, QColor(Qt::lightGray) },
        { RefundColor, QColor(Qt::gray) },
        { RepayColor, QColor(Qt::lightGray) },
        { SkinColor, QStringLiteral("#FFFFFF") },
        { SyncWhenStartup, false },
        { SyncWhenClose, false },
        { CloseWhenSyncFinished, false },
        { BackupWhenStartup, true },
        { BackupWhenClose, true },
        { BackupBeforeSync, true },
        { BackupAfterSync, true },
        { FeedbackEmail, QString() },
    };
    return table;
}

} // namespace

FileSetting::FileSetting(QObject* parent)
    : QObject(parent)
{
    open(Constants::getInstance()->getSettingDir() + QStringLiteral("Quorvane.ini"));
}

FileSetting::FileSetting(const QString& iniPath, QObject* parent)
    : QObject(parent)
{
    open(iniPath);
}

FileSetting::~FileSetting()
{
    sync();
    delete settings;
}

void FileSetting::open(const QString& iniPath)
{
    if (QFileInfo(iniPath).isFile()) {
        QSettings probe(iniPath, QSettings::IniFormat);
        // The file is read on first use; only then does the status tell.
        probe.allKeys();
        if (probe.status() == QSettings::FormatError) {
            // A damaged file would never be written again: keep it aside for the user, start anew.
            const QString aside = iniPath + QStringLiteral(".damaged-")
                + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmss"));
            QFile::rename(iniPath, aside);
        }
    }
    // The file holds nobody else's business: create it owner-only before the settings object
    // writes it (later writes keep the permissions of the existing file).
    if (!QFileInfo::exists(iniPath)) {
        Constants::makeDir(QFileInfo(iniPath).absolutePath());
        QFile file(iniPath);
        if (file.open(QIODevice::WriteOnly))
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    settings = new QSettings(iniPath, QSettings::IniFormat);
    // The settings object writes changes on a later event loop turn of its own; those writes go
    // through sync() as well, so that the lock file it makes beside the file is owner-only too.
    settings->installEventFilter(this);
}

bool FileSetting::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == settings && event->type() == QEvent::UpdateRequest) {
        sync();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

FileSetting* FileSetting::getInstance()
{
    if (!instance) {
        instance = new FileSetting(static_cast<QObject*>(nullptr));
        if (QCoreApplication::instance()) {
            QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, instance,
                [] { if (instance) instance->sync(); });
        }
    }
    return instance;
}

void FileSetting::setInstance(FileSetting* newInstance)
{
    if (instance == newInstance)
        return;
    delete instance;
    instance = newInstance;
}

void FileSetting::setValue(const QString& key, const QVariant& value)
{
    if (!madePrivate) {
        // A file written before with wider permissions becomes its owner's alone now that the
        // program writes it (the settings object keeps the permissions of the file it replaces).
        madePrivate = true;
        const QString path = settings->fileName();
        if (QFileInfo::exists(path))
            QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    settings->setValue(key, value);
}

QVariant FileSetting::value(const QString& key, const QVariant& defaultValue) const
{
    return settings->value(key, defaultValue);
}

QVariant FileSetting::value(const QString& key) const
{
    return settings->value(key, defaultValue(key));
}

QVariant FileSetting::defaultValue(const QString& key)
{
    if (key == SettingKeys::BackupDir)
        return Constants::getInstance()->getBackupDir();
    return defaults().value(key);
}

void FileSetting::setSyncWhenStartup(bool on)
{
    setValue(SettingKeys::SyncWhenStartup, on);
}

void FileSetting::setSyncWhenClose(bool on)
{
    setValue(SettingKeys::SyncWhenClose, on);
}

void FileSetting::setCloseWhenSyncFinished(bool on)
{
    setValue(SettingKeys::CloseWhenSyncFinished, on);
}

bool FileSetting::getSyncWhenStartup() const
{
    return value(SettingKeys::SyncWhenStartup, false).toBool();
}

bool FileSetting::getSyncWhenClose() const
{
    return value(SettingKeys::SyncWhenClose, false).toBool();
}

bool FileSetting::getCloseWhenSyncFinished() const
{
    return value(SettingKeys::CloseWhenSyncFinished, false).toBool();
}

QString FileSetting::folderFor(const QString& key, const QString& fallback) const
{
    // A folder since removed, or a stick no longer plugged in, would leave the dialog lost.
    const QString folder = value(key, QString()).toString();
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : fallback;
}

void FileSetting::rememberFolder(const QString& key, const QString& chosenFile)
{
    if (!chosenFile.isEmpty())
        setValue(key, QFileInfo(chosenFile).absolutePath());
}

void FileSetting::setColumnWidths(const QList<int>& widths)
{
    QStringList parts;
    parts.reserve(widths.size());
    for (int width : widths)
        parts.append(QString::number(width));
    setValue(SettingKeys::ColumnWidths, parts.join(QLatin1Char(':')));
}

QList<int> FileSetting::getColumnWidths() const
{
    QList<int> widths;
    const QString text = value(SettingKeys::ColumnWidths, QString()).toString();
    if (text.isEmpty())
        return widths;
    const QStringList parts = text.split(QLatin1Char(':'), Qt::KeepEmptyParts);
    for (const QString& part : parts)
        widths.append(part.toInt(nullptr, 10)); // not a number: 0
    return widths;
}

bool FileSetting::sync()
{
    // Writing makes "<file>.lock" beside the file (and a kill can leave it there): under the
    // session's umask it could be read by anyone.
    const ScopedUmask ownerOnly(077);
    settings->sync();
    return settings->status() == QSettings::NoError;
}

QString FileSetting::fileName() const
{
    return settings->fileName();
}
