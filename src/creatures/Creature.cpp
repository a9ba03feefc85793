#include "creatures/Creature.h"

#include "creatures/Graphemes.h"
#include "creatures/Move.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QSet>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace bopling {

namespace {

constexpr qsizetype kNameCharacters = 14;
constexpr qsizetype kNameBytes = 40;
constexpr qsizetype kMinPalette = 2;
constexpr qsizetype kMaxPalette = 16;
constexpr qsizetype kMinSide = 8;
constexpr qsizetype kMaxWidth = 40;
constexpr qsizetype kMaxHeight = 32;
constexpr qsizetype kAlmostEmpty = 12;
constexpr qsizetype kSoundCharacters = 7;

// frameImage refuses images beyond these: they could only come from a creature
// that skipped the check, or an absurd scale.
constexpr qint64 kMaxImageSide = 16384;
constexpr qint64 kMaxImagePixels = qint64(64) * 1024 * 1024;

// The outline drawn around the sprite: #120d1c.
constexpr quint32 kOutline = 0x120d1c;

const QString kDefaultName = QStringLiteral("Buddy");
const QString kDefaultSound = QStringLiteral("ROAR!");
const QString kBlank = QStringLiteral(".");
const QString kLeap = QStringLiteral("leap");

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// Removes spaces and tabs (only those) at both ends.
QString trimSpacesAndTabs(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    auto isSpaceOrTab = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (begin < end && isSpaceOrTab(text[begin]))
        ++begin;
    while (end > begin && isSpaceOrTab(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

QString cleanName(const QString &name)
{
    QStringList kept;
    for (QStringView g : graphemes(name)) {
        if (kept.size() == kNameCharacters)
            break;
        if (g == u" " || isLetterOrNumber(g))
            kept.append(g.toString());
    }
    while (kept.join(QString()).toUtf8().size() > kNameBytes)
        kept.removeLast();
    const QString cleaned = trimSpacesAndTabs(kept.join(QString()));
    return cleaned.isEmpty() ? kDefaultName : cleaned;
}

bool isPaletteKey(const QString &key)
{
    if (key.isEmpty() || key == kBlank || graphemeCount(key) != 1)
        return false;
    for (QChar c : key) {
        if (c.unicode() >= 0x80 || c.isSpace())
            return false;
    }
    return true;
}

// The value of an ASCII hexadecimal digit, or -1.
int hexValue(QChar c)
{
    if (c >= u'0' && c <= u'9')
        return c.unicode() - u'0';
    if (c >= u'a' && c <= u'f')
        return c.unicode() - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c.unicode() - u'A' + 10;
    return -1;
}

// The cleaned "#rrggbb", or nothing.
std::optional<QString> cleanColor(const QString &color)
{
    QString text = trimSpacesAndTabs(color).toLower();
    if (text.size() == 4 && text[0] == u'#') {
        const QString shortForm = text;
        text = QStringLiteral("#");
        for (qsizetype i = 1; i < 4; ++i)
            text += QString(2, shortForm[i]);
    }
    // Seven code units starting with "#" followed by hexadecimal digits are
    // also exactly seven characters: none of them combines with another.
    if (text.size() != 7 || text[0] != u'#')
        return std::nullopt;
    for (qsizetype i = 1; i < 7; ++i) {
        if (hexValue(text[i]) < 0)
            return std::nullopt;
    }
    return text;
}

bool isBlankRow(QStringView row)
{
    return std::all_of(row.begin(), row.end(), [](QChar c) { return c == u'.'; });
}

QStringList cleanAttacks(const QStringList &attacks)
{
    QStringList kept;
    for (const QString &attack : attacks) {
        const QString id = attack.toLower();
        if (findMove(id) && !kept.contains(id))
            kept.append(id);
    }
    if (kept.isEmpty())
        kept = defaultAttacks();
    return kept.mid(0, kMoveLimit);
}

QString cleanSound(const std::optional<QString> &sound)
{
    const QString upper = sound.value_or(QString()).toUpper();
    QString kept;
    for (QStringView g : graphemes(upper)) {
        if (kept.size() == kSoundCharacters)
            break;
        if (g.size() == 1 &&
            ((g[0] >= u'A' && g[0] <= u'Z') || (g[0] >= u'a' && g[0] <= u'z') || g[0] == u'!'))
            kept += g;
    }
    return kept.isEmpty() ? kDefaultSound : kept;
}

[[noreturn]] void failDecoding(const QString &message)
{
    throw Creature::DecodingError(message);
}

QString requiredString(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined())
        failDecoding(QStringLiteral("the key \"%1\" is missing").arg(key));
    if (!value.isString())
        failDecoding(QStringLiteral("\"%1\" is not a string").arg(key));
    return value.toString();
}

QJsonObject requiredObject(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined())
        failDecoding(QStringLiteral("the key \"%1\" is missing").arg(key));
    if (!value.isObject())
        failDecoding(QStringLiteral("\"%1\" is not an object").arg(key));
    return value.toObject();
}

QStringList stringArray(const QJsonValue &value, const QString &what)
{
    if (!value.isArray())
        failDecoding(what + QStringLiteral(" is not an array of strings"));
    QStringList strings;
    const QJsonArray array = value.toArray();
    strings.reserve(array.size());
    for (const QJsonValue &item : array) {
        if (!item.isString())
            failDecoding(what + QStringLiteral(" is not an array of strings"));
        strings.append(item.toString());
    }
    return strings;
}

// The cell colour of a palette entry for frameImage: a 7-character text whose
// last six characters are a hexadecimal number.
std::optional<quint32> cellColor(const QString &text)
{
    const QList<QStringView> characters = graphemes(text);
    if (characters.size() != 7)
        return std::nullopt;
    quint32 rgb = 0;
    for (qsizetype i = 1; i < 7; ++i) {
        const QStringView c = characters[i];
        const int digit = c.size() == 1 ? hexValue(c[0]) : -1;
        if (digit < 0)
            return std::nullopt;
        rgb = rgb * 16 + quint32(digit);
    }
    return rgb;
}

} // namespace

Creature::Invalid::Invalid(QString message) : text(std::move(message)), utf8(text.toUtf8()) {}

Creature::DecodingError::DecodingError(QString message)
    : text(std::move(message)), utf8(text.toUtf8())
{}

Creature Creature::decode(const QByteArray &json)
{
    if (json.size() > kMaxJsonBytes)
        failDecoding(
            QStringLiteral("the creature JSON is larger than %1 bytes").arg(kMaxJsonBytes));
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        failDecoding(error.errorString() + QStringLiteral(" at offset ") +
                     QString::number(error.offset));
    if (!document.isObject())
        failDecoding(QStringLiteral("the creature JSON is not an object"));
    return fromJsonObject(document.object());
}

Creature Creature::fromJsonObject(const QJsonObject &object)
{
    Creature creature;
    creature.name = requiredString(object, QStringLiteral("name"));

    const QJsonObject palette = requiredObject(object, QStringLiteral("palette"));
    for (auto it = palette.begin(); it != palette.end(); ++it) {
        if (!it.value().isString())
            failDecoding(QStringLiteral("the palette entry \"%1\" is not a string").arg(it.key()));
        creature.palette.insert(it.key(), it.value().toString());
    }

    const QJsonObject frames = requiredObject(object, QStringLiteral("frames"));
    for (auto it = frames.begin(); it != frames.end(); ++it)
        creature.frames.insert(it.key(), stringArray(it.value(), quoted(it.key())));

    const QJsonValue attacks = object.value(QStringLiteral("attacks"));
    if (!attacks.isUndefined() && !attacks.isNull())
        creature.attacks = stringArray(attacks, QStringLiteral("\"attacks\""));

    const QJsonValue sound = object.value(QStringLiteral("sound"));
    if (!sound.isUndefined() && !sound.isNull()) {
        if (!sound.isString())
            failDecoding(QStringLiteral("\"sound\" is not a string"));
        creature.sound = sound.toString();
    }
    return creature;
}

QJsonObject Creature::toJsonObject() const
{
    QJsonObject paletteObject;
    for (auto it = palette.cbegin(); it != palette.cend(); ++it)
        paletteObject.insert(it.key(), it.value());
    QJsonObject framesObject;
    for (auto it = frames.cbegin(); it != frames.cend(); ++it)
        framesObject.insert(it.key(), QJsonArray::fromStringList(it.value()));

    QJsonObject object;
    object.insert(QStringLiteral("name"), name);
    object.insert(QStringLiteral("palette"), paletteObject);
    object.insert(QStringLiteral("frames"), framesObject);
    object.insert(QStringLiteral("attacks"), QJsonArray::fromStringList(attacks));
    if (sound)
        object.insert(QStringLiteral("sound"), *sound);
    return object;
}

QByteArray Creature::encode() const
{
    return QJsonDocument(toJsonObject()).toJson(QJsonDocument::Compact);
}

Creature Creature::validated() const
{
    Creature clean;
    clean.name = cleanName(name);

    if (palette.size() < kMinPalette || palette.size() > kMaxPalette)
        throw Invalid(QStringLiteral("The palette must have 2 to 16 colors (it has ") +
                      QString::number(palette.size()) + QStringLiteral(")."));
    for (auto it = palette.cbegin(); it != palette.cend(); ++it) {
        if (!isPaletteKey(it.key()))
            throw Invalid(QStringLiteral("Palette key ") + quoted(it.key()) +
                          QStringLiteral(" must be a single character other than \".\"."));
        const std::optional<QString> color = cleanColor(it.value());
        if (!color)
            throw Invalid(QStringLiteral("Palette color ") + quoted(it.value()) +
                          QStringLiteral(" is not a #rrggbb hex color."));
        clean.palette.insert(it.key(), *color);
    }

    for (const QString &frame : requiredFrames()) {
        if (!frames.contains(frame))
            throw Invalid(QStringLiteral("The creature is missing the ") + quoted(frame) +
                          QStringLiteral(" frame."));
    }

    // Known frames only, in a fixed order so that the same creature always
    // reports the same failure.
    const QStringList known = requiredFrames() + optionalFrames();
    QStringList kept;
    qsizetype width = 0;
    qsizetype height = 0;
    for (const QString &frame : known) {
        const auto found = frames.constFind(frame);
        if (found == frames.cend())
            continue;
        kept.append(frame);
        height = std::max(height, found->size());
        for (const QString &row : *found)
            width = std::max(width, graphemeCount(row));
    }
    if (width < kMinSide || height < kMinSide)
        throw Invalid(QStringLiteral("The frames are too small to draw."));
    if (width > kMaxWidth || height > kMaxHeight)
        throw Invalid(QStringLiteral("The frames are too big (") + QString::number(width) +
                      QLatin1Char('x') + QString::number(height) +
                      QStringLiteral("; the limit is 40x32)."));

    const QString blankRow(width, u'.');
    for (const QString &frame : kept) {
        QStringList rows;
        rows.reserve(height);
        for (qsizetype i = frames.value(frame).size(); i < height; ++i)
            rows.append(blankRow);
        qsizetype drawn = 0;
        for (const QString &row : frames.value(frame)) {
            const QList<QStringView> characters = graphemes(row);
            for (QStringView c : characters) {
                if (c == u".")
                    continue;
                if (!clean.palette.contains(c.toString()))
                    throw Invalid(QStringLiteral("Frame ") + quoted(frame) +
                                  QStringLiteral(" uses the letter ") + quoted(c.toString()) +
                                  QStringLiteral(", which is not in the palette."));
                ++drawn;
            }
            rows.append(row + QString(width - characters.size(), u'.'));
        }
        if (drawn < kAlmostEmpty && requiredFrames().contains(frame))
            throw Invalid(QStringLiteral("Frame ") + quoted(frame) +
                          QStringLiteral(" is almost empty."));

        // Stand the sprite on the bottom row; "leap" keeps its height in the air.
        if (frame != kLeap) {
            qsizetype blankBottom = 0;
            while (blankBottom < rows.size() && isBlankRow(rows[rows.size() - 1 - blankBottom]))
                ++blankBottom;
            if (blankBottom > 0 && blankBottom < rows.size())
                std::rotate(rows.begin(), rows.end() - blankBottom, rows.end());
        }
        clean.frames.insert(frame, rows);
    }

    clean.attacks = cleanAttacks(attacks);
    clean.sound = cleanSound(sound);
    return clean;
}

Creature Creature::fromReply(const QString &reply)
{
    const qsizetype open = reply.indexOf(u'{');
    const qsizetype close = reply.lastIndexOf(u'}');
    if (open < 0 || close < 0 || open >= close)
        throw Invalid(QStringLiteral("Claude's reply did not contain a creature."));
    try {
        return decode(reply.mid(open, close - open + 1).toUtf8());
    } catch (const DecodingError &error) {
        throw Invalid(QStringLiteral("Claude's reply was not valid creature JSON (") +
                      error.message() + QStringLiteral(")."));
    }
}

QImage Creature::frameImage(const QString &frame, int scale) const
{
    const auto found = frames.constFind(frame);
    if (found == frames.cend() || found->isEmpty() || scale < 1)
        return {};
    const QStringList &rows = *found;
    const qint64 columns = graphemeCount(rows.first()) + 2;
    const qint64 lines = rows.size() + 2;
    const qint64 pixelWidth = columns * scale;
    const qint64 pixelHeight = lines * scale;
    if (pixelWidth > kMaxImageSide || pixelHeight > kMaxImageSide ||
        pixelWidth * pixelHeight > kMaxImagePixels)
        return {};

    QHash<QString, quint32> colors;
    for (auto it = palette.cbegin(); it != palette.cend(); ++it) {
        if (const std::optional<quint32> rgb = cellColor(it.value()))
            colors.insert(it.key(), *rgb);
    }

    // A cell holds 0xffrrggbb when coloured and 0 when empty.
    constexpr quint32 kOpaque = 0xff000000;
    std::vector<quint32> sprite(size_t(columns * lines), 0);
    auto cell = [columns](std::vector<quint32> &grid, qint64 x, qint64 y) -> quint32 & {
        return grid[size_t(y * columns + x)];
    };
    for (qint64 y = 0; y < rows.size(); ++y) {
        qint64 x = 0;
        for (QStringView c : graphemes(rows[y])) {
            if (x + 2 >= columns)
                break; // Longer than the first row: the image is as wide as the first row.
            const auto color = colors.constFind(c.toString());
            if (color != colors.cend())
                cell(sprite, x + 1, y + 1) = kOpaque | *color;
            ++x;
        }
    }

    // The outline is judged on the sprite alone, so it is one cell wide.
    std::vector<quint32> grid = sprite;
    for (qint64 y = 0; y < lines; ++y) {
        for (qint64 x = 0; x < columns; ++x) {
            if (cell(sprite, x, y) != 0)
                continue;
            const bool touches = (x > 0 && cell(sprite, x - 1, y) != 0) ||
                                 (x + 1 < columns && cell(sprite, x + 1, y) != 0) ||
                                 (y > 0 && cell(sprite, x, y - 1) != 0) ||
                                 (y + 1 < lines && cell(sprite, x, y + 1) != 0);
            if (touches)
                cell(grid, x, y) = kOpaque | kOutline;
        }
    }

    QImage image(int(pixelWidth), int(pixelHeight), QImage::Format_RGBA8888);
    if (image.isNull())
        return {};
    std::vector<uchar> line(size_t(pixelWidth) * 4, 0);
    for (qint64 y = 0; y < lines; ++y) {
        for (qint64 x = 0; x < columns; ++x) {
            const quint32 value = cell(grid, x, y);
            const uchar rgba[4] = {uchar(value >> 16), uchar(value >> 8), uchar(value),
                                   uchar(value >> 24)};
            for (int s = 0; s < scale; ++s)
                std::memcpy(&line[size_t((x * scale + s) * 4)], rgba, 4);
        }
        for (int s = 0; s < scale; ++s)
            std::memcpy(image.scanLine(int(y * scale + s)), line.data(), line.size());
    }
    return image;
}

} // namespace bopling
