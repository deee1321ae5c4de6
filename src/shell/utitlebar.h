#pragma once

#include <QPoint>
#include <QWidget>

class QTimer;
class UContent;

namespace Ui {
class UTitleBar;
}

// The title bar of the frameless main window: title and version, the open book and the book
// switcher, the skin button and the minimise, maximise/restore and close buttons. The user drags
// the window by it and toggles maximised by a double click. The window it drives is the one it
// sits in (window()), reached through QWidget alone, so any top-level window can host it.
class UTitleBar : public QWidget {
    Q_OBJECT

public:
    explicit UTitleBar(QWidget* parent = nullptr);
    ~UTitleBar() override;

    void setContent(UContent* content);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private slots:
    void on_maxButton_clicked();
    // Switching books restarts the program on the chosen book.
    void on_cbBookList_currentIndexChanged(int index);
    // Rebuilds the switcher from the book folder; the argument (the watcher's path) is unused.
    void bindBookList(const QString& path = QString());
    void on_pbSkin_clicked();

private:
    QWidget* mainWindow() const;

    // Global pointer position of the last press or drag step.
    QPoint dragPosition;
    Ui::UTitleBar* ui;
    UContent* content = nullptr;
    // Gathers the bursts of folder changes (a journal file comes and goes with every write to
    // the open book) into one rebuild.
    QTimer* rebindTimer = nullptr;
};
