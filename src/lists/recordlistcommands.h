#pragma once

#include <QItemSelectionModel>
#include <QPushButton>
#include <QTableView>
#include <functional>

#include "lists/siblingorder.h"
#include "widgets/dmessagebox.h"

// The remove and move commands and the move-button state shared by the account, borrower and
// member pages. The page's model gives the record of a row (null for a row without one, such as a
// total row); every read and write goes through the record class Record.
template <typename Record> class RecordListCommands {
public:
    struct Texts {
        QString refusedTitle; // a record that bills use is not removed
        QString refusedText;
        QString removeFailed; // %1: the record's name
        QString moveFailed;
    };
    using RecordAt = std::function<Record*(int row)>;

    RecordListCommands(QWidget* page, QTableView* view, QPushButton* previous, QPushButton* next, RecordAt recordAt,
        std::function<void()> bind, Texts texts)
        : page(page)
        , view(view)
        , previous(previous)
        , next(next)
        , recordAt(std::move(recordAt))
        , bind(std::move(bind))
        , texts(std::move(texts))
    {
    }

    // The record of the first selected index, or null.
    Record* selected() const
    {
        const QModelIndexList indexes
            = view->selectionModel() ? view->selectionModel()->selectedIndexes() : QModelIndexList();
        return indexes.isEmpty() ? nullptr : recordAt(indexes.first().row());
    }

    void updateMoveButtons() const
    {
        const Record* record = selected();
        if (!record) {
            previous->setEnabled(false);
            next->setEnabled(false);
            return;
        }
        setMoveButtons(previous, next, Record::indexOf(record), int(Record::get()->size()));
    }

    // Removes every selected record that no bill uses, without asking; one box for each record
    // that bills use. Whether a bill uses it is asked of the book now, not of the snapshot the
    // table shows. Rebinds the page when something was removed.
    void removeSelected() const
    {
        if (!view->selectionModel())
            return;
        bool removed = false;
        for (const QModelIndex& index : view->selectionModel()->selectedRows(0)) {
            const Record* record = recordAt(index.row());
            if (!record)
                continue;
            if (Record::getBillCount(record->getId()) > 0)
                DMessageBox::information(page, texts.refusedTitle, texts.refusedText);
            else if (Record::remove(record->getId()))
                removed = true;
            else
                DMessageBox::error(page, texts.removeFailed.arg(record->getName()));
        }
        if (removed)
            bind();
    }

    // Moves the selected record one place up (step -1) or down (step 1) among all records, then
    // shows the new order with the moved record selected and the focus in the table.
    void move(int step) const
    {
        const Record* record = selected();
        if (!record)
            return;
        const QList<Record*> siblings = *Record::get();
        const int position = Record::indexOf(record);
        const int target = position + step;
        if (position < 0 || target < 0 || target >= siblings.size())
            return;
        if (!exchangeSorts(siblings, position, target))
            DMessageBox::error(page, texts.moveFailed);
        bind();
        view->selectRow(Record::indexOf(record)); // looked up by id in the reloaded list
        updateMoveButtons();
        view->setFocus(Qt::OtherFocusReason);
    }

private:
    QWidget* page;
    QTableView* view;
    QPushButton* previous;
    QPushButton* next;
    RecordAt recordAt;
    std::function<void()> bind;
    Texts texts;
};
