#include "FormControls.h"

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

// A readable pair of colours stands at least this far apart.
constexpr double kReadableContrast = 3.0;

QWidget* createFocusStop(const FocusStop& stop, QWidget& window)
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

// Gives a control the design's fill and the text colour that goes with it.
void colour(QWidget& control, const FocusStop& stop)
{
    if (!stop.background)
        return;
    const QColor fill(*stop.background);
    QPalette palette = control.palette();
    const QPalette::ColorRole text =
        stop.kind == Kind::Button ? QPalette::ButtonText : QPalette::Text;
    if (stop.kind != Kind::Button)
        palette.setColor(QPalette::Base, fill);
    palette.setColor(text, stop.foreground ? QColor(*stop.foreground)
                                           : captionColourOn(fill, palette.color(text)));
    control.setPalette(palette);
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

// The document's own characters, so that a no-break space stays one; a line break is CR LF.
QString boxText(const QWidget* box)
{
    if (const auto* line = qobject_cast<const QLineEdit*>(box))
        return line->text();
    QString text = static_cast<const QPlainTextEdit*>(box)->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, kLineEnd);
    text.replace(QChar::LineSeparator, kLineEnd);
    return text;
}

// The control of the focus order that the design names.
QWidget* designed(const FormControls& controls, const char* name)
{
    for (std::size_t stop = 0; stop < kFocusStops.size(); ++stop) {
        if (qstrcmp(kFocusStops[stop].name, name) == 0)
            return controls.focusOrder[stop];
    }
    qFatal("the window's design has no control named %s", name);
}

} // namespace

ServerSettings FormControls::settings() const
{
    ServerSettings settings;
    for (std::size_t stop = 0; stop < kFocusStops.size(); ++stop) {
        if (kFocusStops[stop].setting)
            settings.*kFocusStops[stop].setting = boxText(focusOrder[stop]);
    }
    return settings;
}

void FormControls::setSettings(const ServerSettings& settings) const
{
    for (std::size_t stop = 0; stop < kFocusStops.size(); ++stop) {
        if (!kFocusStops[stop].setting)
            continue;
        const QString& text = settings.*kFocusStops[stop].setting;
        if (auto* line = qobject_cast<QLineEdit*>(focusOrder[stop]))
            line->setText(text);
        else
            static_cast<QPlainTextEdit*>(focusOrder[stop])->setPlainText(text);
    }
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

QColor captionColourOn(QColor fill, QColor themeText)
{
    if (contrastRatio(themeText, fill) >= kReadableContrast)
        return themeText;
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

FormControls createFormControls(QWidget& window)
{
    FormControls controls;
    for (std::size_t stop = 0; stop < kFocusStops.size(); ++stop) {
        const FocusStop& design = kFocusStops[stop];
        QWidget* control = createFocusStop(design, window);
        controls.focusOrder[stop] = control;
        control->setObjectName(QLatin1String(design.name));
        control->setGeometry(toPixels(design.place));
        if (design.setting)
            control->setAccessibleName(fieldCaption(design.setting));
        colour(*control, design);
        if (stop == 0)
            control->setFocus();
        else
            QWidget::setTabOrder(controls.focusOrder[stop - 1], control);
    }
    controls.Command1 = qobject_cast<ColourButton*>(designed(controls, "Command1"));
    controls.Command2 = qobject_cast<ColourButton*>(designed(controls, "Command2"));
    controls.Command3 = qobject_cast<ColourButton*>(designed(controls, "Command3"));
    controls.Text10 = qobject_cast<QLineEdit*>(designed(controls, "Text10"));
    controls.Text11 = qobject_cast<QLineEdit*>(designed(controls, "Text11"));
    controls.txtSaveCfg = qobject_cast<QLineEdit*>(designed(controls, "txtSaveCfg"));
    if (!controls.Command1 || !controls.Command2 || !controls.Command3 || !controls.Text10 ||
        !controls.Text11 || !controls.txtSaveCfg)
        qFatal("a control of the window's design is not of the kind the window uses");

    const QFontMetrics metrics(window.font());
    for (const Label& label : kLabels) {
        auto* caption = new QLabel(&window);
        caption->setObjectName(QLatin1String(label.name));
        caption->setAccessibleName(label.caption);
        caption->setBuddy(controls.focusOrder[label.describes]);
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
        auto* rule = new QFrame(&window);
        rule->setObjectName(QLatin1String(line.name));
        rule->setFrameShape(line.y1 == line.y2 ? QFrame::HLine : QFrame::VLine);
        rule->setFrameShadow(QFrame::Plain);
        // Both end points belong to the line.
        const QPoint from(std::min(line.x1, line.x2), std::min(line.y1, line.y2));
        const QPoint to(std::max(line.x1, line.x2), std::max(line.y1, line.y2));
        rule->setGeometry(QRect(from / kTwipsPerPixel, to / kTwipsPerPixel));
    }
    return controls;
}
