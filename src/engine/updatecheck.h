#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

class MVersion;

// The update check without a window: one request for the web service's newest release record, the
// record read from the answer, and the comparison with this program's own release.
class UpdateCheck : public QObject {
    Q_OBJECT

public:
    explicit UpdateCheck(QObject* parent);

    // Sends one request. A failed request is left unanswered: the check is silent unless there is
    // something to offer.
    void request();

    // Fills version from an answer's text, a JSON object.
    static void read(const QString& text, MVersion* version);
    // The release number of an answer's "vercode": a JSON number or a text holding a decimal
    // integer; anything else, a missing key included, gives 0.
    static int versionCode(const QVariant& value);
    // True when version is a later release than this program.
    static bool isNewer(const MVersion& version);
    // True when version is a later release whose record carries a well-formed digest and signature
    // of its file; a later release without them is not offered, and the log says why.
    static bool isOffered(const MVersion& version);

signals:
    // The answer's text.
    void answered(const QString& text);
};
