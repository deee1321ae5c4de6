#pragma once

class QWidget;

// The labels and radio buttons of a page wear the pages' look of the style sheet (bold, 14px),
// which selects them by the property "pageText" this sets: a selector by ancestry alone would also
// reach every dialog a page opens, since the page is the dialog's parent. Widgets in windows of
// their own (dialogs, pop-ups) are left alone; a widget marked here only now is styled again.
void markPageText(QWidget* page);
