#pragma once

#include <QString>

class QWidget;

// Parts of the program that are not built yet say so in plain words instead of showing an empty
// page or pretending to work.
QString notAvailableText(const QString& feature);
// Puts the notice, centred, on an empty page.
void showNotAvailable(QWidget* page, const QString& feature);
