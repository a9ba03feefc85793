#include "creatures/Graphemes.h"

#include <QChar>
#include <QTextBoundaryFinder>

namespace bopling {

namespace {

bool isAscii(QStringView text)
{
    for (QChar c : text) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

// Calls `visit` with each character of `text`. ASCII text, by far the most
// common case in frames, is split without the boundary finder: there only
// "\r\n" forms one character.
template <typename Visit> void forEachGrapheme(QStringView text, Visit visit)
{
    if (isAscii(text)) {
        qsizetype i = 0;
        while (i < text.size()) {
            const qsizetype length =
                (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ? 2 : 1;
            visit(text.mid(i, length));
            i += length;
        }
        return;
    }
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    for (qsizetype next = finder.toNextBoundary(); next != -1; next = finder.toNextBoundary()) {
        if (next > start)
            visit(text.mid(start, next - start));
        start = next;
    }
}

} // namespace

QList<QStringView> graphemes(QStringView text)
{
    QList<QStringView> result;
    forEachGrapheme(text, [&result](QStringView g) { result.append(g); });
    return result;
}

qsizetype graphemeCount(QStringView text)
{
    qsizetype count = 0;
    forEachGrapheme(text, [&count](QStringView) { ++count; });
    return count;
}

QString leftGraphemes(QStringView text, qsizetype count)
{
    qsizetype taken = 0;
    qsizetype end = 0;
    forEachGrapheme(text, [&](QStringView g) {
        if (taken < count) {
            ++taken;
            end = g.data() - text.data() + g.size();
        }
    });
    return text.left(end).toString();
}

bool isLetterOrNumber(QStringView grapheme)
{
    if (grapheme.isEmpty())
        return false;
    char32_t first = grapheme[0].unicode();
    if (grapheme.size() > 1 && grapheme[0].isHighSurrogate() && grapheme[1].isLowSurrogate())
        first = QChar::surrogateToUcs4(grapheme[0], grapheme[1]);
    return QChar::isLetterOrNumber(first);
}

} // namespace bopling
