#pragma once

#include "WindowDesign.h"

#include <QFont>
#include <array>

class ColourButton;
class QLineEdit;
class QWidget;

// The window's controls as its handlers use them, under their design names, and every text
// box and button in focus order for reading the settings.
struct FormControls {
    ColourButton* Command1 = nullptr;
    ColourButton* Command2 = nullptr;
    ColourButton* Command3 = nullptr;
    QLineEdit* Text10 = nullptr;
    QLineEdit* Text11 = nullptr;
    QLineEdit* txtSaveCfg = nullptr;
    std::array<QWidget*, WindowDesign::kFocusStops.size()> focusOrder{};

    // The texts of the text boxes as they stand now.
    ServerSettings settings() const;
    void setSettings(const ServerSettings& settings) const;
};

// Creates every control of the window's design as a child of window: the text boxes and
// buttons in focus order, the labels and the lines, each named after the design, placed,
// filled with its text and coloured. The focus starts in the first text box. A name that
// the design gives and no control carries stops the program at once.
FormControls createFormControls(QWidget& window);

// The design was drawn with a font whose line is 13 pixels high. This is the family of
// base at that size, narrowed or made smaller only as far as needed for every label's
// caption to fit its room.
QFont fittingFont(const QFont& base);

// The lines of a wrapping label's caption: broken only at spaces, each as long as fits
// width, or a word alone when even that does not fit.
QStringList wrapAtSpaces(const QString& caption, const QFontMetrics& metrics, int width);

// The text colour on a fill of the design's: the theme's own, as the design has it, where
// that stands at least 3:1 from the fill; otherwise, as on the light fills under a dark
// theme, black or white, whichever reads better.
QColor captionColourOn(QColor fill, QColor themeText);

// How far apart two colours stand for reading: the ratio of their relative luminances,
// from 1 (the same) to 21 (black and white).
double contrastRatio(QColor a, QColor b);
