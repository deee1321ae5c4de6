// quorvane-release: the publisher's side of signed updates. "keygen" makes the key pair once: the
// public key goes into rc/keys/ (or a build's QUORVANE_RELEASE_PUBLIC_KEY), the secret key stays
// with the publisher, never in the repository. "sign" prints what the update record needs of a
// release's file, or, with --record, the whole record for the service's configuration.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

#include "engine/releasedigest.h"
#include "releasesigner.h"

namespace {

int fail(const QString& message, int code = 1)
{
    std::fprintf(stderr, "quorvane-release: %s\n", qPrintable(message));
    return code;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quorvane-release"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Signs releases of Quorvane记账 for the update check.\n"
        "  quorvane-release keygen SECRET_FILE PUBLIC_FILE\n"
        "      Makes an Ed25519 key pair: the secret key readable by its owner alone (keep it out of the\n"
        "      repository), the public key as base64 on one line for rc/keys/release.pub or the build's\n"
        "      QUORVANE_RELEASE_PUBLIC_KEY.\n"
        "  quorvane-release sign FILE --key SECRET_FILE [--record --vercode N ...]\n"
        "      Prints {\"sha256\": ..., \"signature\": ...} for FILE; with --record, the whole update\n"
        "      record for the \"update\" key of quorvane-service's --config file."));
    parser.addHelpOption();
    const QCommandLineOption keyOption(
        QStringLiteral("key"), QStringLiteral("sign: the secret key file."), QStringLiteral("file"));
    const QCommandLineOption recordOption(
        QStringLiteral("record"), QStringLiteral("sign: print the whole update record."));
    const QCommandLineOption vercodeOption(
        QStringLiteral("vercode"), QStringLiteral("--record: the release number (above 38)."), QStringLiteral("n"));
    const QCommandLineOption vernameOption(
        QStringLiteral("vername"), QStringLiteral("--record: the release's name, e.g. 1.7."), QStringLiteral("text"));
    const QCommandLineOption descriptionOption(QStringLiteral("description"),
        QStringLiteral("--record: the release notes (HTML or plain text)."), QStringLiteral("text"));
    const QCommandLineOption url1Option(QStringLiteral("url1"),
        QStringLiteral(
            "--record: the download address (default: the service's own, {base}download/quorvane-setup.exe)."),
        QStringLiteral("url"), QStringLiteral("{base}download/quorvane-setup.exe"));
    const QCommandLineOption panurlOption(QStringLiteral("panurl"),
        QStringLiteral("--record: the cloud-disk page (default: the service's own)."), QStringLiteral("url"),
        QStringLiteral("{base}pan/quorvane.html"));
    const QCommandLineOption panregOption(QStringLiteral("panreg"),
        QStringLiteral("--record: the pattern whose first group finds the link on that page."), QStringLiteral("regex"),
        QStringLiteral("href=\"(http://[^\"]+\\.exe)\""));
    parser.addOptions({ keyOption, recordOption, vercodeOption, vernameOption, descriptionOption, url1Option,
        panurlOption, panregOption });
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("keygen or sign."));
    parser.addPositionalArgument(QStringLiteral("files"), QStringLiteral("The command's files."));
    parser.process(app);

    const QStringList arguments = parser.positionalArguments();
    const QString command = arguments.value(0);
    if (command == QLatin1String("keygen")) {
        if (arguments.size() != 3)
            return fail(QStringLiteral("usage: quorvane-release keygen SECRET_FILE PUBLIC_FILE"), 2);
        QString error;
        if (!ReleaseSigner::writeKeyPair(ReleaseSigner::generate(), arguments.at(1), arguments.at(2), &error))
            return fail(error);
        std::printf("secret key: %s (keep it to yourself, out of the repository)\npublic key: %s\n",
            qPrintable(arguments.at(1)), qPrintable(arguments.at(2)));
        return 0;
    }
    if (command != QLatin1String("sign") || arguments.size() != 2 || !parser.isSet(keyOption))
        return fail(
            QStringLiteral("usage: quorvane-release keygen SECRET_FILE PUBLIC_FILE | sign FILE --key SECRET_FILE "
                           "[--record --vercode N ...] (see --help)"),
            2);

    int vercode = 0;
    if (parser.isSet(recordOption)) {
        bool ok = false;
        vercode = parser.value(vercodeOption).toInt(&ok);
        if (!ok || vercode <= 0)
            return fail(QStringLiteral("--record needs --vercode with the release number"), 2);
    }
    QString error;
    const QByteArray secretKey = ReleaseSigner::readSecretKey(parser.value(keyOption), &error);
    if (secretKey.isEmpty())
        return fail(error);
    const QByteArray digest = ReleaseDigest::ofFile(arguments.at(1), &error);
    if (digest.isEmpty())
        return fail(arguments.at(1) + QStringLiteral(": ") + error);

    QJsonObject object { { QStringLiteral("sha256"), ReleaseDigest::toHex(digest) },
        { QStringLiteral("signature"), QString::fromLatin1(ReleaseSigner::sign(digest, secretKey).toBase64()) } };
    if (parser.isSet(recordOption)) {
        object.insert(QStringLiteral("vercode"), vercode);
        object.insert(QStringLiteral("vername"), parser.value(vernameOption));
        object.insert(QStringLiteral("description"), parser.value(descriptionOption));
        object.insert(QStringLiteral("url1"), parser.value(url1Option));
        object.insert(QStringLiteral("url2"), QString());
        object.insert(QStringLiteral("panurl"), parser.value(panurlOption));
        object.insert(QStringLiteral("panreg"), parser.value(panregOption));
    }
    std::fputs(QJsonDocument(object).toJson(QJsonDocument::Indented).constData(), stdout);
    return 0;
}
