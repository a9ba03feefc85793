#pragma once

#include <QByteArray>
#include <QImage>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>

#include <exception>
#include <optional>

namespace bopling {

// A pixel-art creature: a plain value. Its JSON form is the one used by the
// CLI's reply, the creature files, the built-in creature and the familiars
// sent to the page. Everything here is pure and safe on any thread.
//
// Frames are rows of letters, top row first; "." is a transparent pixel and
// every other letter is a palette key. "Characters" are user-perceived
// characters (grapheme clusters) throughout.
class Creature final
{
public:
    // A creature that cannot be used; `message()` is shown to the user word for word.
    class Invalid final : public std::exception
    {
    public:
        explicit Invalid(QString message);
        const QString &message() const { return text; }
        const char *what() const noexcept override { return utf8.constData(); }

    private:
        QString text;
        QByteArray utf8;
    };

    // Bytes that are not creature JSON; `message()` is the JSON parser's own
    // description, or says which key is missing or of the wrong type.
    class DecodingError final : public std::exception
    {
    public:
        explicit DecodingError(QString message);
        const QString &message() const { return text; }
        const char *what() const noexcept override { return utf8.constData(); }

    private:
        QString text;
        QByteArray utf8;
    };

    QString name;
    QMap<QString, QString> palette;    // one-character key -> "#rrggbb"
    QMap<QString, QStringList> frames; // frame name -> rows
    QStringList attacks;               // move ids, in the creature's order
    std::optional<QString> sound;      // battle cry

    bool operator==(const Creature &) const = default;

    // Creature JSON is refused above this size (a creature is a few kilobytes).
    static constexpr qsizetype kMaxJsonBytes = 1024 * 1024;

    // JSON bytes to a creature; throws DecodingError. Required keys: "name",
    // "palette", "frames"; "attacks" and "sound" may be absent or null; other
    // keys are ignored. Input larger than kMaxJsonBytes or nested too deeply
    // is refused.
    static Creature decode(const QByteArray &json);
    // The same for a JSON object already parsed; throws DecodingError.
    static Creature fromJsonObject(const QJsonObject &object);

    // Compact JSON; "sound" only when the creature has one.
    QByteArray encode() const;
    QJsonObject toJsonObject() const;

    // The normalizing check: a cleaned copy (name, palette, frames cut to one
    // rectangle and bottom-aligned, attacks, sound), or throws Invalid with
    // the first failure. This creature is left as it was.
    Creature validated() const;

    // Pulls the creature out of the CLI's free-text reply (from the first "{"
    // to the last "}") and decodes it, not yet validated; throws Invalid.
    static Creature fromReply(const QString &reply);

    // The frame drawn with a one-pixel dark outline, each sprite pixel a
    // scale x scale square, as 8-bit RGBA (Format_RGBA8888) with empty cells
    // fully transparent. A null image when the frame is missing, has no rows,
    // the scale is below 1 or the image would be too large to make.
    QImage frameImage(const QString &frame, int scale) const;
};

} // namespace bopling
