// quorvane-service: the web service Quorvane记账 synchronises books with, asks for new releases and
// sends feedback to. Run it, create an account with --add-user and point the program at it.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <cstdio>

#include "passwordinput.h"
#include "serviceserver.h"
#include "servicestore.h"

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quorvane-service"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The web service of Quorvane记账: synchronisation, update record, feedback and installer download.\n"
        "Add an account: quorvane-service [--data FILE] --add-user NAME\n"
        "(the password is asked for and not shown, or read from the first line of standard input)."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
        QStringLiteral("Port on 127.0.0.1 to listen on (0: any free port). Default 8098."), QStringLiteral("port"),
        QStringLiteral("8098"));
    const QString defaultData = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/quorvane-service/service.db");
    const QCommandLineOption dataOption(QStringLiteral("data"),
        QStringLiteral("The service's SQLite file (accounts, records, feedback). Default %1.").arg(defaultData),
        QStringLiteral("file"), defaultData);
    const QCommandLineOption addUserOption(QStringLiteral("add-user"),
        QStringLiteral("Create the account NAME, then end. Its password is asked for (not shown) or read from "
                       "the first line of standard input; a PASSWORD argument after NAME is visible to every user "
                       "of this computer while the command runs."),
        QStringLiteral("name"));
    const QCommandLineOption configOption(QStringLiteral("config"),
        QStringLiteral("A JSON file read at every request: update record, installer size, cloud-disk link, faults."),
        QStringLiteral("file"));
    const QCommandLineOption logOption(QStringLiteral("request-log"),
        QStringLiteral("Append one JSON line per request to this file."), QStringLiteral("file"));
    const QCommandLineOption limitOption(QStringLiteral("max-request-bytes"),
        QStringLiteral("Answer larger requests with 413. Default 268435456 (256 MiB)."), QStringLiteral("bytes"),
        QStringLiteral("268435456"));
    parser.addOptions({ portOption, dataOption, addUserOption, configOption, logOption, limitOption });
    parser.addPositionalArgument(QStringLiteral("password"),
        QStringLiteral("With --add-user, the password (for scripts and tests: visible to other users)."),
        QStringLiteral("[password]"));
    parser.process(app);

    ServiceStore store;
    QString error;
    const QString dataPath = QDir::cleanPath(QDir::current().absoluteFilePath(parser.value(dataOption)));
    if (!store.open(dataPath, &error)) {
        std::fprintf(stderr, "quorvane-service: cannot open %s: %s\n", qPrintable(dataPath), qPrintable(error));
        return 1;
    }

    if (parser.isSet(addUserOption)) {
        const QStringList rest = parser.positionalArguments();
        if (rest.size() > 1) {
            std::fprintf(stderr, "quorvane-service: --add-user NAME [PASSWORD]\n");
            return 2;
        }
        const QString name = parser.value(addUserOption);
        const QString password = rest.isEmpty()
            ? PasswordInput::read(QStringLiteral("Password for %1: ").arg(name), true, &error)
            : rest.first();
        if (password.isEmpty() && rest.isEmpty()) {
            std::fprintf(stderr, "quorvane-service: %s\n", qPrintable(error));
            return 2;
        }
        if (!store.addUser(name, password, &error)) {
            std::fprintf(stderr, "quorvane-service: %s\n", qPrintable(error));
            return 1;
        }
        std::printf("account \"%s\" added\n", qPrintable(parser.value(addUserOption)));
        return 0;
    }

    bool portOk = false;
    bool limitOk = false;
    ServiceServer::Options options;
    options.port = parser.value(portOption).toUShort(&portOk);
    options.maxRequestBytes = parser.value(limitOption).toLongLong(&limitOk);
    options.configPath = parser.value(configOption);
    options.requestLogPath = parser.value(logOption);
    if (!portOk || !limitOk || options.maxRequestBytes <= 0) {
        std::fprintf(stderr, "quorvane-service: bad --port or --max-request-bytes\n");
        return 2;
    }
    ServiceServer server(&store);
    if (!server.start(options, &error)) {
        std::fprintf(
            stderr, "quorvane-service: cannot listen on 127.0.0.1:%u: %s\n", unsigned(options.port), qPrintable(error));
        return 1;
    }
    // Tests that ask for any free port read it from this line.
    std::printf("quorvane-service listening on %s\n", qPrintable(server.baseUrl()));
    std::fflush(stdout);
    return app.exec();
}
