#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "widgets/wbasewidget.h"

class QComboBox;
class QPrinter;
class QPushButton;
class QStackedWidget;
class QTableView;
class QTableWidget;
class QTreeView;
class ReportView;

// The frame the five analysis pages share: the year and month (and kind) combos, the table, chart
// and report views, printing and export. A page keeps its year, month and view mode while hidden,
// and every change the user makes fetches fresh figures once (refreshFigures) and shows them in the
// current view.
//
// Nothing of a page is built while the window is built: its form the first time it is shown, its
// web view the first time it shows a chart or a report (see ReportViewLoader).
class WAnalysisPage : public WBaseWidget {
    Q_OBJECT

public:
    ~WAnalysisPage() override;

    int getYear() const { return year; }
    int getMonth() const { return month; }
    int getMode() const { return mode; }
    // The page last given to the web view, chart or report: what export saves.
    QString getShownHtml() const { return shownHtml; }
    // The page's web view: null until the page first showed a chart or a report, and when the web
    // engine cannot be used here.
    ReportView* getReportView() const { return view; }

    // Runs the print dialog on printer; true when the user chose to print. Replaceable, so that
    // tests can print to a PDF file; an empty function brings the dialog back.
    using PrintDialog = std::function<bool(QPrinter* printer, QWidget* parent)>;
    static void setPrintDialog(PrintDialog dialog);
    // Asks where to save a report; empty when cancelled. Replaceable like the print dialog.
    using FileNameAsker = std::function<QString(QWidget* parent)>;
    static void setFileNameAsker(FileNameAsker asker);

signals:
    // After every refresh of the figures.
    void refreshed();
    // A print run has ended; ok when the report was printed.
    void printFinished(bool ok);

public slots:
    void bind() override;

protected:
    enum Mode { TableMode = 0, ChartMode = 1, ReportMode = 2 };

    // allYears is false on the statistics page: it offers no "全部", its year is never 0 and its
    // month combo stays enabled.
    WAnalysisPage(QWidget* parent, bool allYears);
    // Sets up the page's form (the first time the page is shown) and gives the kind combo's items,
    // (label, key). The frame finds the widgets it drives by their names in the forms: cbYear,
    // cbMonth, cbKind, pbTable, pbChart, pbReport, pbPrint, pbExport, pbCollapseExpand and
    // stackedWidget; a kind label named lblKind shows with its combo in chart mode only.
    virtual QList<QPair<QString, QString>> setUpForm() = 0;

    // Fetches the figures for the current choice and shows them in the current view.
    void refresh();
    virtual void refreshFigures() = 0;

    // The choice as ReportHelper takes it: "all" (0), "year" (yyyy) or "month" (yyyyMM).
    QString scope() const;
    int scopeValue() const;
    // The title for the current scope from the page's three formats: the year, the month and (on
    // pages with a kind combo) the kind text fill the placeholders in this order.
    QString title(const QString& allFormat, const QString& yearFormat, const QString& monthFormat) const;
    // The kind in the title: the kind combo's text in chart mode, empty otherwise.
    virtual QString kindText() const;

    // Fills a table with rows of cell texts, its columns at least the given widths (see
    // fitColumns); cells from column firstCentred on are centred.
    static void fillTable(
        QTableWidget* table, const QList<QStringList>& rows, const QList<int>& widths, int firstCentred);
    // Gives each column the width its header and its widest text need, and at least the given
    // width: no figure is ever cut. The first column (names) grows to a few hundred pixels at most;
    // a longer name is shortened with "…".
    static void fitColumns(QTableView* view, const QList<int>& widths);
    static void fitColumns(QTreeView* view, const QList<int>& widths);
    // Shows the pie chart page with one point per (name, value).
    void showPie(const QString& title, const QList<QPair<QString, double>>& points);
    // Shows a report page whose table rows are made of cells, given as HTML.
    void showReport(
        const QString& resource, const QString& summary, const QString& title, const QList<QStringList>& cells);
    // Cell texts made fit to stand in HTML.
    static QList<QStringList> escapedCells(const QList<QStringList>& cells);
    // Shows html in the web view, making the view first when there is none yet.
    void showHtml(const QString& html);
    // Hands the rows to the page's operation for the current mode.
    template <typename Page, typename Rows>
    void showRows(Page* page, const Rows& rows, const QString& title, void (Page::*table)(const Rows&),
        void (Page::*chart)(const Rows&, const QString&), void (Page::*report)(const Rows&, const QString&))
    {
        if (mode == TableMode)
            (page->*table)(rows);
        else if (mode == ChartMode)
            (page->*chart)(rows, title);
        else
            (page->*report)(rows, title);
    }

    int year = 0;
    int month = 0;
    int mode = TableMode;

private slots:
    void on_cbYear_currentIndexChanged(int index);
    void on_cbMonth_currentIndexChanged(int index);
    void on_pbTable_clicked();
    void on_pbChart_clicked();
    void on_pbReport_clicked();
    void on_pbPrint_clicked();
    void on_pbExport_clicked();

private:
    void build();
    void switchMode(Mode newMode);
    void createView();

    // The widgets of the page's form that the frame drives.
    struct Frame {
        QComboBox* cbYear = nullptr;
        QComboBox* cbMonth = nullptr;
        QComboBox* cbKind = nullptr;
        QWidget* kindLabel = nullptr;
        QPushButton* pbTable = nullptr;
        QPushButton* pbChart = nullptr;
        QPushButton* pbReport = nullptr;
        QPushButton* pbPrint = nullptr;
        QPushButton* pbExport = nullptr;
        QPushButton* pbCollapseExpand = nullptr;
        QStackedWidget* stackedWidget = nullptr;
    };

    const bool allYears;
    bool built = false;
    Frame frame;
    ReportView* view = nullptr;
    QString viewError;
    QString shownHtml;
    std::shared_ptr<QPrinter> printer;
};
