#include "render/ScriptCalls.h"

#include <QStringList>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace bopling {

namespace {

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

// The integer part of a frame dimension, kept inside int.
int integerPart(double value)
{
    if (!std::isfinite(value))
        return 0;
    const double limit = double(std::numeric_limits<int>::max());
    return int(std::trunc(std::clamp(value, -limit, limit)));
}

// `text` as a script string literal in double quotes.
QString quoted(const QString &text)
{
    QString out = QStringLiteral("\"");
    for (const QChar ch : text) {
        switch (ch.unicode()) {
        case u'"':
            out += QStringLiteral("\\\"");
            break;
        case u'\\':
            out += QStringLiteral("\\\\");
            break;
        default:
            // Control characters and the two separators that end a line in older script
            // engines, as \uXXXX.
            if (ch.unicode() < 0x20 || ch.unicode() == 0x2028 || ch.unicode() == 0x2029 ||
                ch.unicode() == 0x7f)
                out += QStringLiteral("\\u%1").arg(ch.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += ch;
        }
    }
    return out + u'"';
}

// At most kMaxSongText characters, never half of a surrogate pair.
QString cut(const QString &text)
{
    if (text.size() <= ScriptCalls::kMaxSongText)
        return text;
    qsizetype end = ScriptCalls::kMaxSongText;
    if (text.at(end - 1).isHighSurrogate())
        --end;
    return text.left(end);
}

} // namespace

RendererConfig RendererConfig::from(const Settings &settings, const QSizeF &panelFrameSize)
{
    RendererConfig config;
    config.W = integerPart(panelFrameSize.width());
    config.H = integerPart(panelFrameSize.height());
    config.layout = settings.layout();
    config.intensity = settings.intensity();
    config.tobble = !settings.familiars().isEmpty();
    config.warriorCount = settings.warriorCount();
    config.warriors = settings.warriors() && config.warriorCount != 0;
    config.pulse = settings.beatPulse();
    config.monsters = settings.monsters();
    config.scene = settings.scene();
    config.size = config.layout == Layout::strip ? settings.stripSize() : settings.cornerSize();
    return config;
}

namespace ScriptCalls {

QString fixed(double value, int decimals)
{
    if (!std::isfinite(value))
        value = 0;
    // std::to_chars ignores the C locale (printf would write "0,42" under a German
    // LC_NUMERIC) and rounds exactly like printf.
    char text[400];
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc())
        return QStringLiteral("0");
    return QString::fromLatin1(text, result.ptr - text);
}

QString config(const RendererConfig &c)
{
    return QStringLiteral("qx.config({W:") + QString::number(c.W) + QStringLiteral(",H:") +
           QString::number(c.H) + QStringLiteral(",layout:'") +
           (c.layout == Layout::strip ? QStringLiteral("strip") : QStringLiteral("corner")) +
           QStringLiteral("',intensity:") + QString::number(c.intensity) +
           QStringLiteral(",tobble:") + boolText(c.tobble) + QStringLiteral(",warriors:") +
           boolText(c.warriors) + QStringLiteral(",warriorCount:") +
           QString::number(c.warriorCount) + QStringLiteral(",pulse:") + boolText(c.pulse) +
           QStringLiteral(",monsters:") + boolText(c.monsters) +
           QStringLiteral(",scale:2,scene:'") +
           (c.scene == Scene::walk ? QStringLiteral("walk") : QStringLiteral("campfire")) +
           QStringLiteral("',size:") + QString::number(c.size) + QStringLiteral("})");
}

QString tick(const Snapshot &s)
{
    QStringList levels;
    for (double level : s.levels)
        levels << fixed(level, 2);
    // The analyzer only ever produces the four letters; anything else is left out rather
    // than let a quote or backslash change the meaning of the script.
    QString events;
    for (QChar letter : s.events) {
        if (letter == u'k' || letter == u's' || letter == u'h' || letter == u'd')
            events += letter;
    }
    return QStringLiteral("qx.tick({lv:[") + levels.join(QLatin1Char(',')) +
           QStringLiteral("],bpm:") + fixed(s.bpm, 1) + QStringLiteral(",conf:") +
           fixed(s.tempoConfidence, 2) + QStringLiteral(",en:") + fixed(s.energy, 2) +
           QStringLiteral(",ev:'") + events + QStringLiteral("'})");
}

QString silentTick()
{
    return QStringLiteral("qx.tick({silent:true})");
}

QString stats()
{
    return QStringLiteral("JSON.stringify(qx.stats())");
}

QString nowPlaying(const QString &title, const QString &artist)
{
    return QStringLiteral("qx.nowPlaying({title:") + quoted(cut(title)) +
           QStringLiteral(",artist:") + quoted(cut(artist)) + QStringLiteral("})");
}

QString hideNowPlaying()
{
    return QStringLiteral("qx.nowPlaying(null)");
}

QString setFamiliars(const QString &familiarsJSON)
{
    return QStringLiteral("qx.setFamiliars(") + familiarsJSON + QStringLiteral(")");
}

} // namespace ScriptCalls

} // namespace bopling
