#pragma once

#include <QDialog>
#include <QUrl>

namespace Ui {
class DSyncConfig;
}

// The sync account of the open book and the switches for synchronising at start and at close. OK
// stores them as typed (the book keeps its user id and last synchronisation time); the account can
// be checked with the web service before, which stores nothing.
class DSyncConfig : public QDialog {
    Q_OBJECT

public:
    explicit DSyncConfig(QWidget* parent = nullptr);
    ~DSyncConfig() override;

    // The web site's home page, where accounts are signed up for.
    static QUrl signupUrl();

public slots:
    void done(int result) override;

protected:
    void paintEvent(QPaintEvent* event) override;

private slots:
    void on_pbOK_clicked();
    void on_pbCancel_clicked();
    void on_pbSignup_clicked();
    void on_pbCheckAccount_clicked();
    void downloadHtml(const QString& html);
    void downloadError();

private:
    Ui::DSyncConfig* ui;
};
