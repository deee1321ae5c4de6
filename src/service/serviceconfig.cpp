#include "serviceconfig.h"

#include <QFile>
#include <QJsonDocument>
#include <cstdio>

const char* const ServiceConfig::installerPath = "download/quorvane-setup.exe";
const char* const ServiceConfig::panPath = "pan/quorvane.html";
const char* const ServiceConfig::healthPath = "health";
// The release of the program built beside this service.
const int ServiceConfig::versionCode = 38;
const char* const ServiceConfig::versionName = "1.6";

namespace {

// Slightly above the smallest installer the update dialog accepts (5 MiB).
const qint64 defaultInstallerSize = 6 * 1024 * 1024;

QJsonValue withBase(const QJsonValue& value, const QString& baseUrl)
{
    if (!value.isString())
        return value;
    return value.toString().replace(QLatin1String("{base}"), baseUrl);
}

} // namespace

ServiceConfig ServiceConfig::load(const QString& path, const QString& baseUrl)
{
    ServiceConfig config;
    config.update = QJsonObject {
        { QStringLiteral("vercode"), versionCode },
        { QStringLiteral("vername"), QLatin1String(versionName) },
        { QStringLiteral("description"), QString() },
        { QStringLiteral("url1"), baseUrl + QLatin1String(installerPath) },
        { QStringLiteral("url2"), QString() },
        { QStringLiteral("panurl"), baseUrl + QLatin1String(panPath) },
        { QStringLiteral("panreg"), QStringLiteral("href=\"(http://[^\"]+\\.exe)\"") },
    };
    config.installerSize = defaultInstallerSize;
    config.panLink = baseUrl + QLatin1String(installerPath);
    if (path.isEmpty())
        return config;

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return config;
    QJsonParseError error;
    const QJsonObject stored = QJsonDocument::fromJson(file.readAll(), &error).object();
    if (error.error != QJsonParseError::NoError) {
        std::fprintf(stderr, "quorvane-service: %s: %s\n", qPrintable(path), qPrintable(error.errorString()));
        return config;
    }
    const QJsonObject update = stored.value(QLatin1String("update")).toObject();
    config.updateConfigured = !update.isEmpty();
    for (auto it = update.constBegin(); it != update.constEnd(); ++it)
        config.update.insert(it.key(), withBase(it.value(), baseUrl));
    const QJsonObject installer = stored.value(QLatin1String("installer")).toObject();
    const QJsonValue size = installer.value(QLatin1String("size"));
    if (size.isDouble() && size.toDouble() >= 0)
        config.installerSize = qint64(size.toDouble());
    config.installerScript = installer.value(QLatin1String("script")).toString();
    if (stored.value(QLatin1String("panLink")).isString())
        config.panLink = withBase(stored.value(QLatin1String("panLink")), baseUrl).toString();
    return config;
}
