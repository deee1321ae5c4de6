#include "shell/uskin.h"

#include <QApplication>
#include <QColor>
#include <QPixmap>
#include <QPushButton>
#include <QRegularExpression>

#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "ui_uskin.h"

#include <cmath>

namespace {
constexpr int rows = 7;
constexpr int columns = 12;
const QString lineBreak = QStringLiteral("\r\n");
const QString defaultColour = QStringLiteral("#FFFFFF");
}

USkin::USkin(QWidget* parent)
    : QFrame(parent)
    , ui(new Ui::USkin)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Popup);

    const QStringList colours = palette();
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            const QString hex = colours.at(row * columns + column);
            auto* button = new QPushButton(this);
            // The click reads its colour back from this name.
            button->setObjectName(QStringLiteral("pb") + hex);
            QPixmap swatch(25, 25);
            swatch.fill(QColor(QLatin1Char('#') + hex));
            button->setIcon(QIcon(swatch));
            connect(button, &QPushButton::clicked, this, &USkin::colorClick);
            ui->gridLayout->addWidget(button, row, column);
        }
    }
}

USkin::~USkin()
{
    delete ui;
}

QStringList USkin::palette()
{
    return {
        // clang-format off
        QStringLiteral("7E0000"), QStringLiteral("844A00"), QStringLiteral("746700"), QStringLiteral("486A00"),
        QStringLiteral("005C56"), QStringLiteral("0B4B6C"), QStringLiteral("003158"), QStringLiteral("01004C"),
        QStringLiteral("2F004A"), QStringLiteral("500040"), QStringLiteral("700135"), QStringLiteral("202020"),
        QStringLiteral("960000"), QStringLiteral("965400"), QStringLiteral("968900"), QStringLiteral("4D7600"),
        QStringLiteral("006861"), QStringLiteral("005582"), QStringLiteral("003C74"), QStringLiteral("002E74"),
        QStringLiteral("440041"), QStringLiteral("66013F"), QStringLiteral("A4002E"), QStringLiteral("353535"),
        QStringLiteral("B20000"), QStringLiteral("AC6900"), QStringLiteral("C2B601"), QStringLiteral("6A940F"),
        QStringLiteral("00827A"), QStringLiteral("0074AA"), QStringLiteral("004B86"), QStringLiteral("003484"),
        QStringLiteral("53007A"), QStringLiteral("880056"), QStringLiteral("BE0035"), QStringLiteral("4F4F4F"),
        QStringLiteral("E60005"), QStringLiteral("E89107"), QStringLiteral("DCCF00"), QStringLiteral("7CAD14"),
        QStringLiteral("009C8F"), QStringLiteral("0086B8"), QStringLiteral("3367BE"), QStringLiteral("00469E"),
        QStringLiteral("5B0086"), QStringLiteral("A91E63"), QStringLiteral("E60046"), QStringLiteral("6E6E6E"),
        QStringLiteral("D8442B"), QStringLiteral("F49500"), QStringLiteral("F0E100"), QStringLiteral("8EC21F"),
        QStringLiteral("00AC9D"), QStringLiteral("019CE4"), QStringLiteral("4489C9"), QStringLiteral("4A6AC5"),
        QStringLiteral("7B31A6"), QStringLiteral("7B31A6"), QStringLiteral("EB6673"), QStringLiteral("8F8F8F"),
        QStringLiteral("EC6941"), QStringLiteral("FFAF31"), QStringLiteral("FFF053"), QStringLiteral("B3D465"),
        QStringLiteral("07C2B7"), QStringLiteral("01B8F4"), QStringLiteral("6596E8"), QStringLiteral("6B80C4"),
        QStringLiteral("8957A0"), QStringLiteral("8957A0"), QStringLiteral("F58088"), QStringLiteral("ACACAC"),
        QStringLiteral("F29B75"), QStringLiteral("F9C68A"), QStringLiteral("FFF58F"), QStringLiteral("CAE198"),
        QStringLiteral("85CCC8"), QStringLiteral("7DCBF4"), QStringLiteral("89ABDA"), QStringLiteral("8D97CA"),
        QStringLiteral("A989BC"), QStringLiteral("A989BC"), QStringLiteral("F19C9C"), QStringLiteral("C6C6C6"),
        // clang-format on
    };
}

QString USkin::colourRules(const QString& colour)
{
    return textRules(wantsDarkText(QColor(colour)) ? Ground::LightColour : Ground::DarkColour) + lineBreak
        + QStringLiteral("MainWindow{border-image:none;background-color:%1}").arg(colour) + lineBreak
        + QStringLiteral("QDialog[style=dialog]{border-image:none;background-color:%1}").arg(colour);
}

QString USkin::pictureRules()
{
    return textRules(Ground::Picture) + lineBreak
        + QStringLiteral("MainWindow{border-image:url(:/rc/images/BgMainWindow.png) 101 2 26 2 ;}") + lineBreak
        + QStringLiteral("QDialog[style=dialog]{border-image:url(:/rc/images/BgMessageBox.png) 60 2 40 2 ;}");
}

double USkin::luminance(const QColor& colour)
{
    const auto linear = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
}

bool USkin::wantsDarkText(const QColor& colour)
{
    // The contrast ratio of each text colour with the skin colour; the larger one wins.
    const double skin = luminance(colour) + 0.05;
    const double light = luminance(QColor(QStringLiteral("#C7E9FF"))) + 0.05;
    const double dark = luminance(QColor(QStringLiteral("#1E2B36"))) + 0.05;
    return skin / dark > light / skin;
}

QString USkin::textRules(Ground ground)
{
    // The texts and icons that lie on the skin colour: the title bar, the tool bar, the status bar,
    // the dialogs' title strips and the bill dialog, whose fields lie on it too. On the pictures
    // they take the style sheet's own colours again.
    const bool dark = ground == Ground::LightColour;
    const QString title = dark ? QStringLiteral("#1E2B36") : QStringLiteral("#C7E9FF");
    const QString status = dark ? QStringLiteral("#1E2B36") : QStringLiteral("white");
    // The synchronisation link keeps its own light colour: on a light skin it gets a dark ground.
    const QString link = dark ? QStringLiteral("#2F4A60") : QStringLiteral("transparent");
    const QString body
        = ground == Ground::DarkColour ? QStringLiteral("#F2F7FB") : QStringLiteral("palette(window-text)");
    const QString icon = dark ? QStringLiteral("Dark.png") : QStringLiteral(".png");
    QStringList rules {
        QStringLiteral("#lblWindowTitle,#lblCurrentBook,#cbBookList{color:%1}").arg(title),
        QStringLiteral("#wgtToolBar QToolButton{color:%1}").arg(title),
        QStringLiteral("#wgtStatusBar #lblSyncTime,#wgtStatusBar #lblMonthSummary,#wgtStatusBar "
                       "#lblTotalSummary{color:%1}")
            .arg(status),
        QStringLiteral("#wgtStatusBar #lblSync{background:%1;border-radius:3px;padding:0 4px}").arg(link),
        QStringLiteral("QDialog[style=dialog] #tlTitle{color:%1}").arg(title),
        QStringLiteral("DBill > #widget > QLabel,DBill > #widget > QRadioButton,DBill > #widget > QCheckBox{color:%1}")
            .arg(body),
    };
    for (const auto& [selector, image] : { std::pair { "#wgtTitleBar #pbSkin", "BtnToolBoxSetting" },
             std::pair { "#wgtTitleBar #minButton", "BtnToolBoxMin" },
             std::pair { "#wgtTitleBar #maxButton", "BtnToolBoxMax" },
             std::pair { "#wgtTitleBar #pbClose,QDialog[style=dialog] #pbClose", "BtnToolBoxClose" } }) {
        rules << QStringLiteral("%1{qproperty-icon:url(:/rc/images/%2%3)}")
                     .arg(QLatin1String(selector), QLatin1String(image), icon);
    }
    return lineBreak + rules.join(lineBreak);
}

bool USkin::isSkinColour(const QString& colour)
{
    // Anchored as a whole: "$" alone would let a trailing line break through.
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(QStringLiteral("#[0-9A-Fa-f]{6}")));
    return pattern.match(colour).hasMatch();
}

QString USkin::withStoredSkin(const QString& sheet)
{
    const QString colour = FileSetting::getInstance()->value(SettingKeys::SkinColor).toString();
    // "#FFFFFF" is the stored form of the default skin; "#ffffff" is a colour like any other.
    // Anything that is not a colour would be pasted into the sheet as rules of its own.
    if (colour == defaultColour || !isSkinColour(colour))
        return sheet;
    return sheet + colourRules(colour);
}

void USkin::colorClick()
{
    const QObject* button = sender();
    if (!button)
        return;
    const QString colour = QLatin1Char('#') + button->objectName().mid(2);
    qApp->setStyleSheet(qApp->styleSheet() + colourRules(colour));
    FileSetting::getInstance()->setValue(SettingKeys::SkinColor, colour);
}

void USkin::on_pbUseDefaultSkin_clicked()
{
    qApp->setStyleSheet(qApp->styleSheet() + pictureRules());
    FileSetting::getInstance()->setValue(SettingKeys::SkinColor, defaultColour);
}
