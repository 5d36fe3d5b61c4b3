#include "ColourButton.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <qdrawutil.h>

ColourButton::ColourButton(const QString& caption, QColor fill, QWidget* parent)
    : QPushButton(caption, parent), m_fill(fill)
{
}

void ColourButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QBrush fillBrush(m_fill);
    qDrawWinButton(&painter, rect(), palette(), isDown(), &fillBrush);

    // The caption moves with the button face while it is pressed.
    const int shift = isDown() ? 1 : 0;
    const QRect captionArea = rect().adjusted(4 + shift, 3 + shift, -4 + shift, -3 + shift);
    painter.setPen(palette().color(QPalette::ButtonText));
    painter.drawText(captionArea, Qt::AlignCenter | Qt::TextWordWrap, text());

    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = rect().adjusted(3, 3, -3, -3);
        focus.backgroundColor = m_fill;
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}
