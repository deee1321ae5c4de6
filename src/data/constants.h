#pragma once

#include <QObject>
#include <QString>

class MetaData;

// Where books, backups and the settings file live, the current book, the kind tables, the
// program's version and the web service's address.
class Constants : public QObject
{
    Q_OBJECT

public:
    // What the directory choice depends on. The running program fills it from its own folder;
    // tests give folders of their own.
    struct Roots {
        QString appDir;
        bool installed = false;
        QString documentsRoot;
        QString configRoot;
    };

    explicit Constants(QObject* parent = nullptr);
    explicit Constants(const Roots& roots, QObject* parent = nullptr);
    ~Constants() override;

    static Constants* getInstance();
    // Replaces the process-wide instance (tests run on folders of their own). Takes ownership.
    static void setInstance(Constants* instance);

    MetaData* getAccountKinds() const { return accountKinds; }
    MetaData* getBorrowerKinds() const { return borrowerKinds; }
    MetaData* getCategoryKinds() const { return categoryKinds; }
    MetaData* getLoanKinds() const { return loanKinds; }
    MetaData* getBillKinds() const { return billKinds; }

    QString getDbDir() const { return dbDir; }
    QString getBackupDir() const { return backupDir; }
    QString getSettingDir() const { return settingDir; }
    // Keeps books, their backups and the settings in dir instead: a tool that works on a book
    // wherever it lies.
    void setBookDir(const QString& dir);
    // Creates path with every missing parent, each owner-only.
    static void makeDir(const QString& path);
    // Where the user keeps documents (exports and reports are saved there first): the documents
    // folder, or the home folder when there is none.
    static QString getDocumentsDir();

    // The release's text ("1.6"), also known before any folder is made.
    static QString getVersion();
    int getVersionCode() const;

    QString getBookName();
    // Makes name the current book. A name that is not a plain file name is refused and changes
    // nothing. The settings file is not written: the book is remembered once it has opened.
    bool setBookName(const QString& name);
    // Remembers the current book as the last book (Common/LastBook), for the next start.
    void rememberBook();
    // A book name is a plain file name: no directory part, not "." or "..", no control characters.
    static bool isValidBookName(const QString& name);

    // The web service's address: QUORVANE_BASE_URL when set, else the one for the running program.
    static QString getBaseUrl();
    // The public address for an installed program, the development one otherwise.
    static QString baseUrlFor(const QString& appDir);

    // A program is installed when its folder lies below the install prefix; installed, it keeps
    // books and settings in the user's folders, otherwise in "data" beside itself. The roots of
    // the running program, and of one in appDir.
    static Roots programRoots();
    static Roots rootsFor(const QString& appDir);
    static QString installPrefix();
    static bool isBelow(const QString& dir, const QString& prefix);

private:
    void init(const Roots& roots);

    MetaData* accountKinds = nullptr;
    MetaData* borrowerKinds = nullptr;
    MetaData* categoryKinds = nullptr;
    MetaData* loanKinds = nullptr;
    MetaData* billKinds = nullptr;
    QString dbDir;
    QString backupDir;
    QString bookName;
    QString settingDir;
};
