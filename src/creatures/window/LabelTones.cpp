#include "creatures/window/LabelTones.h"

#include <QLabel>
#include <QWidget>

namespace bopling {

namespace {

constexpr char kToneProperty[] = "labelTone";

// Text over the window colour at this opacity, like the desktop's dimmed labels.
constexpr double kSecondaryAlpha = 0.68;
constexpr double kTertiaryAlpha = 0.5;

QColor blend(const QColor &text, const QColor &background, double alpha)
{
    return QColor::fromRgbF(text.redF() * alpha + background.redF() * (1 - alpha),
                            text.greenF() * alpha + background.greenF() * (1 - alpha),
                            text.blueF() * alpha + background.blueF() * (1 - alpha));
}

} // namespace

QColor toneColour(const QPalette &palette, LabelTone tone)
{
    const QColor text = palette.color(QPalette::WindowText);
    const QColor background = palette.color(QPalette::Window);
    switch (tone) {
    case LabelTone::secondary:
        return blend(text, background, kSecondaryAlpha);
    case LabelTone::tertiary:
        return blend(text, background, kTertiaryAlpha);
    case LabelTone::error:
        // A deep red on light backgrounds, a light one on dark: both keep a
        // contrast of at least 4.5:1 against the window colour.
        return background.lightnessF() < 0.5 ? QColor(0xff, 0x7b, 0x72) : QColor(0xb4, 0x23, 0x18);
    case LabelTone::primary:
        break;
    }
    return text;
}

void setTone(QWidget *label, LabelTone tone)
{
    label->setProperty(kToneProperty, static_cast<int>(tone));
    QWidget *window = label->window();
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, toneColour(window->palette(), tone));
    label->setPalette(palette);
}

void applyTones(QWidget *window)
{
    for (QLabel *label : window->findChildren<QLabel *>()) {
        const QVariant tone = label->property(kToneProperty);
        if (tone.isValid())
            setTone(label, static_cast<LabelTone>(tone.toInt()));
    }
}

} // namespace bopling
