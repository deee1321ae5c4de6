#include "shell/utitlebar.h"

#include <QFileSystemWatcher>
#include <QListView>
#include <QMouseEvent>
#include <QTimer>

#include "data/booklist.h"
#include "data/constants.h"
#include "shell/uskin.h"
#include "widgets/appcontrol.h"
#include "widgets/dmessagebox.h"
#include "widgets/styledbackground.h"
#include "ui_utitlebar.h"

UTitleBar::UTitleBar(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::UTitleBar)
{
    ui->setupUi(this);
    // Resolved at each click: the bar is built inside its header before the window is complete.
    connect(ui->pbClose, &QPushButton::clicked, this, [this] { mainWindow()->close(); });
    connect(ui->minButton, &QPushButton::clicked, this, [this] { mainWindow()->showMinimized(); });

    ui->lblWindowTitle->setText(tr("Quorvane记账") + QLatin1Char(' ') + Constants::getInstance()->getVersion());
    ui->cbBookList->setView(new QListView(this));
    bindBookList();

    rebindTimer = new QTimer(this);
    rebindTimer->setSingleShot(true);
    rebindTimer->setInterval(100);
    connect(rebindTimer, &QTimer::timeout, this, [this] { bindBookList(); });
    auto* watcher = new QFileSystemWatcher(this);
    watcher->addPath(Constants::getInstance()->getDbDir());
    connect(watcher, &QFileSystemWatcher::directoryChanged, rebindTimer, qOverload<>(&QTimer::start));
}

UTitleBar::~UTitleBar()
{
    delete ui;
}

void UTitleBar::setContent(UContent* pageHost)
{
    content = pageHost;
}

QWidget* UTitleBar::mainWindow() const
{
    return window();
}

void UTitleBar::bindBookList(const QString&)
{
    const QSignalBlocker blocker(ui->cbBookList);
    ui->cbBookList->clear();

    const QStringList files = BookList::files(Constants::getInstance()->getDbDir());
    const QString current = BookList::displayName(Constants::getInstance()->getBookName());
    ui->cbBookList->addItem(tr("[切换账本]"));
    for (const QString& file : files) {
        const QString name = BookList::displayName(file);
        if (name != current)
            ui->cbBookList->addItem(name, file);
    }

    const bool several = files.size() >= 2;
    if (several)
        ui->lblCurrentBook->setText(current);
    ui->lblCurrentBook->setVisible(several);
    ui->cbBookList->setVisible(several);
}

void UTitleBar::on_cbBookList_currentIndexChanged(int index)
{
    const QString file = ui->cbBookList->itemData(index).toString();
    if (file.isEmpty())
        return;
    // The running program never swaps its open book: it starts again on the chosen one.
    if (!AppControl::restart({ QStringLiteral("book"), file })) {
        DMessageBox::error(this, tr("无法重新启动程序，账本没有切换。"));
        bindBookList();
    }
}

void UTitleBar::on_pbSkin_clicked()
{
    auto* skin = new USkin();
    // A new palette opens at every click; a closed one is not needed again.
    skin->setAttribute(Qt::WA_DeleteOnClose);
    skin->show();
    const QPoint g = mapToGlobal(ui->pbSkin->pos());
    skin->move(g.x() + 110 - skin->width(), g.y() + ui->pbSkin->height());
}

void UTitleBar::on_maxButton_clicked()
{
    QWidget* window = mainWindow();
    if (window->isMaximized())
        window->showNormal();
    else
        window->showMaximized();
}

void UTitleBar::mouseDoubleClickEvent(QMouseEvent* event)
{
    on_maxButton_clicked();
    event->accept();
}

void UTitleBar::mousePressEvent(QMouseEvent* event)
{
    dragPosition = event->globalPosition().toPoint();
    event->accept();
}

void UTitleBar::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    if (event->buttons() != Qt::LeftButton)
        return;
    const QPoint globalPosition = event->globalPosition().toPoint();
    QWidget* window = mainWindow();
    window->move(window->pos() + (globalPosition - dragPosition));
    dragPosition = globalPosition;
}

void UTitleBar::paintEvent(QPaintEvent*)
{
    paintStyledBackground(this);
}
