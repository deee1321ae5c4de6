#pragma once

#include <QDialog>

namespace Ui {
class DSync;
}

// The progress dialog of a synchronisation the user sees: its constructor starts one (or, while one
// is already under way, follows that one) and the dialog shows it is busy, then reports success or
// the error and closes, on its own when the user asked for that. It follows exactly that run and
// nothing after its modal run has ended.
class DSync : public QDialog {
    Q_OBJECT

public:
    explicit DSync(QWidget* parent = nullptr);
    ~DSync() override;

public slots:
    void done(int result) override;

protected:
    void paintEvent(QPaintEvent* event) override;

private slots:
    void syncLog(const QString& text);
    void syncProgress(float progress);
    void syncFinished();
    void syncError(int code, const QString& message);
    void clockWarning(qint64 seconds);
    void on_pbOK_clicked();
    void on_cbAutoClose_clicked();

private:
    void stopFollowing();
    // Ends the modal run, also when the run's end arrives before exec() has shown the dialog.
    void closeWith(int result);

    Ui::DSync* ui;
    // The run's warning about the computer's clock, shown with its outcome.
    QString clockText;
};
