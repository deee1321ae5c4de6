#include "lists/siblingorder.h"

#include <QPushButton>

void setMoveButtons(QPushButton* previous, QPushButton* next, int position, int count)
{
    // A record that is no longer among its siblings has nowhere to go.
    previous->setEnabled(position > 0);
    next->setEnabled(position >= 0 && position != count - 1);
}
