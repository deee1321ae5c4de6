#pragma once

#include <QColor>
#include <QPushButton>
#include <QString>

// A push button that stands for a colour: a 16 × 16 swatch as its icon, the colour's name as its
// tool tip, and the standard colour dialog on a click. Its own handler is connected in the
// constructor, before anyone else can connect to clicked(), so every later receiver of the click
// reads the colour the user has just chosen (or the unchanged one when the dialog was cancelled).
class QColorButton : public QPushButton {
    Q_OBJECT

public:
    explicit QColorButton(QWidget* parent = nullptr);

    void setColor(const QColor& newColor);
    QColor color() const { return currentColor; }

    // The caption of the button. Hides QPushButton::setText so that the caption is remembered and
    // comes back after the colour's name was shown in its place.
    void setText(const QString& text);
    // Shows text on the button without making it the caption.
    void setButtonText(const QString& text);
    void setShowName(bool on);
    void setShowToolTip(bool on);

private slots:
    void slotChangeColor();

private:
    bool showName = false;
    bool showToolTip = true;
    QColor currentColor;
    QString ownText;
};
