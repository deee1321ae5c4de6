#include "pgserver.h"

#include <QCollator>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>
#include <QUrl>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString folderPrefix = QStringLiteral("quorvane-pgserver-");
const QString ownerFile = QStringLiteral("owner.pid");

bool processAlive(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

// The unprivileged user the server binaries run as when we are root: initdb and postgres refuse root.
QString unprivilegedUser(QString* error)
{
    if (::geteuid() != 0)
        return QString();
    if (!::getpwnam("postgres")) {
        *error = QStringLiteral("running as root, the PostgreSQL server needs the unprivileged user "
                                "\"postgres\" that Debian's postgresql package creates (scripts/install-deps.sh)");
        return QString();
    }
    return QStringLiteral("postgres");
}

bool chownTo(const QString& path, const QString& user)
{
    const passwd* account = ::getpwnam(user.toLocal8Bit().constData());
    return account && ::chown(QFile::encodeName(path).constData(), account->pw_uid, account->pw_gid) == 0;
}

// The program and arguments that run a server binary, as the unprivileged user when there is one.
QPair<QString, QStringList> commandFor(const QString& runAs, const QString& program, const QStringList& arguments)
{
    if (runAs.isEmpty())
        return { program, arguments };
    const passwd* account = ::getpwnam(runAs.toLocal8Bit().constData());
    const QString uid = QString::number(account ? account->pw_uid : 0);
    const QString gid = QString::number(account ? account->pw_gid : 0);
    return { QStringLiteral("setpriv"),
        QStringList { QStringLiteral("--reuid=") + uid, QStringLiteral("--regid=") + gid, QStringLiteral("--init-groups"),
            QStringLiteral("--") }
            + QStringList { program } + arguments };
}

// The environment the tools see: none of the PG* variables of whoever runs the test, which would point
// psql or pg_ctl elsewhere.
QProcessEnvironment toolEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& name : env.keys()) {
        if (name.startsWith(QLatin1String("PG")))
            env.remove(name);
    }
    return env;
}

// A loopback port that nothing listens on right now.
quint16 freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    quint16 port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

QString quotedConfigValue(const QString& value)
{
    QString quoted = value;
    quoted.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

} // namespace

PgServer::PgServer()
    : dir(QDir(QDir::tempPath()).filePath(folderPrefix + QStringLiteral("XXXXXX")))
    , userName(QStringLiteral("quorvane"))
    , database(QStringLiteral("quorvane"))
{
    secret = QString::number(QRandomGenerator::system()->generate64(), 16);
    if (!dir.isValid()) {
        error = QStringLiteral("no temporary folder for the PostgreSQL server: ") + dir.errorString();
        return;
    }
    QFile owner(dir.filePath(ownerFile));
    if (owner.open(QIODevice::WriteOnly))
        owner.write(QByteArray::number(QCoreApplication::applicationPid()));
}

PgServer::~PgServer()
{
    if (isRunning())
        stop(true);
    stopWatchdog();
    dir.remove();
}

QString PgServer::binaryFolder()
{
    QDir root(QStringLiteral("/usr/lib/postgresql"));
    QStringList versions = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCollator numeric;
    numeric.setNumericMode(true);
    std::sort(versions.begin(), versions.end(), [&](const QString& a, const QString& b) { return numeric.compare(a, b) > 0; });
    for (const QString& version : std::as_const(versions)) {
        const QString bin = root.filePath(version + QStringLiteral("/bin"));
        if (QFileInfo(bin + QStringLiteral("/initdb")).isExecutable() && QFileInfo(bin + QStringLiteral("/pg_ctl")).isExecutable()
            && QFileInfo(bin + QStringLiteral("/postgres")).isExecutable())
            return bin;
    }
    return QString();
}

bool PgServer::runTool(
    const QString& tool, const QStringList& arguments, QString* output, const QByteArray& input, int timeoutMs)
{
    const auto command = commandFor(runAs, QDir(binaries).filePath(tool), arguments);
    QProcess process;
    process.setProcessEnvironment(toolEnvironment());
    // The unprivileged user may not enter the caller's working folder.
    process.setWorkingDirectory(dir.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(command.first, command.second);
    if (!process.waitForStarted(30000)) {
        error = tool + QStringLiteral(" did not start: ") + process.errorString();
        return false;
    }
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(10000);
        error = tool + QStringLiteral(" did not end within %1 s").arg(timeoutMs / 1000);
        return false;
    }
    const QString text = QString::fromLocal8Bit(process.readAll());
    if (output)
        *output = text;
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        error = tool + QStringLiteral(" failed: ") + text.trimmed();
        return false;
    }
    return true;
}

bool PgServer::initialise()
{
    if (!dir.isValid())
        return false;
    binaries = binaryFolder();
    if (binaries.isEmpty()) {
        error = QStringLiteral("no PostgreSQL server is installed (/usr/lib/postgresql/<version>/bin; "
                               "scripts/install-deps.sh installs Debian's postgresql)");
        return false;
    }
    runAs = unprivilegedUser(&error);
    if (!error.isEmpty())
        return false;

    const QString passwordFile = dir.filePath(QStringLiteral("password"));
    {
        QFile file(passwordFile);
        if (!file.open(QIODevice::WriteOnly) || file.write(secret.toUtf8() + '\n') < 0) {
            error = QStringLiteral("cannot write ") + passwordFile;
            return false;
        }
    }
    if (!runAs.isEmpty() && (!chownTo(dir.path(), runAs) || !chownTo(passwordFile, runAs))) {
        error = QStringLiteral("cannot hand %1 to the user %2").arg(dir.path(), runAs);
        return false;
    }
    if (!runAs.isEmpty()) {
        // The folder lies in the temporary folder, which every user may enter; anywhere else the
        // unprivileged user may be kept out by a parent folder.
        const auto command = commandFor(runAs, QStringLiteral("test"), { QStringLiteral("-w"), dir.path() });
        if (QProcess::execute(command.first, command.second) != 0) {
            error = QStringLiteral("the user %1 cannot write to %2 (is a parent folder closed to it?)").arg(runAs, dir.path());
            return false;
        }
    }

    // Sorting in the C locale compares bytes, as SQLite does; UTF-8 for every text a book holds.
    // No sync to disk: a test's server is thrown away, and a crash of the machine is not tested.
    if (!runTool(QStringLiteral("initdb"),
            { QStringLiteral("--pgdata=") + dir.filePath(QStringLiteral("data")), QStringLiteral("--username=") + userName,
                QStringLiteral("--pwfile=") + passwordFile, QStringLiteral("--auth-local=trust"),
                QStringLiteral("--auth-host=scram-sha-256"), QStringLiteral("--encoding=UTF8"), QStringLiteral("--locale=C"),
                QStringLiteral("--no-sync") }))
        return false;
    QFile::remove(passwordFile);

    QFile config(dir.filePath(QStringLiteral("data/postgresql.conf")));
    if (!config.open(QIODevice::Append)) {
        error = QStringLiteral("cannot extend ") + config.fileName();
        return false;
    }
    // Commits stay synchronous: a server stopped at once, as a crash, keeps every commit it
    // acknowledged, which is what the tests of a database that goes away rely on. Only the flush
    // to the disk below is left out, which matters for a crash of the machine alone.
    const QString settings = QStringLiteral("\n# A test's server: loopback only, its socket in its own folder, no waits for the disk.\n"
                                            "listen_addresses = '127.0.0.1'\n"
                                            "unix_socket_directories = %1\n"
                                            "fsync = off\n"
                                            "full_page_writes = off\n"
                                            "shared_buffers = 32MB\n"
                                            "max_connections = 200\n")
                                 .arg(quotedConfigValue(dir.path()));
    config.write(settings.toUtf8());
    config.close();
    initialised = true;
    return true;
}

bool PgServer::startOn(quint16 port)
{
    const QString log = dir.filePath(QStringLiteral("server.log"));
    const qint64 logged = QFileInfo(log).size();
    QString output;
    if (runTool(QStringLiteral("pg_ctl"),
            { QStringLiteral("start"), QStringLiteral("--pgdata=") + dir.filePath(QStringLiteral("data")),
                QStringLiteral("--log=") + log, QStringLiteral("--wait"), QStringLiteral("--timeout=120"),
                QStringLiteral("-o"), QStringLiteral("-p %1").arg(port) },
            &output, QByteArray(), 150000)) {
        listenPort = port;
        running = true;
        return true;
    }
    // What the server said about this start alone.
    QFile file(log);
    if (file.open(QIODevice::ReadOnly) && file.seek(logged))
        startLog = QString::fromLocal8Bit(file.readAll()).trimmed();
    error += QLatin1Char('\n') + startLog;
    return false;
}

bool PgServer::start()
{
    if (isRunning())
        return true;
    error.clear();
    if (!initialised) {
        removeStaleFolders();
        if (!initialise())
            return false;
        // From here on there is something to clean up should this process die.
        startWatchdog();
    }
    // The port was free when we looked; another process may take it before the server does. A first
    // start takes another port then; a restart keeps the service's URL and waits for the port instead.
    const bool samePort = listenPort != 0;
    running = false;
    for (int attempt = 0; attempt < 10 && !running; ++attempt) {
        const quint16 port = samePort ? listenPort : freeLoopbackPort();
        if (port == 0) {
            error = QStringLiteral("no free loopback port");
            return false;
        }
        startLog.clear();
        if (startOn(port))
            break;
        if (!startLog.contains(QLatin1String("could not bind")) && !startLog.contains(QLatin1String("in use")))
            return false;
        if (samePort)
            QThread::msleep(500);
    }
    if (!running)
        return false;
    if (!databaseMade) {
        if (!createDatabase(database)) {
            const QString reason = error;
            stop(true);
            error = reason;
            return false;
        }
        databaseMade = true;
    }
    return true;
}

bool PgServer::stop(bool immediate)
{
    if (!initialised)
        return true;
    if (!isRunning()) {
        running = false;
        return true;
    }
    const bool stopped = runTool(QStringLiteral("pg_ctl"),
        { QStringLiteral("stop"), QStringLiteral("--pgdata=") + dir.filePath(QStringLiteral("data")),
            QStringLiteral("--mode=") + (immediate ? QLatin1String("immediate") : QLatin1String("fast")),
            QStringLiteral("--wait"), QStringLiteral("--timeout=120") },
        nullptr, QByteArray(), 150000);
    running = !stopped && isRunning();
    return stopped;
}

bool PgServer::isRunning() const
{
    if (!initialised)
        return false;
    // The postmaster's process id is the first line of its lock file while it runs.
    QFile lock(QDir(dir.path()).filePath(QStringLiteral("data/postmaster.pid")));
    if (!lock.open(QIODevice::ReadOnly))
        return false;
    return processAlive(lock.readLine().trimmed().toLongLong());
}

QString PgServer::url(const QString& databaseName) const
{
    return QStringLiteral("postgresql://%1:%2@127.0.0.1:%3/%4")
        .arg(userName, secret)
        .arg(listenPort)
        .arg(databaseName.isEmpty() ? database : databaseName);
}

QString PgServer::socketUrl(const QString& databaseName) const
{
    return QStringLiteral("postgresql://%1@localhost:%2/%3?host=%4")
        .arg(userName)
        .arg(listenPort)
        .arg(databaseName.isEmpty() ? database : databaseName,
            QString::fromUtf8(QUrl::toPercentEncoding(dir.path(), "/")));
}

bool PgServer::createDatabase(const QString& name)
{
    return runTool(QStringLiteral("createdb"),
        { QStringLiteral("--host=") + dir.path(), QStringLiteral("--port=%1").arg(listenPort),
            QStringLiteral("--username=") + userName, QStringLiteral("--"), name });
}

bool PgServer::dropDatabase(const QString& name)
{
    return runTool(QStringLiteral("dropdb"),
        { QStringLiteral("--host=") + dir.path(), QStringLiteral("--port=%1").arg(listenPort),
            QStringLiteral("--username=") + userName, QStringLiteral("--force"), QStringLiteral("--if-exists"),
            QStringLiteral("--"), name });
}

QString PgServer::logTail(int lines) const
{
    QFile log(QDir(dir.path()).filePath(QStringLiteral("server.log")));
    if (!log.open(QIODevice::ReadOnly))
        return QString();
    QStringList all = QString::fromLocal8Bit(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return all.mid(qMax(0, int(all.size()) - lines)).join(QLatin1Char('\n'));
}

QSqlDatabase PgServer::addConnection(const QString& connectionName, const QString& databaseName) const
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName);
    db.setHostName(dir.path());
    db.setPort(listenPort);
    db.setUserName(userName);
    db.setPassword(secret);
    db.setDatabaseName(databaseName.isEmpty() ? database : databaseName);
    return db;
}

bool PgServer::runSql(const QString& sql, QString* output)
{
    // psql reads the statements from its standard input.
    QString text;
    const bool ran = runTool(QStringLiteral("psql"),
        { QStringLiteral("--no-psqlrc"), QStringLiteral("--quiet"), QStringLiteral("--no-align"), QStringLiteral("--tuples-only"),
            QStringLiteral("--set=ON_ERROR_STOP=1"), QStringLiteral("--host=") + dir.path(),
            QStringLiteral("--port=%1").arg(listenPort), QStringLiteral("--username=") + userName,
            QStringLiteral("--dbname=") + database },
        &text, sql.toUtf8());
    if (output)
        *output = text;
    return ran;
}

void PgServer::startWatchdog()
{
    // A shell in a session of its own, outside the test's process tree and group, so that whatever
    // kills the test leaves it: once the test's process is gone while the folder is still there, it
    // stops the server and removes the folder.
    static const QString script = QStringLiteral(
        "owner=$1; folder=$2; shift 2\n"
        "while kill -0 \"$owner\" 2>/dev/null && [ -d \"$folder\" ]; do sleep 1; done\n"
        "[ -d \"$folder\" ] || exit 0\n"
        "\"$@\" >/dev/null 2>&1\n"
        "rm -rf \"$folder\"\n");
    const auto stopCommand = commandFor(runAs, QDir(binaries).filePath(QStringLiteral("pg_ctl")),
        { QStringLiteral("stop"), QStringLiteral("--pgdata=") + dir.filePath(QStringLiteral("data")),
            QStringLiteral("--mode=immediate"), QStringLiteral("--wait"), QStringLiteral("--timeout=60") });
    const QStringList arguments = QStringList { QStringLiteral("sh"), QStringLiteral("-c"), script, QStringLiteral("sh"),
                                      QString::number(QCoreApplication::applicationPid()), dir.path(), stopCommand.first }
        + stopCommand.second;
    QProcess::startDetached(QStringLiteral("setsid"), arguments, QDir::rootPath(), &watchdog);
}

void PgServer::stopWatchdog()
{
    if (watchdog > 0)
        ::kill(pid_t(watchdog), SIGTERM);
    watchdog = 0;
}

void PgServer::removeStaleFolders()
{
    QString ignored;
    const QString runAs = unprivilegedUser(&ignored);
    const QString bin = binaryFolder();
    const QDir temp(QDir::tempPath());
    const QFileInfoList folders = temp.entryInfoList({ folderPrefix + QLatin1Char('*') }, QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QFileInfo& folder : folders) {
        QFile owner(QDir(folder.filePath()).filePath(ownerFile));
        if (owner.open(QIODevice::ReadOnly)) {
            if (processAlive(owner.readAll().trimmed().toLongLong()))
                continue;
        } else if (folder.birthTime().isValid() ? folder.birthTime().secsTo(QDateTime::currentDateTime()) < 600
                                                : folder.lastModified().secsTo(QDateTime::currentDateTime()) < 600) {
            // Being made right now by another test, which writes its owner next.
            continue;
        }
        const QString data = QDir(folder.filePath()).filePath(QStringLiteral("data"));
        if (!bin.isEmpty() && QFile::exists(QDir(data).filePath(QStringLiteral("postmaster.pid")))) {
            const auto command = commandFor(runAs, QDir(bin).filePath(QStringLiteral("pg_ctl")),
                { QStringLiteral("stop"), QStringLiteral("--pgdata=") + data, QStringLiteral("--mode=immediate"),
                    QStringLiteral("--wait"), QStringLiteral("--timeout=60") });
            QProcess stopper;
            stopper.setProcessEnvironment(toolEnvironment());
            stopper.setWorkingDirectory(QDir::rootPath());
            stopper.start(command.first, command.second);
            stopper.waitForFinished(90000);
        }
        QDir(folder.filePath()).removeRecursively();
    }
}
