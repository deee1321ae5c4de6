#pragma once

// ModalAnswerer answers the modal boxes and dialogs that the code under test opens with exec(),
// in the order the test expects them, and fails the test on any box it was not told about.
//
//     ModalAnswerer boxes;                                    // arm it before the code that prompts
//     boxes.expect("密码错误", "您输入的密码有错误！", "确定");    // title, text, button to press
//     boxes.expect(ModalAnswerer::titled("错误"), ModalAnswerer::escape());
//     QTest::mouseClick(dialog.findChild<QPushButton*>("pbOK"), Qt::LeftButton);
//     QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
//
// How it works: while the answerer lives, a timer looks at QApplication::activeModalWidget()
// every few milliseconds, so it also answers boxes opened from inside a slot, from a dialog's
// constructor or from inside another modal dialog. Each modal widget is looked at once, the
// first time it is the active modal widget: it is matched against the next expectation and, when
// it matches, gets that expectation's answer (run from the box's own event loop). A modal widget
// that does not match, or that comes when nothing is expected, is recorded as unexpected and
// dismissed (reject() or close()) so the test cannot hang.
//
// Titles and texts are read the way the user sees them: for the program's own dialogs the title
// strip's "tlTitle" and the message label "tlText", for QMessageBox windowTitle() and text().
// Buttons are found by their visible text without "&" ("确定", "是", "OK", "&Yes" → "Yes").
//
// The test fails (QTest::qFail) when the answerer is destroyed with expectations left over or
// unexpected boxes seen, unless answeredAll() was already checked by the test.
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>

class QTimer;
class QWidget;

class ModalAnswerer : public QObject {
    Q_OBJECT

public:
    using Matcher = std::function<bool(QWidget* modal)>;
    using Answer = std::function<void(QWidget* modal)>;

    explicit ModalAnswerer(QObject* parent = nullptr);
    ~ModalAnswerer() override;

    // Expects a box with this title and text (a null text matches any) and presses buttonText.
    ModalAnswerer& expect(const QString& title, const QString& text, const QString& buttonText);
    ModalAnswerer& expect(const Matcher& matcher, const Answer& answer, const QString& description = QString());
    // Modal widgets that match are left to the test: neither answered nor counted as unexpected
    // (a progress dialog that closes by itself, at a moment the test does not choose).
    ModalAnswerer& leave(const Matcher& matcher);

    // Matchers.
    static Matcher titled(const QString& title);
    static Matcher box(const QString& title, const QString& text);
    // A modal widget of this class (QObject::inherits), e.g. "DLogin".
    static Matcher ofClass(const char* className);

    // Answers.
    static Answer press(const QString& buttonText);
    static Answer escape();
    // The close button of the program's dialog title strip.
    static Answer closeStrip();
    static Answer closeWindow();
    // The answer a test table names: "escape", "return" (the keys), "strip" (closeStrip()),
    // "window" (closeWindow()); any other name presses the button with that text.
    static Answer named(const QString& how);

    // What the user sees, as the matchers read it.
    static QString titleOf(QWidget* modal);
    static QString textOf(QWidget* modal);
    static QStringList buttonTextsOf(QWidget* modal);

    // Spins the event loop until every expectation is answered or timeoutMs passes.
    bool waitAnswered(int timeoutMs = 5000);
    // True when every expectation was answered and nothing unexpected came. Marks the result as
    // checked by the test.
    bool answeredAll();
    // What is left over and what was unexpected, for the failure message.
    QString report() const;
    // Descriptions ("title | text") of every modal widget seen, in order.
    QStringList seen() const { return seenBoxes; }

private:
    struct Expectation {
        Matcher matcher;
        Answer answer;
        QString description;
    };

    void poll();
    static QString describe(QWidget* modal);

    QTimer* timer = nullptr;
    QList<Expectation> pending;
    QList<Matcher> leftAlone;
    QList<QPointer<QWidget>> handled;
    QStringList unexpectedBoxes;
    QStringList seenBoxes;
    bool checked = false;
};
