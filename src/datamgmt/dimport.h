#pragma once

#include <QDialog>

#include "import/importplan.h"
#include "import/importsource.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTableWidget;
class UDialogTitle;

// The import of a CSV or QIF file into the open book, in four steps: the file (its encoding,
// delimiter, header row and order of day and month), the columns' roles (with the presets and the
// user's last mapping), the account for rows that name none and what becomes of the names the
// book lacks, then the preview of the first rows as they will be booked and their status. Import
// books them all in one transaction after an automatic backup and tells what happened.
class DImport : public QDialog {
    Q_OBJECT

public:
    explicit DImport(QWidget* parent = nullptr);

    // Reads path as if the user had chosen it. False after the reason was shown in a box.
    bool openFile(const QString& path);
    // Shows step (0 to 3).
    void showStep(int step);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* buildFilePage();
    QWidget* buildColumnPage();
    QWidget* buildNamePage();
    QWidget* buildPreviewPage();

    void chooseFile();
    // Reads the file again with the settings shown, then fills every step.
    void reread();
    void fillColumns();
    void fillNames();
    void fillPreview();
    void fillRows();
    void updateButtons();
    void book();
    ImportSource::Settings settings() const;
    ValueParser::DateOrder dateOrder() const;
    void rememberColumns();

    UDialogTitle* title = nullptr;
    QStackedWidget* steps = nullptr;
    QLabel* stepLabel = nullptr;
    QPushButton* backButton = nullptr;
    QPushButton* nextButton = nullptr;
    QPushButton* importButton = nullptr;

    QLineEdit* fileEdit = nullptr;
    QComboBox* encodingBox = nullptr;
    QComboBox* delimiterBox = nullptr;
    QCheckBox* headerBox = nullptr;
    QComboBox* orderBox = nullptr;
    QLabel* fileInfo = nullptr;

    QComboBox* presetBox = nullptr;
    QTableWidget* columnTable = nullptr;

    QComboBox* accountBox = nullptr;
    QTableWidget* nameTable = nullptr;

    QLabel* previewInfo = nullptr;
    QTableWidget* previewTable = nullptr;

    ImportSource source;
    ImportPlan plan;
    bool loaded = false;
    // The next read takes the whole file, not only its first rows.
    bool wholeFile = false;
    // The account of rows that name none, as last read.
    QString usedAccount;
    // The roles the user set by hand, one per column; empty while the headings and presets decide.
    QList<ColumnRole::Role> chosenColumns;
};
