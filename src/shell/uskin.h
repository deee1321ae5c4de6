#pragma once

#include <QFrame>

class QColor;

namespace Ui {
class USkin;
}

// The skin palette: a pop-up of 84 colour swatches in 7 rows of 12 and a button that brings the
// pictures back. A choice recolours the main window and every dialog at once by appending rules
// to the application style sheet, and is remembered under Color/SkinColor.
class USkin : public QFrame {
    Q_OBJECT

public:
    explicit USkin(QWidget* parent = nullptr);
    ~USkin() override;

    // The swatch colours, row by row ("7E0000", …).
    static QStringList palette();
    // The two rules that colour the main window and the dialogs, each behind a CR LF, after the
    // rules that keep the texts and icons on that colour readable.
    static QString colourRules(const QString& colour);
    // The two rules that bring their pictures back, each behind a CR LF, after the rules that give
    // the texts and icons on them their own colours back.
    static QString pictureRules();
    // Dark texts and icons stand out more than the light ones on colour.
    static bool wantsDarkText(const QColor& colour);
    // sheet with the colour rules for the stored skin colour appended, when one is stored.
    // Only "#" and six hex digits count as a colour; anything else stored is ignored.
    static QString withStoredSkin(const QString& sheet);
    static bool isSkinColour(const QString& colour);

private slots:
    void colorClick();
    void on_pbUseDefaultSkin_clicked();

private:
    enum class Ground { Picture, DarkColour, LightColour };
    static double luminance(const QColor& colour);
    // The colours of the texts and icons that lie on the skin's ground.
    static QString textRules(Ground ground);

    Ui::USkin* ui;
};
