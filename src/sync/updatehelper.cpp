#include "sync/updatehelper.h"

#include <QWidget>

#include "data/mversion.h"
#include "engine/updatecheck.h"
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
    auto* check = new UpdateCheck(this);
    connect(check, &UpdateCheck::answered, this, &UpdateHelper::downloaded);
    check->request();
}

void UpdateHelper::downloaded(const QString& text)
{
    UpdateCheck::read(text, version);
    emit versionChecked(version);

    if (!showDialog || !UpdateCheck::isOffered(*version))
        return;
    // Stays a child of the window it was opened over; the record stays alive with this helper.
    auto* dialog = new DUpdate(qobject_cast<QWidget*>(parentWidget), version);
    dialog->exec();
}
