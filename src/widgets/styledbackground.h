#pragma once

class QWidget;

// Lets the application style sheet draw a plain widget subclass's background, border and
// border image. QWidget subclasses paint none of these unless they ask the style for PE_Widget.
void paintStyledBackground(QWidget* widget);
