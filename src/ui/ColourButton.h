#pragma once

#include <QPushButton>

// A push button filled with a colour of its own, whose caption wraps onto more lines
// when it does not fit, centred in the palette's button text colour.
class ColourButton : public QPushButton {
    Q_OBJECT

public:
    ColourButton(const QString& caption, QColor fill, QWidget* parent);

    QColor fill() const { return m_fill; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_fill;
};
