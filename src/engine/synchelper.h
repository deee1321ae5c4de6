#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>
#include <functional>
#include <memory>

#include "engine/httphelper.h"

class QIODevice;

// The two-way synchronisation of the open book with the user's account at the web service. A run
// backs the book up, asks once for the account's user id (giving the default records the account's
// ids), uploads every row and deletion since the last run as one JSON change set and merges what the
// service sends back, the later version winning. The change set is written into a file as it is read
// from the book and the reply merged as it is read from a file: neither is ever held whole. One run
// at a time.
class SyncHelper : public QObject {
    Q_OBJECT

public:
    static SyncHelper* getInstance();

    // Starts a run on the open book. While one is under way another is refused: false, and nothing
    // is emitted (the running one's end reaches every listener).
    bool sync();
    bool isRunning() const { return running; }

    // A cell of the change set: texts as stored, integers in decimal, reals with at most 15
    // significant digits (0.1+0.2 is "0.3", -3.0 is "-3"), NULL as "".
    static QString cellText(const QVariant& value);

    // The clock a run reads its start (the book's next sync time) and the client time it reports
    // from: UTC now, unless a test runs a clock of its own (with the books' version stamps, which
    // SQLite takes, on the same clock). An empty function restores the system's.
    static void setClock(std::function<QDateTime()> clock);

    // How far the computer's clock may be off the service's (by the reply's "Date") before a run
    // warns, and how far ahead of its own clock the service takes a version: five minutes.
    static constexpr int clockTolerance = 300;
    // The warning for a computer clock seconds ahead of the service's (behind when negative): the
    // size of the difference and why it matters.
    static QString clockWarningText(qint64 seconds);
    // The difference alone, in a few words ("电脑时钟慢了 7 天").
    static QString clockDifferenceText(qint64 seconds);

    // The upload's form body, written to a device as it is made: the fields as
    // HttpHelper::encodeForm writes them, then a last field whose value (the change set's JSON)
    // comes in pieces. The JSON is written as QJsonDocument's compact form writes the same values,
    // byte for byte, and percent-encoded as QByteArray::toPercentEncoding does, a block at a time.
    class FormWriter {
    public:
        explicit FormWriter(QIODevice* out);

        void fields(const HttpHelper::FormFields& fields);
        void startField(const QString& name);
        // JSON text of the caller's (punctuation and keys, ASCII).
        void json(const char* text);
        // A JSON string.
        void value(const QString& text);
        // A JSON array of strings.
        void value(const QStringList& texts);
        // Writes what is left; false when the device did not take everything.
        bool finish();

    private:
        void raw(const QByteArray& bytes);
        void escape(const QString& text);
        void encodePending();
        void flush();

        QIODevice* out;
        // JSON text not percent-encoded yet, and the form's bytes not written yet.
        QByteArray pending;
        QByteArray buffer;
        bool ok = true;
    };

signals:
    void syncLog(const QString& text);
    void syncProgress(float value);
    void syncError(int code, const QString& message);
    void syncStarted();
    void syncFinished();
    // The computer's clock is seconds ahead of the service's (behind when negative), more than
    // clockTolerance. The run goes on; emitted before it ends.
    void clockWarning(qint64 seconds);

private slots:
    void downloadTokenHtml(const QString& text);
    void downloadChanges(QIODevice* body);
    void downloadError();

private:
    explicit SyncHelper(QObject* parent = nullptr);

    void requestUserId();
    void uploadData();
    HttpHelper* newRequest();
    void releaseRequest();
    // Gives the default records (two-character ids) the account's prefix and stores the user id, all
    // or nothing.
    bool migrateIds(const QString& userId);
    // Writes every row and deletion since the last run and every pending change up to the number
    // pendingUpTo (none when -1), per table, as the change set's JSON; false when the book could not
    // be read.
    bool writeChangeSet(FormWriter* out, qint64 pendingUpTo) const;
    // Merges the service's tables into the book in one transaction as the reply is read; false when
    // it had to be rolled back.
    bool applyChanges(QIODevice* reply, const QVariant& horizon);
    bool restoreReferencedRows(const QString& name);
    void fail(int code, const QString& message);
    // Ends the run with syncError once the event loop runs again.
    void failLater(int code, const QString& message);
    static QString unreadableBook();
    static QString clockAmount(qint64 seconds);

    QDateTime lastSyncTime;
    QStringList tables;
    HttpHelper* http = nullptr;
    // The upload's form body, until the service has answered.
    std::unique_ptr<QTemporaryFile> upload;
    QDateTime startTime;
    bool running = false;
    // Whether the book's record of pending changes can be used in this run, and the number of the
    // last pending change the upload holds (-1: none).
    bool pendingUsable = false;
    qint64 pendingUploaded = -1;
};
