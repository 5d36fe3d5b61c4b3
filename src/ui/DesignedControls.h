#pragma once

#include <QFont>

class QWidget;

// Creates every control of the window's design as a child of window: the text boxes and
// buttons in focus order, the labels and the lines, each named after the design, placed,
// filled with its text and coloured. The focus starts in the first text box.
void createDesignedControls(QWidget& window);

// The design was drawn with a font whose line is 13 pixels high. This is the family of
// base at that size, narrowed or made smaller only as far as needed for every label's
// caption to fit its room.
QFont fittingFont(const QFont& base);

// The text of a text box; a line break in a multi-line box is CR LF.
QString boxText(const QWidget& box);
