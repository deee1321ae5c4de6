#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

class QSettings;

// The program-wide options in Quorvane.ini. Readers ask at the point of use; writers store at once.
class FileSetting : public QObject
{
    Q_OBJECT

public:
    // On Quorvane.ini in the settings directory.
    explicit FileSetting(QObject* parent = nullptr);
    // On another file (tests).
    explicit FileSetting(const QString& iniPath, QObject* parent = nullptr);
    ~FileSetting() override;

    static FileSetting* getInstance();
    // Replaces the process-wide instance (tests run on files of their own). Takes ownership.
    static void setInstance(FileSetting* instance);

    void setValue(const QString& key, const QVariant& value);
    QVariant value(const QString& key, const QVariant& defaultValue) const;
    // The stored value, or the program's default for key.
    QVariant value(const QString& key) const;
    static QVariant defaultValue(const QString& key);

    void setSyncWhenStartup(bool on);
    void setSyncWhenClose(bool on);
    void setCloseWhenSyncFinished(bool on);
    bool getSyncWhenStartup() const;
    bool getSyncWhenClose() const;
    bool getCloseWhenSyncFinished() const;

    // The folder a file dialog opens in for the purpose that key names (SettingKeys' folder keys):
    // the one a file was last chosen from for it while that folder is still there, else fallback.
    QString folderFor(const QString& key, const QString& fallback) const;
    // Remembers the folder of chosenFile for the purpose.
    void rememberFolder(const QString& key, const QString& chosenFile);

    void setColumnWidths(const QList<int>& widths);
    QList<int> getColumnWidths() const;

    // Writes pending changes to the file now. The program calls it before it quits or restarts
    // itself, since the settings object would otherwise write them only on a later event loop turn.
    bool sync();
    QString fileName() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void open(const QString& iniPath);

    QSettings* settings = nullptr;
    bool madePrivate = false;
};
