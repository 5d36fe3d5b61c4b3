#include "DesignedControls.h"

#include "ColourButton.h"

#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

using namespace WindowDesign;

FocusControl createFocusStop(const FocusStop& stop, QWidget& window)
{
    switch (stop.kind) {
    case Kind::TextBox: {
        auto* box = new QLineEdit(stop.text, &window);
        box->setMaxLength(std::numeric_limits<int>::max());
        return box;
    }
    case Kind::MultiLineTextBox: {
        auto* box = new QPlainTextEdit(stop.text, &window);
        box->setLineWrapMode(QPlainTextEdit::NoWrap);
        box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        box->setTabChangesFocus(true);
        return box;
    }
    case Kind::Button:
        return new ColourButton(stop.text, QColor(stop.background.value()), &window);
    }
    Q_UNREACHABLE();
}

QWidget* widget(const FocusControl& control)
{
    return std::visit([](auto* typed) -> QWidget* { return typed; }, control);
}

// The room a label's caption may take: its box when it wraps, otherwise the space up to
// the box it describes, less a pixel of gap.
QRect labelRoom(const Label& label)
{
    QRect room = toPixels(label.place);
    if (label.sizing == Sizing::FitsCaption)
        room.setRight(toPixels(kFocusStops[label.describes].place).left() - 2);
    return room;
}

bool captionFits(const Label& label, const QFontMetrics& metrics)
{
    const QRect room = labelRoom(label);
    if (label.sizing == Sizing::FitsCaption)
        return metrics.size(Qt::TextSingleLine, label.caption).width() <= room.width() &&
               metrics.ascent() <= room.height();
    const QStringList lines = wrapAtSpaces(label.caption, metrics, room.width());
    // Every line must stand in the box down to its baseline; the last line's descent may
    // touch the edge, as it did in the design.
    return std::all_of(lines.begin(), lines.end(),
                       [&](const QString& line) {
                           return metrics.horizontalAdvance(line) <= room.width();
                       }) &&
           (lines.size() - 1) * metrics.lineSpacing() + metrics.ascent() <= room.height();
}

double relativeLuminance(QColor colour)
{
    const auto linear = [](float channel) {
        return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
           0.0722 * linear(colour.blueF());
}

template <typename Box> void colourBox(Box* box, const FocusStop& stop)
{
    if (!stop.background)
        return;
    QPalette palette = box->palette();
    const QColor fill(*stop.background);
    palette.setColor(QPalette::Base, fill);
    palette.setColor(QPalette::Text, textColourOn(fill));
    box->setPalette(palette);
}

void colourBox(ColourButton* button, const FocusStop&)
{
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, textColourOn(button->fill()));
    button->setPalette(palette);
}

QString boxText(const QLineEdit& box)
{
    return box.text();
}

// The document's own characters, so that a no-break space stays one; a line break is CR LF.
QString boxText(const QPlainTextEdit& box)
{
    QString text = box.document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
    text.replace(QChar::LineSeparator, QStringLiteral("\r\n"));
    return text;
}

template <std::size_t... Stop>
ServerSettings readSettings(const DesignedControls& controls, std::index_sequence<Stop...>)
{
    ServerSettings settings;
    const auto read = [&]<std::size_t S>() {
        if constexpr (kFocusStops[S].setting != nullptr)
            settings.*kFocusStops[S].setting = boxText(*controls.stop<S>());
    };
    (read.template operator()<Stop>(), ...);
    return settings;
}

} // namespace

ServerSettings DesignedControls::settings() const
{
    return readSettings(*this, std::make_index_sequence<kFocusStops.size()>());
}

QStringList wrapAtSpaces(const QString& caption, const QFontMetrics& metrics, int width)
{
    QStringList lines;
    for (const QString& word : caption.split(u' ')) {
        if (!lines.isEmpty() && metrics.horizontalAdvance(lines.last() + u' ' + word) <= width)
            lines.last() += u' ' + word;
        else
            lines << word;
    }
    return lines;
}

QColor textColourOn(QColor fill)
{
    return contrastRatio(Qt::black, fill) >= contrastRatio(Qt::white, fill) ? QColor(Qt::black)
                                                                            : QColor(Qt::white);
}

double contrastRatio(QColor a, QColor b)
{
    const double first = relativeLuminance(a);
    const double second = relativeLuminance(b);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

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

DesignedControls createDesignedControls(QWidget& window)
{
    DesignedControls controls;
    for (std::size_t stop = 0; stop < kFocusStops.size(); ++stop) {
        const FocusStop& design = kFocusStops[stop];
        controls.stops[stop] = createFocusStop(design, window);
        QWidget* control = widget(controls.stops[stop]);
        control->setObjectName(QLatin1String(design.name));
        control->setGeometry(toPixels(design.place));
        if (design.setting)
            control->setAccessibleName(fieldCaption(design.setting));
        std::visit([&](auto* typed) { colourBox(typed, design); }, controls.stops[stop]);
        if (stop == 0)
            control->setFocus();
        else
            QWidget::setTabOrder(widget(controls.stops[stop - 1]), control);
    }

    const QFontMetrics metrics(window.font());
    for (const Label& label : kLabels) {
        auto* caption = new QLabel(&window);
        caption->setObjectName(QLatin1String(label.name));
        caption->setAccessibleName(label.caption);
        caption->setBuddy(widget(controls.stops[label.describes]));
        caption->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        caption->setTextFormat(Qt::PlainText);
        QRect place = toPixels(label.place);
        if (label.sizing == Sizing::FitsCaption) {
            caption->setText(label.caption);
            place.setSize(metrics.size(Qt::TextSingleLine, label.caption));
        } else {
            caption->setText(wrapAtSpaces(label.caption, metrics, place.width()).join(u'\n'));
        }
        caption->setGeometry(place);
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
    return controls;
}
