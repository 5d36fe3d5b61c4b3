#pragma once

#include "WindowDesign.h"

#include <QFont>
#include <variant>

class ColourButton;
class QLineEdit;
class QPlainTextEdit;
class QWidget;

// A control of the focus order, as the kind the design gives it: the alternatives stand
// in the order of WindowDesign::Kind.
using FocusControl = std::variant<QLineEdit*, QPlainTextEdit*, ColourButton*>;

// The controls made from the design, in focus order.
struct DesignedControls {
    std::array<FocusControl, WindowDesign::kFocusStops.size()> stops;

    // The control at a place in the focus order, typed by the design's kind for it.
    template <std::size_t Stop> auto* stop() const
    {
        return std::get<std::size_t(WindowDesign::kFocusStops[Stop].kind)>(stops[Stop]);
    }

    // The texts of the text boxes as they stand now.
    ServerSettings settings() const;
};

// Creates every control of the window's design as a child of window: the text boxes and
// buttons in focus order, the labels and the lines, each named after the design, placed,
// filled with its text and coloured. The focus starts in the first text box.
DesignedControls createDesignedControls(QWidget& window);

// The design was drawn with a font whose line is 13 pixels high. This is the family of
// base at that size, narrowed or made smaller only as far as needed for every label's
// caption to fit its room.
QFont fittingFont(const QFont& base);

// The lines of a wrapping label's caption: broken only at spaces, each as long as fits
// width, or a word alone when even that does not fit.
QStringList wrapAtSpaces(const QString& caption, const QFontMetrics& metrics, int width);

// The text colour, black or white, that reads better on fill.
QColor textColourOn(QColor fill);

// How far apart two colours stand for reading: the ratio of their relative luminances,
// from 1 (the same) to 21 (black and white).
double contrastRatio(QColor a, QColor b);
