#pragma once

#include "audio/Snapshot.h"
#include "settings/Settings.h"

#include <QSizeF>
#include <QString>

namespace bopling {

// The values of one configuration call, read from the settings and the panel's frame.
struct RendererConfig
{
    int W = 0;
    int H = 0;
    Layout layout = Layout::corner;
    int intensity = 1;
    bool tobble = true;
    bool warriors = true;
    int warriorCount = -1;
    bool pulse = true;
    bool monsters = true;
    Scene scene = Scene::campfire;
    int size = 1;

    // W and H are the integer parts of the frame's size; tobble is true while the familiars
    // setting holds any name (resolvable or not); warriors needs a count other than 0; size
    // is the strip size in the strip layout, else the corner size.
    static RendererConfig from(const Settings &settings, const QSizeF &panelFrameSize);
};

// The exact script texts spoken to the renderer page. Numbers are written with "." as the
// decimal separator whatever the locale. Pure functions.
namespace ScriptCalls {

// qx.config({W:640,H:480,layout:'corner',intensity:1,tobble:true,warriors:true,
// warriorCount:-1,pulse:true,monsters:true,scale:2,scene:'campfire',size:1}), one line.
QString config(const RendererConfig &config);

// qx.tick({lv:[0.42,0.10,0.00,0.63],bpm:121.9,conf:0.37,en:0.58,ev:'kh'}): levels,
// confidence and energy with two decimals, bpm with one, the events as they are (only the
// event letters are written, so the quoted text stays a plain word).
QString tick(const Snapshot &snapshot);

// qx.tick({silent:true})
QString silentTick();

// JSON.stringify(qx.stats())
QString stats();

// "qx.setFamiliars(" + the familiars JSON + ")".
QString setFamiliars(const QString &familiarsJSON);

// The longest title or artist the page is given, in characters; longer ones are cut.
inline constexpr qsizetype kMaxSongText = 5000;

// qx.nowPlaying({title:"…",artist:"…"}): the texts as quoted strings with every character
// that could end a string or a line escaped (quotes, backslashes, control characters,
// U+2028 and U+2029), each cut to kMaxSongText characters without splitting a character.
QString nowPlaying(const QString &title, const QString &artist);

// qx.nowPlaying(null): no song shown.
QString hideNowPlaying();

// printf's "%.<decimals>f" in the C locale. A value that is not finite is written as 0, so a
// broken number can never turn the call into invalid script.
QString fixed(double value, int decimals);

} // namespace ScriptCalls

} // namespace bopling
