#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// Runs quorvane-service for a test or a benchmark: on a free loopback port of the service's own
// choosing, on a data file of the caller's, stopped again when this object goes.
class ServiceProcess {
public:
    explicit ServiceProcess(const QString& executable);
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // Starts the service on dataFile with further arguments (e.g. "--config", file) and waits until
    // it listens; false (see errorText()) when it does not come up.
    bool start(const QString& dataFile, const QStringList& arguments = {});
    void stop();
    bool isRunning() const { return process.state() != QProcess::NotRunning; }
    // The running service's process id (0 when none runs).
    qint64 processId() const { return process.processId(); }
    // "http://127.0.0.1:<port>/" of the running service.
    QString baseUrl() const { return url; }
    QString errorText() const { return error; }
    // What the running service has written to its error output since the last call: its warnings.
    QString takeErrorOutput();

    // Creates an account in dataFile through the service's own command line.
    bool addUser(const QString& dataFile, const QString& name, const QString& password);

private:
    QString executable;
    QProcess process;
    QString url;
    QString error;
};
