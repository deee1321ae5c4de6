#include "widgettest.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QSqlDatabase>

#include "data/sqlhelper.h"
#include "testenv.h"

namespace WidgetTest {
void sendMouse(
    QWidget* target, QEvent::Type type, const QPoint& local, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(local), QPointF(target->mapToGlobal(local)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

QStringList itemTexts(const QComboBox* box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

bool setModified(const QString& path, int secondsAgo)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite)
        && file.setFileTime(QDateTime::currentDateTime().addSecs(-secondsAgo), QFileDevice::FileModificationTime);
}

bool makeBook(const QString& path, const QVariant& storedPassword)
{
    return TestBook::copyTemplate(path)
        && withBookConnection(path, QStringLiteral("fixture"), BookAccess::ReadWrite, [&](QSqlDatabase& db) {
               return execWrite(db, QStringLiteral("update tbl_setting set password = ?"), { storedPassword });
           });
}
}
