#include "serviceprocess.h"

#include <QDeadlineTimer>

ServiceProcess::ServiceProcess(const QString& serviceExecutable)
    : executable(serviceExecutable)
{
}

ServiceProcess::~ServiceProcess()
{
    stop();
}

QStringList ServiceProcess::storeArguments(const QString& store)
{
    return { QStringLiteral("--store"), store };
}

bool ServiceProcess::start(const QString& store, const QStringList& arguments, quint16 port)
{
    stop();
    url.clear();
    error.clear();
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(executable,
        QStringList { QStringLiteral("--port"), QString::number(port) } + storeArguments(store) + arguments);
    // The service prints the address it listens on once it is ready.
    const QByteArray marker = "listening on ";
    QByteArray output;
    QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired() && process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        output += process.readAllStandardOutput();
        const qsizetype at = output.indexOf(marker);
        const qsizetype end = at < 0 ? -1 : output.indexOf('\n', at);
        if (end >= 0) {
            url = QString::fromUtf8(output.mid(at + marker.size(), end - at - marker.size()).trimmed());
            return true;
        }
    }
    error = QString::fromUtf8(output + process.readAllStandardError());
    if (error.isEmpty())
        error = QStringLiteral("quorvane-service did not start: ") + process.errorString();
    stop();
    return false;
}

QString ServiceProcess::takeErrorOutput()
{
    return QString::fromUtf8(process.readAllStandardError());
}

void ServiceProcess::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished(30000);
    }
}

int ServiceProcess::waitForExit(int timeoutMs)
{
    if (process.state() != QProcess::NotRunning && !process.waitForFinished(timeoutMs)) {
        kill();
        return -1;
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

void ServiceProcess::kill()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.kill();
    process.waitForFinished(30000);
}

bool ServiceProcess::addUser(const QString& store, const QString& name, const QString& password)
{
    QProcess add;
    add.start(executable, storeArguments(store) + QStringList { QStringLiteral("--add-user"), name, password });
    if (!add.waitForFinished(60000) || add.exitStatus() != QProcess::NormalExit || add.exitCode() != 0) {
        error = QString::fromUtf8(add.readAllStandardError());
        return false;
    }
    return true;
}
