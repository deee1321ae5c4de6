#include "engine/updatecheck.h"

#include <QVariantMap>
#include <cmath>
#include <limits>

#include "data/constants.h"
#include "data/mversion.h"
#include "engine/httphelper.h"
#include "engine/json.h"
#include "engine/releasedigest.h"
#include "engine/releasesignature.h"
#include "engine/servicepaths.h"
#include "engine/synclogging.h"

UpdateCheck::UpdateCheck(QObject* parent)
    : QObject(parent)
{
}

void UpdateCheck::request()
{
    auto* http = new HttpHelper(this);
    connect(http, &HttpHelper::finished, this, &UpdateCheck::answered);
    http->get(Constants::getBaseUrl() + ServicePaths::Version);
}

void UpdateCheck::read(const QString& text, MVersion* version)
{
    const QVariantMap map = JSON::getInstance()->parseMap(text);
    version->description = map.value(QStringLiteral("description")).toString();
    version->vername = map.value(QStringLiteral("vername")).toString();
    version->vercode = versionCode(map.value(QStringLiteral("vercode")));
    version->url1 = map.value(QStringLiteral("url1")).toString();
    version->url2 = map.value(QStringLiteral("url2")).toString();
    version->panurl = map.value(QStringLiteral("panurl")).toString();
    version->panreg = map.value(QStringLiteral("panreg")).toString();
    version->sha256 = map.value(QStringLiteral("sha256")).toString();
    version->signature = map.value(QStringLiteral("signature")).toString();
}

int UpdateCheck::versionCode(const QVariant& value)
{
    if (value.typeId() == QMetaType::QString) {
        bool ok = false;
        const int code = value.toString().toInt(&ok, 10);
        return ok ? code : 0;
    }
    if (value.typeId() != QMetaType::Double)
        return 0;
    // Only a whole number that fits: 39.5 or 1e20 is no release number.
    const double number = value.toDouble();
    if (number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max()
        || number != std::trunc(number))
        return 0;
    return static_cast<int>(number);
}

bool UpdateCheck::isNewer(const MVersion& version)
{
    return version.vercode > Constants::getInstance()->getVersionCode();
}

bool UpdateCheck::isOffered(const MVersion& version)
{
    if (!isNewer(version))
        return false;
    const char* missing = nullptr;
    if (ReleaseDigest::fromHex(version.sha256).isEmpty())
        missing = "sha256";
    else if (ReleaseSignature::fromBase64(version.signature).isEmpty())
        missing = "signature";
    if (!missing)
        return true;
    qCWarning(lcSync).noquote() << QStringLiteral("update: release %1 not offered: its record has no valid \"%2\"")
                                       .arg(version.vercode)
                                       .arg(QLatin1String(missing));
    return false;
}
