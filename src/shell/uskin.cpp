#include "shell/uskin.h"

#include <QApplication>
#include <QPixmap>
#include <QPushButton>
#include <QRegularExpression>

#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "ui_uskin.h"

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
    return lineBreak + QStringLiteral("MainWindow{border-image:none;background-color:%1}").arg(colour) + lineBreak
        + QStringLiteral("QDialog[style=dialog]{border-image:none;background-color:%1}").arg(colour);
}

QString USkin::pictureRules()
{
    return lineBreak + QStringLiteral("MainWindow{border-image:url(:/rc/images/BgMainWindow.png) 101 2 26 2 ;}")
        + lineBreak
        + QStringLiteral("QDialog[style=dialog]{border-image:url(:/rc/images/BgMessageBox.png) 60 2 40 2 ;}");
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
