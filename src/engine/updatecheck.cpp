#include "engine/updatecheck.h"

#include <QVariantMap>
#include <cmath>
#include <limits>

#include "data/constants.h"
#include "data/mversion.h"
#include "engine/httphelper.h"
#include "engine/json.h"
#include "engine/servicepaths.h"

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
