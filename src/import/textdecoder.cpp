#include "import/textdecoder.h"

#include <memory>

#include <QObject>
#include <QStringDecoder>

#include <uchardet/uchardet.h>

namespace {

const QByteArray Utf8Bom("\xEF\xBB\xBF");
const QByteArray Utf16LeBom("\xFF\xFE");
const QByteArray Utf16BeBom("\xFE\xFF");

// What uchardet has seen enough of: the first megabyte tells the encoding of a statement.
const qsizetype DetectionBytes = 1 << 20;

QString fromBom(const QByteArray& bytes)
{
    if (bytes.startsWith(Utf8Bom))
        return QStringLiteral("UTF-8");
    if (bytes.startsWith(Utf16LeBom))
        return QStringLiteral("UTF-16LE");
    if (bytes.startsWith(Utf16BeBom))
        return QStringLiteral("UTF-16BE");
    return QString();
}

bool isUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

// uchardet's names for what the offered encodings cover.
QString offeredName(const QString& detected)
{
    const QString upper = detected.toUpper();
    if (upper == QLatin1String("GB18030") || upper == QLatin1String("GBK") || upper == QLatin1String("GB2312")
        || upper == QLatin1String("HZ-GB-2312") || upper == QLatin1String("EUC-CN"))
        return QStringLiteral("GB18030");
    if (upper == QLatin1String("UTF-8") || upper == QLatin1String("ASCII"))
        return QStringLiteral("UTF-8");
    return detected;
}

} // namespace

QStringList TextDecoder::encodings()
{
    return { QStringLiteral("UTF-8"), QStringLiteral("GB18030"), QStringLiteral("UTF-16LE"),
        QStringLiteral("UTF-16BE") };
}

bool TextDecoder::looksBinary(const QByteArray& bytes)
{
    // Text has no NUL bytes (outside UTF-16, which the caller has ruled out) and few control
    // characters besides tab and the line ends.
    const qsizetype sample = std::min<qsizetype>(bytes.size(), DetectionBytes);
    qsizetype controls = 0;
    for (qsizetype i = 0; i < sample; ++i) {
        const auto c = static_cast<unsigned char>(bytes.at(i));
        if (c == 0)
            return true;
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f')
            ++controls;
    }
    return controls * 100 > sample;
}

QString TextDecoder::detect(const QByteArray& bytes)
{
    const QString marked = fromBom(bytes);
    if (!marked.isEmpty())
        return marked;
    if (looksBinary(bytes))
        return QString();
    if (isUtf8(bytes))
        return QStringLiteral("UTF-8");

    const std::unique_ptr<std::remove_pointer_t<uchardet_t>, void (*)(uchardet_t)> detector(
        uchardet_new(), uchardet_delete);
    const QByteArray sample = bytes.left(DetectionBytes);
    if (uchardet_handle_data(detector.get(), sample.constData(), size_t(sample.size())) != 0)
        return QString();
    uchardet_data_end(detector.get());
    const QString detected = offeredName(QString::fromLatin1(uchardet_get_charset(detector.get())));
    // Statements come in the offered encodings; a guess of another one (a Western code page for a
    // few stray bytes) is no more than a guess, and one whose decoding fails tells nothing.
    if (!encodings().contains(detected))
        return QString();
    QStringDecoder decoder(detected.toLatin1().constData());
    const QString text = decoder.decode(bytes);
    return decoder.hasError() ? QString() : detected;
}

TextDecoder::Result TextDecoder::decode(const QByteArray& bytes, const QString& encoding)
{
    Result result;
    if (bytes.isEmpty()) {
        result.error = QObject::tr("文件是空的。");
        return result;
    }
    // Most files are UTF-8: one pass tells it and decodes them.
    if (encoding.isEmpty() && fromBom(bytes).isEmpty() && !looksBinary(bytes)) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
        QString text = utf8.decode(bytes);
        if (!utf8.hasError() && !text.contains(QChar(0))) {
            result.ok = true;
            result.encoding = QStringLiteral("UTF-8");
            result.text = std::move(text);
            return result;
        }
    }
    result.encoding = encoding.isEmpty() ? detect(bytes) : encoding;
    if (result.encoding.isEmpty()) {
        result.error = looksBinary(bytes) && fromBom(bytes).isEmpty()
            ? QObject::tr("这不是一个文本文件。")
            : QObject::tr("无法识别文件的编码，请选择文件的编码。");
        return result;
    }
    QStringDecoder decoder(result.encoding.toLatin1().constData(), QStringConverter::Flag::Stateless);
    if (!decoder.isValid()) {
        result.error = QObject::tr("不支持的编码：%1").arg(result.encoding);
        return result;
    }
    QByteArray body = bytes;
    const QString marked = fromBom(bytes);
    if (marked == result.encoding)
        body.remove(0, marked == QLatin1String("UTF-8") ? Utf8Bom.size() : Utf16LeBom.size());
    result.text = decoder.decode(body);
    if (decoder.hasError()) {
        result.text.clear();
        result.error = QObject::tr("文件不是 %1 编码，请选择文件的编码。").arg(result.encoding);
        return result;
    }
    if (result.text.contains(QChar(0))) {
        result.text.clear();
        result.error = QObject::tr("这不是一个文本文件。");
        return result;
    }
    result.ok = true;
    return result;
}
