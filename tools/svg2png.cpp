// Renders the program's SVG artwork into the PNG files the resources carry.
// Usage: svg2png <input.svg> <output.png> [width height]
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3 && args.size() != 5) {
        std::fprintf(stderr, "usage: svg2png <input.svg> <output.png> [width height]\n");
        return 2;
    }
    QSvgRenderer renderer(args.at(1));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "svg2png: cannot read %s\n", qPrintable(args.at(1)));
        return 1;
    }
    QSize size = renderer.defaultSize();
    if (args.size() == 5)
        size = QSize(args.at(3).toInt(), args.at(4).toInt());
    if (size.isEmpty()) {
        std::fprintf(stderr, "svg2png: %s has no size\n", qPrintable(args.at(1)));
        return 1;
    }
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    renderer.render(&painter);
    painter.end();
    if (!image.save(args.at(2), "PNG")) {
        std::fprintf(stderr, "svg2png: cannot write %s\n", qPrintable(args.at(2)));
        return 1;
    }
    return 0;
}
