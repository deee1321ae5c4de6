#pragma once

#include <QObject>
#include <functional>

class QWidget;

// Calls back whenever a widget of the given class (QObject::inherits) is shown, from inside show()
// and so before a dialog's exec() runs its event loop: a test can hook itself to a dialog the code
// under test creates and runs, before anything can have happened in it.
class ShowWatcher : public QObject {
    Q_OBJECT

public:
    ShowWatcher(const char* className, std::function<void(QWidget*)> onShown, QObject* parent = nullptr);
    ~ShowWatcher() override;

    int count() const { return shown; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QByteArray className;
    std::function<void(QWidget*)> onShown;
    int shown = 0;
};
