#pragma once

#include <QString>

// Every key of the program's INI file. Their defaults live in FileSetting::defaultValue.
namespace SettingKeys {
inline const QString LastBook = QStringLiteral("Common/LastBook");
inline const QString ColumnWidths = QStringLiteral("Common/ColumnWidths");
inline const QString EnableBillTitle = QStringLiteral("Common/EnableBillTitle");
inline const QString EnableBillMember = QStringLiteral("Common/EnableBillMember");
inline const QString AnalysisAllData = QStringLiteral("Common/AnalysisAllData");
inline const QString EnableSystemTrayIcon = QStringLiteral("Common/EnableSystemTrayIcon");
inline const QString EnableAutoUpdate = QStringLiteral("Common/EnableAutoUpdate");
inline const QString EnableBillEnterContinue = QStringLiteral("Common/EnableBillEnterContinue");
inline const QString EnableHttpProxy = QStringLiteral("Proxy/EnableHttpProxy");
inline const QString ExpenseColor = QStringLiteral("Color/ExpenseColor");
inline const QString IncomeColor = QStringLiteral("Color/IncomeColor");
inline const QString TransferColor = QStringLiteral("Color/TransferColor");
inline const QString LendColor = QStringLiteral("Color/LendColor");
inline const QString BorrowColor = QStringLiteral("Color/BorrowColor");
inline const QString RefundColor = QStringLiteral("Color/RefundColor");
inline const QString RepayColor = QStringLiteral("Color/RepayColor");
inline const QString SkinColor = QStringLiteral("Color/SkinColor");
inline const QString SyncWhenStartup = QStringLiteral("Sync/SyncWhenStartup");
inline const QString SyncWhenClose = QStringLiteral("Sync/SyncWhenClose");
inline const QString CloseWhenSyncFinished = QStringLiteral("Sync/CloseWhenSyncFinished");
inline const QString BackupDir = QStringLiteral("Backup/BackupDir");
inline const QString BackupWhenStartup = QStringLiteral("Backup/BackupWhenStartup");
inline const QString BackupWhenClose = QStringLiteral("Backup/BackupWhenClose");
inline const QString BackupBeforeSync = QStringLiteral("Backup/BackupBeforeSync");
inline const QString BackupAfterSync = QStringLiteral("Backup/BackupAfterSync");
// The folders the file dialogs last chose from, one per purpose (FileSetting::folderFor): files to
// import, exported lists and reports, and the book copies of the manual backup and the restore.
inline const QString ImportFolder = QStringLiteral("Folders/Import");
inline const QString ExportFolder = QStringLiteral("Folders/Export");
inline const QString BackupFileFolder = QStringLiteral("Folders/BackupFile");
// The import dialog's last column mapping: the roles, and the header row they were set for.
inline const QString ImportColumns = QStringLiteral("Import/LastColumns");
inline const QString ImportHeader = QStringLiteral("Import/LastHeader");
inline const QString FeedbackEmail = QStringLiteral("Feedback/Email");
} // namespace SettingKeys
