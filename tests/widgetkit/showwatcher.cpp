#include "showwatcher.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

ShowWatcher::ShowWatcher(const char* name, std::function<void(QWidget*)> callback, QObject* parent)
    : QObject(parent)
    , className(name)
    , onShown(std::move(callback))
{
    qApp->installEventFilter(this);
}

ShowWatcher::~ShowWatcher()
{
    qApp->removeEventFilter(this);
}

bool ShowWatcher::eventFilter(QObject* watched, QEvent* event)
{
    // Spontaneous show events come from the window system for a window already shown.
    if (event->type() == QEvent::Show && !event->spontaneous() && watched->isWidgetType()
        && watched->inherits(className.constData())) {
        ++shown;
        onShown(static_cast<QWidget*>(watched));
    }
    return false;
}
