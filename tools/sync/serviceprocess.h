#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// Runs quorvane-service for a test or a benchmark: on a free loopback port of the service's own
// choosing, on a store of the caller's (an SQLite file's path or a postgresql:// URL), stopped again
// when this object goes.
class ServiceProcess {
public:
    explicit ServiceProcess(const QString& executable);
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // Starts the service on store with further arguments (e.g. "--config", file) and waits until
    // it listens; false (see errorText()) when it does not come up. Port 0: a free port of the
    // service's choosing; another: that port, e.g. the one of a run before a restart.
    bool start(const QString& store, const QStringList& arguments = {}, quint16 port = 0);
    void stop();
    // Ends the service at once (SIGKILL), as a crash or an out-of-memory kill would, and waits for it.
    void kill();
    // Waits up to timeoutMs for the service to end (after a signal the caller sent it): its exit
    // code, or -1 when it crashed or is still running (then it is killed).
    int waitForExit(int timeoutMs);
    bool isRunning() const { return process.state() != QProcess::NotRunning; }
    // The running service's process id (0 when none runs).
    qint64 processId() const { return process.processId(); }
    // "http://127.0.0.1:<port>/" of the running service.
    QString baseUrl() const { return url; }
    QString errorText() const { return error; }
    // What the running service has written to its error output since the last call: its warnings.
    QString takeErrorOutput();

    // Creates an account in store through the service's own command line.
    bool addUser(const QString& store, const QString& name, const QString& password);

    // The service's arguments that name store.
    static QStringList storeArguments(const QString& store);

private:
    QString executable;
    QProcess process;
    QString url;
    QString error;
};
