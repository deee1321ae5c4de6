#pragma once

// Small helpers shared by widget tests.
#include <QMouseEvent>
#include <QStringList>
#include <QVariant>

class QComboBox;
class QWidget;

namespace WidgetTest {
// Sends a mouse event straight to target, at local and at the matching global position. Held
// buttons reach the widget exactly as given (QTest's mouse moves do not carry them reliably).
void sendMouse(
    QWidget* target, QEvent::Type type, const QPoint& local, Qt::MouseButton button, Qt::MouseButtons buttons);
// The texts of a combo box's items, in order.
QStringList itemTexts(const QComboBox* box);
// Creates path when missing and sets its modification time secondsAgo into the past.
bool setModified(const QString& path, int secondsAgo);
// A copy of the template book at path whose login password column holds storedPassword as it
// stands: scrambled, as the program stores it, or anything else a test wants found there. A null
// QVariant leaves the column NULL.
bool makeBook(const QString& path, const QVariant& storedPassword = QVariant());
}
