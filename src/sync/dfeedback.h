#pragma once

#include <QDialog>
#include <QString>

namespace Ui {
class DFeedback;
}

// "留言反馈": the user's e-mail address, typed twice, and a message to the developers, posted to the
// web service. The address is remembered once it passes the checks; the service's answer decides
// between a success notice, which closes the dialog, and an error that gives the button back.
class DFeedback : public QDialog {
    Q_OBJECT

public:
    explicit DFeedback(QWidget* parent);
    ~DFeedback() override;

    // The whole text is an e-mail address (letters in any case).
    static bool isEmailAddress(const QString& text);
    // A message shorter than this is refused.
    static constexpr int minimumContentLength = 20;

protected:
    void paintEvent(QPaintEvent* event) override;

private slots:
    void on_pbOK_clicked();
    void feedbackSent(const QString& html);
    void sendError();
    void on_pbCancel_clicked();

private:
    Ui::DFeedback* ui;
};
