#include "DesignedControls.h"

#include "ColourButton.h"
#include "WindowDesign.h"

#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <algorithm>
#include <limits>

namespace {

using namespace WindowDesign;

QWidget* createFocusStop(const FocusStop& stop, QWidget& window)
{
    QWidget* control = nullptr;
    switch (stop.kind) {
    case Kind::TextBox: {
        auto* box = new QLineEdit(stop.text, &window);
        box->setMaxLength(std::numeric_limits<int>::max());
        control = box;
        break;
    }
    case Kind::MultiLineTextBox: {
        auto* box = new QPlainTextEdit(stop.text, &window);
        box->setLineWrapMode(QPlainTextEdit::NoWrap);
        box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        box->setTabChangesFocus(true);
        control = box;
        break;
    }
    case Kind::Button:
        control = new ColourButton(stop.text, QColor(stop.background), &window);
        break;
    }
    control->setObjectName(QLatin1String(stop.name));
    control->setGeometry(toPixels(stop.place));
    if (stop.setting)
        control->setAccessibleName(fieldCaption(stop.setting));
    if (stop.kind != Kind::Button) {
        QPalette palette = control->palette();
        if (stop.background != kDefaultColour)
            palette.setColor(QPalette::Base, QColor(stop.background));
        if (stop.foreground != kDefaultColour)
            palette.setColor(QPalette::Text, QColor(stop.foreground));
        control->setPalette(palette);
    }
    return control;
}

// The room a label's caption may take: its box when it wraps, otherwise the space up to
// the box it describes.
QRect labelRoom(const Label& label)
{
    QRect room = toPixels(label.place);
    if (label.sizing == Sizing::FitsCaption) {
        const auto described =
            std::find_if(kFocusStops.begin(), kFocusStops.end(), [&](const FocusStop& stop) {
                return qstrcmp(stop.name, label.describes) == 0;
            });
        room.setRight(toPixels(described->place).left() - 1);
    }
    return room;
}

bool captionFits(const Label& label, const QFontMetrics& metrics)
{
    const QRect room = labelRoom(label);
    if (label.sizing == Sizing::FitsCaption)
        return metrics.horizontalAdvance(label.caption) <= room.width() &&
               metrics.ascent() <= room.height();
    const QRect wrapped = metrics.boundingRect(QRect(0, 0, room.width(), QWIDGETSIZE_MAX),
                                               Qt::TextWordWrap, label.caption);
    // Every line must stand in the box down to its baseline; the last line's descent may
    // touch the edge, as it did in the design.
    const int lines = wrapped.height() / metrics.lineSpacing();
    return wrapped.width() <= room.width() &&
           (lines - 1) * metrics.lineSpacing() + metrics.ascent() <= room.height();
}

} // namespace

QFont fittingFont(const QFont& base)
{
    constexpr int kDesignLineHeight = 13;
    QFont font = base;
    for (int pixelSize = kDesignLineHeight - 2; pixelSize >= 8; --pixelSize) {
        for (const int stretch : {int(QFont::Unstretched), int(QFont::SemiCondensed)}) {
            font.setPixelSize(pixelSize);
            font.setStretch(stretch);
            const QFontMetrics metrics(font);
            if (std::all_of(kLabels.begin(), kLabels.end(),
                            [&](const Label& label) { return captionFits(label, metrics); }))
                return font;
        }
    }
    return font;
}

void createDesignedControls(QWidget& window)
{
    QWidget* previous = nullptr;
    for (const FocusStop& stop : kFocusStops) {
        QWidget* control = createFocusStop(stop, window);
        if (previous)
            QWidget::setTabOrder(previous, control);
        else
            control->setFocus();
        previous = control;
    }

    const QFontMetrics metrics(window.font());
    for (const Label& label : kLabels) {
        auto* widget = new QLabel(label.caption, &window);
        widget->setObjectName(QLatin1String(label.name));
        widget->setBuddy(window.findChild<QWidget*>(QLatin1String(label.describes)));
        widget->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        QRect place = toPixels(label.place);
        if (label.sizing == Sizing::FitsCaption)
            place.setSize(metrics.size(Qt::TextSingleLine, label.caption));
        else
            widget->setWordWrap(true);
        widget->setGeometry(place);
    }

    for (const Line& line : kLines) {
        auto* widget = new QFrame(&window);
        widget->setObjectName(QLatin1String(line.name));
        widget->setFrameShape(line.y1 == line.y2 ? QFrame::HLine : QFrame::VLine);
        widget->setFrameShadow(QFrame::Plain);
        // Both end points belong to the line.
        const QPoint from(std::min(line.x1, line.x2), std::min(line.y1, line.y2));
        const QPoint to(std::max(line.x1, line.x2), std::max(line.y1, line.y2));
        widget->setGeometry(QRect(from / kTwipsPerPixel, to / kTwipsPerPixel));
    }
}

QString boxText(const QWidget& box)
{
    if (const auto* multiLine = qobject_cast<const QPlainTextEdit*>(&box))
        return multiLine->toPlainText().replace(u'\n', QStringLiteral("\r\n"));
    return qobject_cast<const QLineEdit*>(&box)->text();
}
