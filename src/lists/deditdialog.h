#pragma once

#include <QDialog>

// The frame shared by the program's record edit dialogs: frameless, drawn by the style sheet as
// a dialog, and an OK that ends the dialog only once the record is really in the book.
class DEditDialog : public QDialog {
    Q_OBJECT

public:
    explicit DEditDialog(QWidget* parent);

protected:
    // Empty fields and lists without a current item give null strings, which the book would store
    // as NULL; a record stores the empty text instead.
    static QString storedText(const QString& text);

    void paintEvent(QPaintEvent* event) override;

    // False, after telling the user so, when name is empty. Blanks count as a name.
    bool acceptsName(const QString& name, const QString& emptyText);
    // Accepts the dialog after a successful store; otherwise says so and stays open, so the
    // user's input is not lost.
    void finishStore(bool stored, const QString& failText);

    // Fills record and stores it. When the store fails the record gets its old values back: the
    // caller's (often cached) object never shows what the book does not hold.
    template <typename Record, typename Fill, typename Store>
    static bool storeRecord(Record* record, Fill fill, Store store)
    {
        const Record before = *record;
        fill(record);
        if (store(record))
            return true;
        *record = before;
        return false;
    }
};
