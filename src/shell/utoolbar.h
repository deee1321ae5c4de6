#pragma once

#include <QWidget>

class UContent;

namespace Ui {
class UToolBar;
}

// The row of large buttons under the title bar: four switch the top-level page, three open the web
// site, the microblog page and the feedback form.
class UToolBar : public QWidget
{
    Q_OBJECT

public:
    explicit UToolBar(QWidget* parent = nullptr);
    ~UToolBar() override;

    void setContent(UContent* content);

    static QUrl websiteUrl();
    static QUrl weiboUrl();

protected:
    void paintEvent(QPaintEvent* event) override;

private slots:
    void on_pbBook_clicked();
    void on_tbSync_clicked();
    void on_tbData_clicked();
    void on_tbSetting_clicked();
    void on_tbWebsite_clicked();
    void on_tbWeibo_clicked();
    void on_tbFeedback_clicked();

private:
    void switchPage(const QString& name);

    Ui::UToolBar* ui;
    UContent* content = nullptr;
};
