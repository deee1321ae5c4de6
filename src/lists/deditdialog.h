#pragma once

#include <memory>

#include <QDialog>

// The frame shared by the program's record edit dialogs: frameless, drawn by the style sheet as
// a dialog, and an OK that ends the dialog only once the record is really in the book.
class DEditDialog : public QDialog {
    Q_OBJECT

public:
    explicit DEditDialog(QWidget* parent);

protected:
    // Text typed into a field, as a record stores it (see enteredText()). Empty fields and lists
    // without a current item give null strings, which the book would store as NULL; a record
    // stores the empty text instead.
    static QString storedText(const QString& text);

    void paintEvent(QPaintEvent* event) override;

    // A field's length limit cuts a pasted text after any UTF-16 unit, and may leave half of a
    // character outside the BMP (an emoji) behind. Called once the form is set up: every line
    // field then drops such halves at once, so that it shows and stores whole characters only.
    void keepWholeCharacters();

    // False, after telling the user so, when name is empty. Blanks count as a name.
    bool acceptsName(const QString& name, const QString& emptyText);
    // The end of OK once the input is checked: a new record in new mode (kept in created), fill,
    // insert or update, then accept. A store that fails is reported, the dialog stays open with
    // the user's input, and the record gets its old values back, so that the caller's (often
    // cached) object never shows what the book does not hold.
    template <typename Record, typename Fill>
    void storeRecord(Record*& record, std::unique_ptr<Record>& created, bool isEdit, Fill fill, const QString& failText)
    {
        if (!isEdit) {
            created = std::make_unique<Record>();
            record = created.get();
        }
        const Record before = *record;
        fill(record);
        if (isEdit ? Record::update(record) : Record::insert(record)) {
            accept();
            return;
        }
        *record = before;
        reportFailedStore(failText);
    }

private:
    void reportFailedStore(const QString& text);
};
