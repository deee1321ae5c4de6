#include "sync/updatehelper.h"

#include <QVariantMap>
#include <QWidget>
#include <cmath>
#include <limits>

#include "data/constants.h"
#include "data/mversion.h"
#include "engine/httphelper.h"
#include "engine/json.h"
#include "engine/servicepaths.h"
#include "sync/dupdate.h"

UpdateHelper::UpdateHelper(QObject* parent, bool showDialog)
    : QObject(parent)
    , parentWidget(parent)
    , showDialog(showDialog)
    , version(new MVersion(this))
{
}

void UpdateHelper::checkVersion()
{
    auto* http = new HttpHelper(this);
    // A failed request is left unanswered: the check is silent unless there is something to offer.
    connect(http, &HttpHelper::finished, this, &UpdateHelper::downloaded);
    http->get(Constants::getBaseUrl() + ServicePaths::Version);
}

int UpdateHelper::versionCode(const QVariant& value)
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

void UpdateHelper::downloaded(const QString& text)
{
    const QVariantMap map = JSON::getInstance()->parseMap(text);
    version->description = map.value(QStringLiteral("description")).toString();
    version->vername = map.value(QStringLiteral("vername")).toString();
    version->vercode = versionCode(map.value(QStringLiteral("vercode")));
    version->url1 = map.value(QStringLiteral("url1")).toString();
    version->url2 = map.value(QStringLiteral("url2")).toString();
    version->panurl = map.value(QStringLiteral("panurl")).toString();
    version->panreg = map.value(QStringLiteral("panreg")).toString();
    emit versionChecked(version);

    if (!showDialog || version->vercode <= Constants::getInstance()->getVersionCode())
        return;
    // Stays a child of the window it was opened over; the record stays alive with this helper.
    auto* dialog = new DUpdate(qobject_cast<QWidget*>(parentWidget), version);
    dialog->exec();
}
