#pragma once

#include <QDate>
#include <QMainWindow>
#include <QSystemTrayIcon>
#include <functional>

class QAction;
class QMenu;

namespace Ui {
class MainWindow;
}

// The program's one top-level window. Its constructor opens the current book (creating it from the
// template when missing), brings it up to date, and builds the header, the pages and the status bar.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // False when the book could not be opened; the user has been told and the window is empty.
    bool isBookOpen() const { return bookOpen; }

    // What the window asks of its surroundings; tests replace them.
    struct Environment {
        std::function<QDate()> today = [] { return QDate::currentDate(); };
        std::function<bool()> trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    };
    static Environment& environment();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private slots:
    void iconActivated(QSystemTrayIcon::ActivationReason reason);
    void checkUpdate();

private:
    // False with the reason for the user in *failure (empty: the book's file could not be opened).
    bool openBook(QString* failure);
    void createTrayMenu();
    void createTrayIcon();
    void showHiddenBalloon();
    static void enableMouseTracking(QWidget* widget);

    Ui::MainWindow* ui;
    QSystemTrayIcon* trayIcon = nullptr;
    QMenu* trayMenu = nullptr;
    QAction* minimizeAction = nullptr;
    QAction* maximizeAction = nullptr;
    QAction* restoreAction = nullptr;
    QAction* quitAction = nullptr;
    bool bookOpen = false;
    // The book was not opened because another running copy of the program has it open.
    bool bookHeldElsewhere = false;
    // The book can be read but not written (its file or its folder).
    bool bookReadOnly = false;
    // Where the window was before it was maximised; set while the window adjusts it itself.
    QRect geometryBeforeMaximised;
    bool adjustingGeometry = false;
};
