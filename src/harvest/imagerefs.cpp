#include "harvest/imagerefs.h"

#include <QChar>

#include <limits>

char16_t scannerUpper(char16_t unit)
{
    if (unit < 0x80)
        return (unit >= u'a' && unit <= u'z') ? char16_t(unit - (u'a' - u'A')) : unit;
    // Surrogate halves map to themselves; no letter of the 16-bit range maps outside it, but a
    // mapping that did would break the one-unit-in, one-unit-out rule, so it is refused.
    const char32_t upper = QChar::toUpper(char32_t(unit));
    return upper <= 0xFFFF ? char16_t(upper) : unit;
}

namespace {

// At or below a space: blanks and control characters.
inline bool isBlankOrControl(char16_t c)
{
    return c <= u' ';
}

// Leading filler in front of a value: blanks, control characters, double quotes and slashes.
inline bool isFiller(char16_t c)
{
    return isBlankOrControl(c) || c == u'"' || c == u'/';
}

// Characters that continue a value.
inline bool isValueChar(char16_t c)
{
    return !isBlankOrControl(c) && c != u'"' && c != u'>';
}

// The index of the next "SRC" (in the upper-case mapping) at or after from, or -1.
// Looks at the last character of each three-character window first and skips ahead by as much
// as that character allows (Horspool), so most of the page is passed over without a full test.
qsizetype findSrc(const char16_t *text, qsizetype size, qsizetype from)
{
    qsizetype i = from;
    while (i + 2 < size) {
        switch (scannerUpper(text[i + 2])) {
        case u'C':
            if (scannerUpper(text[i + 1]) == u'R' && scannerUpper(text[i]) == u'S')
                return i;
            i += 3;
            break;
        case u'R':
            i += 1;
            break;
        case u'S':
            i += 2;
            break;
        default:
            i += 3;
            break;
        }
    }
    return -1;
}

bool containsCgi(const char16_t *text, qsizetype size)
{
    for (qsizetype i = 0; i + 2 < size; ++i) {
        if (scannerUpper(text[i]) == u'C' && scannerUpper(text[i + 1]) == u'G' &&
            scannerUpper(text[i + 2]) == u'I')
            return true;
    }
    return false;
}

bool endsWithJpg(const char16_t *text, qsizetype size)
{
    return size >= 4 && scannerUpper(text[size - 4]) == u'.' &&
           scannerUpper(text[size - 3]) == u'J' && scannerUpper(text[size - 2]) == u'P' &&
           scannerUpper(text[size - 1]) == u'G';
}

} // namespace

qint32 ScanImageRefs(QStringView pageText, QStringList &imageRefs)
{
    const char16_t *text = pageText.utf16();
    const qsizetype size = pageText.size();

    QStringList accepted;
    qint32 count = 0;
    qsizetype pos = 0; // 0-based; the scan ends once fewer than two characters are left

    while (pos + 1 < size) {
        const qsizetype src = findSrc(text, size, pos);
        if (src < 0)
            break;
        // The value follows the next "=", wherever it is; the search starts on the "S" itself.
        const qsizetype equals = pageText.indexOf(u'=', src);
        if (equals < 0)
            break;
        pos = equals + 1;
        while (pos < size && isFiller(text[pos]))
            ++pos;
        if (pos >= size)
            break;
        qsizetype end = pos;
        while (end < size && isValueChar(text[end]))
            ++end;

        // Trim blanks at both ends: the value holds no character at or below a space, but it may
        // hold other white space such as the ideographic space.
        qsizetype first = pos;
        qsizetype last = end;
        while (first < last && QChar(text[first]).isSpace())
            ++first;
        while (last > first && QChar(text[last - 1]).isSpace())
            --last;
        const char16_t *candidate = text + first;
        const qsizetype length = last - first;
        if (!containsCgi(candidate, length) && endsWithJpg(candidate, length) &&
            count < std::numeric_limits<qint32>::max()) {
            accepted.append(QString(reinterpret_cast<const QChar *>(candidate), length));
            ++count;
        }
        // The next search starts at the character that ended the value.
        pos = end;
    }

    if (count > 0)
        imageRefs = std::move(accepted);
    return count;
}

qint32 ScanImageRefs(const QString &pageText, QStringList &imageRefs)
{
    return ScanImageRefs(QStringView(pageText), imageRefs);
}
