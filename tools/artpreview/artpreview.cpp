// Renders a contact sheet of the rendered images and mock-ups of the main window, a message box,
// a dialog with coloured buttons and the skin palette, all dressed by the application style sheet.
// Usage: artpreview <images dir> <default.qss> <output dir> [skin colour]
#include <QApplication>
#include <QBoxLayout>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMainWindow>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSizeGrip>
#include <QSpinBox>
#include <QStyleOption>
#include <QToolButton>
#include <QTreeWidget>

static QString gImages;

static QIcon icon(const QString& name)
{
    return QIcon(gImages + "/" + name + ".png");
}
static QPixmap pix(const QString& name)
{
    return QPixmap(gImages + "/" + name + ".png");
}

// Plain widget classes paint their background through the style, as the program's do.
#define STYLED_WIDGET(Name, Base)                                                                                      \
    class Name : public Base {                                                                                         \
        Q_OBJECT                                                                                                       \
    public:                                                                                                            \
        explicit Name(QWidget* parent = nullptr)                                                                       \
            : Base(parent)                                                                                             \
        {                                                                                                              \
        }                                                                                                              \
                                                                                                                       \
    protected:                                                                                                         \
        void paintEvent(QPaintEvent*) override                                                                         \
        {                                                                                                              \
            QStyleOption opt;                                                                                          \
            opt.initFrom(this);                                                                                        \
            QPainter p(this);                                                                                          \
            style()->drawPrimitive(QStyle::PE_Widget, &opt, &p, this);                                                 \
        }                                                                                                              \
    };

STYLED_WIDGET(UHeader, QWidget)
STYLED_WIDGET(UTitleBar, QWidget)
STYLED_WIDGET(UToolBar, QWidget)
STYLED_WIDGET(UContent, QWidget)
STYLED_WIDGET(UBook, QWidget)
STYLED_WIDGET(UMenuBar, QWidget)
STYLED_WIDGET(UStatusBar, QWidget)
STYLED_WIDGET(WBillList, QWidget)
STYLED_WIDGET(UDialogTitle, QWidget)
STYLED_WIDGET(DMessageBox, QDialog)
STYLED_WIDGET(DBill, QDialog)
STYLED_WIDGET(USkin, QFrame)

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr)
        : QMainWindow(parent)
    {
    }
};

static QPushButton* tbButton(QWidget* parent, const QString& objectName, const QString& iconName)
{
    auto* b = new QPushButton(parent);
    b->setObjectName(objectName);
    b->setIcon(icon(iconName));
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

static QLabel* pixLabel(QWidget* parent, const QString& name)
{
    auto* l = new QLabel(parent);
    l->setPixmap(pix(name));
    return l;
}

static QWidget* buildTitleBar(QWidget* parent)
{
    auto* bar = new UTitleBar(parent);
    bar->setObjectName("wgtTitleBar");
    bar->setMinimumHeight(21);
    bar->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Fixed);
    auto* h = new QHBoxLayout(bar);
    h->setSpacing(0);
    h->setContentsMargins(0, 0, 0, 0);
    QFont f("宋体", 10);
    f.setBold(true);
    auto* title = new QLabel("Quorvane记账 1.6", bar);
    title->setObjectName("lblWindowTitle");
    title->setFont(f);
    title->setIndent(20);
    title->setMinimumHeight(21);
    auto* book = new QLabel("家庭账本", bar);
    book->setObjectName("lblCurrentBook");
    book->setFont(f);
    book->setIndent(20);
    auto* cb = new QComboBox(bar);
    cb->setObjectName("cbBookList");
    cb->setView(new QListView(bar));
    cb->addItems({ "[切换账本]", "旅行账本", "公司报销" });
    cb->setFocusPolicy(Qt::NoFocus);
    h->addWidget(title);
    h->addWidget(book);
    h->addWidget(cb);
    h->addStretch();
    h->addWidget(tbButton(bar, "pbSkin", "BtnToolBoxSetting"));
    h->addWidget(pixLabel(bar, "BgToolBoxSeparator"));
    h->addWidget(tbButton(bar, "minButton", "BtnToolBoxMin"));
    h->addWidget(pixLabel(bar, "BgToolBoxSeparator"));
    h->addWidget(tbButton(bar, "maxButton", "BtnToolBoxMax"));
    h->addWidget(pixLabel(bar, "BgToolBoxSeparator"));
    h->addWidget(tbButton(bar, "pbClose", "BtnToolBoxClose"));
    return bar;
}

static QWidget* buildToolBar(QWidget* parent, int hovered)
{
    auto* bar = new UToolBar(parent);
    bar->setObjectName("wgtToolBar");
    bar->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Fixed);
    auto* h = new QHBoxLayout(bar);
    h->setSpacing(4);
    h->setContentsMargins(20, 5, 0, 0);
    const QList<QPair<QString, QString>> buttons = { { "我的账本", "IcoHome" }, { "数据同步", "IcoSync" },
        { "数据管理", "IcoDatabase" }, { "系统设置", "IcoSetting" }, { "访问网站", "IcoWebsite" },
        { "微博关注", "IcoWeibo" }, { "留言反馈", "IcoFeedback" } };
    for (int i = 0; i < buttons.size(); ++i) {
        auto* b = new QToolButton(bar);
        b->setText(buttons[i].first);
        b->setIcon(icon(buttons[i].second));
        b->setIconSize(QSize(38, 38));
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setCheckable(i < 4);
        b->setAutoExclusive(i < 4);
        b->setChecked(i == 0);
        if (i == hovered)
            b->setAttribute(Qt::WA_UnderMouse);
        h->addWidget(b);
    }
    h->addStretch();
    auto* cloud = new QFrame(bar);
    cloud->setObjectName("fmCloud");
    cloud->setMinimumSize(161, 76);
    cloud->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    h->addWidget(cloud);
    return bar;
}

static QWidget* buildMenuBar(QWidget* parent)
{
    auto* menu = new UMenuBar(parent);
    menu->setObjectName("wgtMenuBar");
    menu->setMinimumWidth(131);
    menu->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    menu->resize(202, 510);
    auto* v = new QVBoxLayout(menu);
    v->setSpacing(0);
    v->setContentsMargins(0, 5, 0, 0);
    auto* nb = tbButton(menu, "tbNewBill", "BtnNewBill");
    nb->setIconSize(QSize(100, 64));
    nb->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    nb->setCheckable(true);
    nb->setAutoExclusive(true);
    v->addWidget(nb);
    v->addSpacing(8);
    const QList<QStringList> items = { { "tbBillList", "账目列表", "IcoBillList" },
        { "tbAccountList", "账户列表", "IcoAccount" }, { "tbCategoryList", "分类列表", "IcoCategory" },
        { "tbBorrowerList", "借 款 人", "IcoBorrower" }, { "tbMemberList", "成员管理", "IcoMember" }, {},
        { "pbCategoryAnalysis", "分类分析", "IcoCategoryAnalysis" },
        { "pbAccountAnalysis", "账户分析", "IcoAccountAnalysis" },
        { "pbBorrowerAnalysis", "借款人分析", "IcoBorrower" }, { "pbMemberAnalysis", "成员分析", "IcoMemberAnalysis" },
        { "pbBillStat", "账目汇总", "IcoBillStat" } };
    for (const QStringList& it : items) {
        if (it.isEmpty()) {
            v->addSpacing(30);
            continue;
        }
        auto* b = tbButton(menu, it[0], it[2]);
        b->setText(it[1]);
        b->setIconSize(QSize(18, 18));
        b->setCheckable(true);
        b->setAutoExclusive(true);
        b->setChecked(it[0] == "tbBillList");
        if (it[0] == "pbAccountAnalysis")
            b->setAttribute(Qt::WA_UnderMouse);
        v->addWidget(b);
    }
    v->addStretch();
    return menu;
}

static QWidget* buildBillList(QWidget* parent)
{
    auto* page = new WBillList(parent);
    page->setObjectName("wgtBillList");
    auto* v = new QVBoxLayout(page);
    v->setSpacing(2);
    v->setContentsMargins(0, 0, 0, 0);
    auto* filters = new QHBoxLayout;
    const QList<QStringList> combos = { { "IcoMonth", "cbMonthList", "2024年03月" },
        { "IcoAccount", "cbAccountList", "按账户查看" }, { "IcoCategory", "cbCategoryList", "按分类查看" },
        { "IcoMember", "cbMemberList", "按成员查看" }, { "IcoBorrower", "cbBorrowerList", "按借款人查看" } };
    for (const QStringList& c : combos) {
        filters->addWidget(pixLabel(page, c[0]));
        auto* cb = new QComboBox(page);
        cb->setObjectName(c[1]);
        cb->addItem(c[2]);
        filters->addWidget(cb);
    }
    filters->addStretch();
    auto* search = new QHBoxLayout;
    search->setSpacing(0);
    auto* le = new QLineEdit(page);
    le->setObjectName("leSeacrh");
    le->setMinimumHeight(25);
    le->setPlaceholderText("");
    auto* ps = new QPushButton("搜索", page);
    ps->setObjectName("pbSearch");
    ps->setMinimumSize(50, 25);
    search->addWidget(le);
    search->addWidget(ps);
    filters->addLayout(search);
    v->addLayout(filters);

    auto* tree = new QTreeWidget(page);
    tree->setObjectName("tvBillList");
    tree->setHeaderLabels({ "日期", "分类", "金额", "账户", "成员", "备注" });
    tree->setRootIsDecorated(false);
    tree->setIndentation(0);
    const QList<QStringList> days = { { "2024-03-18  星期一", "", "-86.50" },
        { "早餐", "餐饮 > 早餐", "-12.00", "现金", "自己", "" },
        { "午餐", "餐饮 > 午餐", "-32.50", "银行卡", "自己", "同事聚餐" },
        { "地铁", "交通 > 地铁", "-6.00", "公交卡", "自己", "" },
        { "超市", "购物 > 日用品", "-36.00", "现金", "家人", "牙膏 洗衣液" }, { "2024-03-17  星期日", "", "+8120.00" },
        { "工资", "职业收入 > 工资", "+8200.00", "银行卡", "自己", "三月" },
        { "电影", "娱乐 > 电影", "-80.00", "信用卡", "家人", "" }, { "2024-03-16  星期六", "", "-1500.00" } };
    QTreeWidgetItem* day = nullptr;
    for (const QStringList& row : days) {
        if (row.size() == 3) {
            day = new QTreeWidgetItem(tree, row);
            day->setIcon(0, icon(row[0].startsWith("2024-03-16") ? "BtnTreeClosed" : "BtnTreeOpen"));
            QFont bf = day->font(0);
            bf.setBold(true);
            day->setFont(0, bf);
            day->setExpanded(true);
            if (row[0].startsWith("2024-03-16"))
                new QTreeWidgetItem(day, { "房租", "住房 > 房租", "-1500.00", "银行卡", "自己", "" });
            if (row[0].startsWith("2024-03-16"))
                day->setExpanded(false);
        } else {
            new QTreeWidgetItem(day, row);
        }
    }
    tree->setCurrentItem(tree->topLevelItem(0)->child(1));
    tree->header()->resizeSection(0, 170);
    tree->header()->resizeSection(1, 150);
    v->addWidget(tree);

    auto* cmds = new QHBoxLayout;
    const QList<QStringList> buttons
        = { { "删除", "IcoDelete" }, { "修改", "IcoModify" }, {}, { "导出", "IcoExport" }, { "打印", "IcoPrint" } };
    for (const QStringList& b : buttons) {
        if (b.isEmpty()) {
            cmds->addSpacing(20);
            continue;
        }
        auto* pb = new QPushButton(icon(b[1]), b[0], page);
        if (b[0] == "导出")
            pb->setAttribute(Qt::WA_UnderMouse);
        cmds->addWidget(pb);
    }
    cmds->addStretch();
    cmds->addWidget(new QLabel("1/1", page));
    for (const QString& t : { "首页", "上一页", "下一页", "末页" }) {
        auto* pb = new QPushButton(t, page);
        pb->setEnabled(false);
        cmds->addWidget(pb);
    }
    auto* sb = new QSpinBox(page);
    sb->setRange(1, 99999);
    cmds->addWidget(sb);
    cmds->addWidget(new QPushButton("跳转", page));
    v->addLayout(cmds);
    return page;
}

static QWidget* buildStatusBar(QWidget* parent)
{
    auto* bar = new UStatusBar(parent);
    bar->setObjectName("wgtStatusBar");
    bar->setMinimumHeight(27);
    bar->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* h = new QHBoxLayout(bar);
    h->setContentsMargins(0, 0, 0, 0);
    auto* st = new QLabel("  上次同步 2024-03-18 08:12:40 ", bar);
    st->setObjectName("lblSyncTime");
    auto* link = new QLabel(
        "<a href=\"#\"><span style=\" text-decoration: underline; color:#cceeff;\">立即同步</span></a>", bar);
    link->setObjectName("lblSync");
    auto* month = new QLabel("本月  支出:-1666.50 收入:8200.00 变化:+6533.50", bar);
    month->setObjectName("lblMonthSummary");
    auto* total = new QLabel("支出:-1666.50 收入:8200.00 变化:+6533.50", bar);
    total->setObjectName("lblTotalSummary");
    h->addWidget(st);
    h->addWidget(link);
    h->addStretch();
    h->addWidget(pixLabel(bar, "IcoMonth"));
    h->addWidget(month);
    h->addSpacing(20);
    h->addWidget(pixLabel(bar, "IcoYear"));
    h->addWidget(total);
    h->addWidget(new QSizeGrip(bar));
    return bar;
}

static QWidget* buildMainWindow()
{
    auto* w = new MainWindow;
    w->setObjectName("MainWindow");
    w->resize(1024, 700);
    auto* central = new QWidget(w);
    central->setObjectName("centralWidget");
    w->setCentralWidget(central);
    auto* v = new QVBoxLayout(central);
    v->setSpacing(0);
    v->setContentsMargins(0, 0, 0, 0);
    auto* header = new UHeader(central);
    header->setObjectName("wgtHeader");
    auto* hv = new QVBoxLayout(header);
    hv->setSpacing(0);
    hv->setContentsMargins(0, 0, 0, 0);
    hv->addWidget(buildTitleBar(header));
    hv->addWidget(buildToolBar(header, 4));
    auto* content = new UContent(central);
    content->setObjectName("wgtContent");
    auto* cl = new QGridLayout(content);
    cl->setSpacing(0);
    cl->setContentsMargins(0, 0, 0, 0);
    auto* book = new UBook(content);
    auto* bl = new QHBoxLayout(book);
    bl->setSpacing(1);
    bl->setContentsMargins(0, 15, 0, 9);
    bl->addWidget(buildMenuBar(book));
    auto* holder = new QWidget(book);
    auto* hl = new QGridLayout(holder);
    hl->addWidget(buildBillList(holder));
    bl->addWidget(holder);
    cl->addWidget(book);
    v->addWidget(header);
    v->addWidget(content);
    v->addWidget(buildStatusBar(central));
    return w;
}

static QWidget* dialogTitle(QWidget* dialog, const QString& text)
{
    auto* t = new UDialogTitle(dialog);
    t->setObjectName("wgtTitle");
    t->setMinimumHeight(30);
    t->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* h = new QHBoxLayout(t);
    h->setSpacing(0);
    h->setContentsMargins(9, 0, 0, 0);
    auto* l = new QLabel(text, t);
    l->setObjectName("tlTitle");
    QFont f = l->font();
    f.setPointSize(12);
    f.setBold(true);
    l->setFont(f);
    l->setMinimumHeight(30);
    l->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* v = new QVBoxLayout;
    auto* close = tbButton(t, "pbClose", "BtnToolBoxClose");
    close->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    v->addWidget(close);
    h->addWidget(l);
    h->addLayout(v);
    return t;
}

static QDialog* buildMessageBox()
{
    auto* d = new DMessageBox;
    d->setObjectName("DMessageBox");
    d->setProperty("style", "dialog");
    d->resize(342, 187);
    auto* v2 = new QVBoxLayout(d);
    v2->setSpacing(0);
    v2->setContentsMargins(0, 0, 0, 0);
    auto* v = new QVBoxLayout;
    v->setSpacing(0);
    v->addWidget(dialogTitle(d, "删除账目"));
    auto* content = new QWidget(d);
    content->setObjectName("wgtContent");
    auto* g = new QGridLayout(content);
    auto* text = new QLabel("确定要删除选中的 3 笔账目吗？", content);
    text->setObjectName("tlText");
    QFont f = text->font();
    f.setPointSize(15);
    text->setFont(f);
    text->setAlignment(Qt::AlignCenter);
    text->setMargin(15);
    text->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    g->addWidget(text, 0, 0);
    auto* bar = new QWidget(content);
    bar->setObjectName("wgtButtonBar");
    bar->setMinimumHeight(40);
    auto* bg = new QGridLayout(bar);
    bg->setSpacing(0);
    bg->setContentsMargins(0, 0, 0, 0);
    auto* bb = new QDialogButtonBox(QDialogButtonBox::Yes | QDialogButtonBox::No, bar);
    bb->setCenterButtons(true);
    bb->button(QDialogButtonBox::Yes)->setText("是");
    bb->button(QDialogButtonBox::No)->setText("否");
    bb->button(QDialogButtonBox::Yes)->setAttribute(Qt::WA_UnderMouse);
    bg->addWidget(bb);
    g->addWidget(bar, 1, 0);
    v->addWidget(content);
    v2->addLayout(v);
    return d;
}

static QDialog* buildBillDialog()
{
    auto* d = new DBill;
    d->setObjectName("DBill");
    d->setProperty("style", "dialog");
    d->resize(520, 300);
    auto* g = new QGridLayout(d);
    g->setSpacing(0);
    g->setContentsMargins(0, 0, 0, 0);
    g->addWidget(dialogTitle(d, "记账"), 0, 0);
    auto* w = new QWidget(d);
    auto* form = new QGridLayout(w);
    form->setContentsMargins(20, 25, 20, 12);
    form->setVerticalSpacing(11);
    auto* kinds = new QHBoxLayout;
    for (const QString& k : { "支出", "收入", "转账", "借贷" }) {
        auto* r = new QRadioButton(k, w);
        r->setChecked(k == "支出");
        kinds->addWidget(r);
    }
    form->addLayout(kinds, 0, 0, 1, 3);
    form->addWidget(new QLabel("金    额", w), 1, 0);
    auto* amount = new QDoubleSpinBox(w);
    amount->setMaximum(100000000);
    amount->setValue(32.5);
    form->addWidget(amount, 1, 1);
    auto* calc = new QToolButton(w);
    calc->setIcon(icon("IcoCalculator"));
    form->addWidget(calc, 1, 2);
    form->addWidget(new QLabel("分    类", w), 2, 0);
    auto* cat = new QComboBox(w);
    cat->addItem("餐饮");
    form->addWidget(cat, 2, 1);
    auto* nc = new QPushButton(icon("IcoCategory"), "新建大类", w);
    nc->setMinimumSize(120, 30);
    form->addWidget(nc, 2, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (const QStringList& b : QList<QStringList> { { "保存再记", "blue", "1" }, { "确定", "green", "1" },
             { "取消", "blue", "1" }, { "停用", "gray", "1" }, { "同步", "green", "0" } }) {
        auto* pb = new QPushButton(b[0], w);
        pb->setProperty("style", b[1]);
        pb->setEnabled(b[2] == "1");
        if (b[0] == "确定")
            pb->setAttribute(Qt::WA_UnderMouse);
        buttons->addWidget(pb);
    }
    form->addLayout(buttons, 3, 0, 1, 3);
    g->addWidget(w, 1, 0);
    return d;
}

static QWidget* buildSkin()
{
    auto* s = new USkin;
    s->setObjectName("USkin");
    s->resize(198, 117);
    auto* g2 = new QGridLayout(s);
    auto* g = new QGridLayout;
    g->setSpacing(0);
    const QStringList hexes = { "7E0000", "844A00", "746700", "486A00", "005C56", "0B4B6C", "003158", "01004C",
        "2F004A", "500040", "700135", "202020", "E60005", "E89107", "DCCF00", "7CAD14", "009C8F", "0086B8", "3367BE",
        "00469E", "5B0086", "A91E63", "E60046", "6E6E6E" };
    for (int i = 0; i < hexes.size(); ++i) {
        auto* b = new QPushButton(s);
        QPixmap p(25, 25);
        p.fill(QColor("#" + hexes[i]));
        b->setIcon(QIcon(p));
        g->addWidget(b, i / 12, i % 12);
    }
    g2->addLayout(g, 0, 0);
    g2->addWidget(new QPushButton("使用默认方案", s), 1, 0);
    return s;
}

static QImage contactSheet(const QString& dir)
{
    const QStringList files = QDir(dir).entryList({ "*.png" }, QDir::Files, QDir::Name);
    const QList<QColor> grounds = { QColor("#FFFFFF"), QColor("#1F6096"), QColor("#80C03D") };
    const int cell = 150, cols = 6, rows = int((files.size() + cols - 1) / cols);
    QImage sheet(cols * cell, rows * (cell + 20), QImage::Format_ARGB32);
    sheet.fill(QColor("#D8DDE2"));
    QPainter p(&sheet);
    for (int i = 0; i < files.size(); ++i) {
        const QImage img(dir + "/" + files[i]);
        const QRect r((i % cols) * cell, (i / cols) * (cell + 20), cell - 4, cell + 16);
        p.fillRect(r, Qt::white);
        p.setPen(Qt::black);
        p.drawText(r.adjusted(2, 0, 0, 0), Qt::AlignTop | Qt::AlignLeft,
            QString("%1 %2x%3").arg(files[i].chopped(4)).arg(img.width()).arg(img.height()));
        // zoomed on a checkerboard so transparency shows
        const int zoom = qMax(1, qMin(4, 100 / qMax(img.width(), img.height())));
        QRect z(r.left() + 4, r.top() + 18, img.width() * zoom, img.height() * zoom);
        if (z.width() > cell - 8)
            z.setSize(img.size().scaled(cell - 8, 84, Qt::KeepAspectRatio));
        for (int y = z.top(); y < z.bottom(); y += 6)
            for (int x = z.left(); x < z.right(); x += 6)
                p.fillRect(QRect(x, y, 6, 6).intersected(z), ((x + y) / 6) % 2 ? QColor("#E8E8E8") : Qt::white);
        p.drawImage(z, img);
        // actual size on the three grounds the art sits on
        int x = r.left() + 4;
        for (const QColor& c : grounds) {
            const QRect g(x, r.bottom() - 40, 44, 40);
            p.fillRect(g, c);
            const QImage small
                = img.width() > 40 ? img.scaled(40, 36, Qt::KeepAspectRatio, Qt::SmoothTransformation) : img;
            p.drawImage(g.left() + (44 - small.width()) / 2, g.top() + (40 - small.height()) / 2, small);
            x += 46;
        }
    }
    return sheet;
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 9 && args[1] == "zoom") {
        // artpreview zoom <in.png> x y w h factor <out.png>: a nearest-neighbour close-up
        const QImage in(args[2]);
        const int k = args[7].toInt();
        const QImage part = in.copy(args[3].toInt(), args[4].toInt(), args[5].toInt(), args[6].toInt());
        return part.scaled(part.size() * k, Qt::IgnoreAspectRatio, Qt::FastTransformation).save(args[8]) ? 0 : 1;
    }
    if (args.size() < 4)
        return 2;
    gImages = QDir(args[1]).absolutePath();
    const QString out = args[3];
    QDir().mkpath(out);
    QFile f(args[2]);
    if (!f.open(QIODevice::ReadOnly))
        return 1;
    QString sheet = QString::fromLatin1(f.readAll());
    if (args.size() > 4) {
        sheet += "\r\nMainWindow{border-image:none;background-color:" + args[4] + "}";
        sheet += "\r\nQDialog[style=dialog]{border-image:none;background-color:" + args[4] + "}";
    }
    sheet.replace(":/rc/images/", gImages + "/");
    app.setStyleSheet(sheet);

    contactSheet(gImages).save(out + "/contact.png");
    const QList<QPair<QString, QWidget*>> shots = { { "window", buildMainWindow() },
        { "messagebox", buildMessageBox() }, { "billdialog", buildBillDialog() }, { "skin", buildSkin() } };
    for (const auto& s : shots) {
        s.second->show();
        QApplication::processEvents();
        s.second->grab().save(out + "/" + s.first + ".png");
    }
    QPixmap splash(gImages + "/Splash.png");
    splash.save(out + "/splash.png");
    return 0;
}

#include "artpreview.moc"
