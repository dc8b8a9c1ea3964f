// SPDX-License-Identifier: GPL-3.0-or-later
#include "harvest/imagerefs.h"

#include <QChar>

#include <bit>
#include <limits>
#include <optional>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

char16_t nonAsciiUpper(char16_t unit)
{
    // Surrogate halves map to themselves; no letter of the 16-bit range maps outside it, but a
    // mapping that did would break the one-unit-in, one-unit-out rule, so it is refused.
    const char32_t upper = QChar::toUpper(char32_t(unit));
    return upper <= 0xFFFF ? char16_t(upper) : unit;
}

inline char16_t upper(char16_t unit)
{
    if (unit < 0x80) [[likely]]
        return (unit >= u'a' && unit <= u'z') ? char16_t(unit - (u'a' - u'A')) : unit;
    return nonAsciiUpper(unit);
}

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
qsizetype findSrcScalar(const char16_t *text, qsizetype size, qsizetype from)
{
    // Looks at the last character of each three-character window first and skips ahead by as
    // much as that character allows (Horspool).
    qsizetype i = from;
    while (i + 2 < size) {
        switch (upper(text[i + 2])) {
        case u'C':
            if (upper(text[i + 1]) == u'R' && upper(text[i]) == u'S')
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

// The index of the first unit at or after from that ends a value (a blank or control character,
// a double quote or ">"), or size.
qsizetype findValueEndScalar(const char16_t *text, qsizetype size, qsizetype from)
{
    qsizetype i = from;
    while (i < size && isValueChar(text[i]))
        ++i;
    return i;
}

// The widest kernels the processor runs, picked once.
struct Kernels {
    qsizetype (*findSrc)(const char16_t *, qsizetype, qsizetype);
    qsizetype (*findValueEnd)(const char16_t *, qsizetype, qsizetype);
};

#if defined(__x86_64__)
// The same searches many positions at a time. Apart from the ASCII letters themselves, the only
// unit whose upper-case twin is "S", "R" or "C" is the long s (U+017F, twin "S"); the tests
// check that this still holds for the Unicode tables in use.

__attribute__((target("avx2"))) qsizetype findSrcAvx2(const char16_t *text, qsizetype size,
                                                      qsizetype from)
{
    const __m256i caseBit = _mm256_set1_epi16(0x20);
    const __m256i s = _mm256_set1_epi16(u's');
    const __m256i longS = _mm256_set1_epi16(0x017F);
    const __m256i r = _mm256_set1_epi16(u'r');
    const __m256i c = _mm256_set1_epi16(u'c');
    qsizetype i = from;
    for (; i + 18 <= size; i += 16) {
        const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(text + i));
        const __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(text + i + 1));
        const __m256i third = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(text + i + 2));
        const __m256i isS = _mm256_or_si256(_mm256_cmpeq_epi16(_mm256_or_si256(first, caseBit), s),
                                            _mm256_cmpeq_epi16(first, longS));
        const __m256i isR = _mm256_cmpeq_epi16(_mm256_or_si256(second, caseBit), r);
        const __m256i isC = _mm256_cmpeq_epi16(_mm256_or_si256(third, caseBit), c);
        const unsigned mask =
            unsigned(_mm256_movemask_epi8(_mm256_and_si256(isS, _mm256_and_si256(isR, isC))));
        if (mask != 0)
            return i + std::countr_zero(mask) / 2;
    }
    return findSrcScalar(text, size, i);
}

__attribute__((target("sse2"))) qsizetype findSrcSse2(const char16_t *text, qsizetype size,
                                                      qsizetype from)
{
    const __m128i caseBit = _mm_set1_epi16(0x20);
    const __m128i s = _mm_set1_epi16(u's');
    const __m128i longS = _mm_set1_epi16(0x017F);
    const __m128i r = _mm_set1_epi16(u'r');
    const __m128i c = _mm_set1_epi16(u'c');
    qsizetype i = from;
    for (; i + 10 <= size; i += 8) {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + i));
        const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + i + 1));
        const __m128i third = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + i + 2));
        const __m128i isS = _mm_or_si128(_mm_cmpeq_epi16(_mm_or_si128(first, caseBit), s),
                                         _mm_cmpeq_epi16(first, longS));
        const __m128i isR = _mm_cmpeq_epi16(_mm_or_si128(second, caseBit), r);
        const __m128i isC = _mm_cmpeq_epi16(_mm_or_si128(third, caseBit), c);
        const unsigned mask =
            unsigned(_mm_movemask_epi8(_mm_and_si128(isS, _mm_and_si128(isR, isC))));
        if (mask != 0)
            return i + std::countr_zero(mask) / 2;
    }
    return findSrcScalar(text, size, i);
}

__attribute__((target("avx2"))) qsizetype findValueEndAvx2(const char16_t *text, qsizetype size,
                                                           qsizetype from)
{
    const __m256i space = _mm256_set1_epi16(u' ');
    const __m256i quote = _mm256_set1_epi16(u'"');
    const __m256i greater = _mm256_set1_epi16(u'>');
    const __m256i zero = _mm256_setzero_si256();
    qsizetype i = from;
    for (; i + 16 <= size; i += 16) {
        const __m256i units = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(text + i));
        // unit <= space exactly when the saturating unit - space is 0.
        const __m256i blank = _mm256_cmpeq_epi16(_mm256_subs_epu16(units, space), zero);
        const __m256i ends =
            _mm256_or_si256(blank, _mm256_or_si256(_mm256_cmpeq_epi16(units, quote),
                                                   _mm256_cmpeq_epi16(units, greater)));
        const unsigned mask = unsigned(_mm256_movemask_epi8(ends));
        if (mask != 0)
            return i + std::countr_zero(mask) / 2;
    }
    return findValueEndScalar(text, size, i);
}

__attribute__((target("sse2"))) qsizetype findValueEndSse2(const char16_t *text, qsizetype size,
                                                           qsizetype from)
{
    const __m128i space = _mm_set1_epi16(u' ');
    const __m128i quote = _mm_set1_epi16(u'"');
    const __m128i greater = _mm_set1_epi16(u'>');
    const __m128i zero = _mm_setzero_si128();
    qsizetype i = from;
    for (; i + 8 <= size; i += 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + i));
        const __m128i blank = _mm_cmpeq_epi16(_mm_subs_epu16(units, space), zero);
        const __m128i ends = _mm_or_si128(
            blank, _mm_or_si128(_mm_cmpeq_epi16(units, quote), _mm_cmpeq_epi16(units, greater)));
        const unsigned mask = unsigned(_mm_movemask_epi8(ends));
        if (mask != 0)
            return i + std::countr_zero(mask) / 2;
    }
    return findValueEndScalar(text, size, i);
}

#endif

std::optional<Kernels> kernelsFor(ScanKernel kernel)
{
    switch (kernel) {
    case ScanKernel::Scalar:
        return Kernels{findSrcScalar, findValueEndScalar};
#if defined(__x86_64__)
    case ScanKernel::Sse2:
        return Kernels{findSrcSse2, findValueEndSse2};
    case ScanKernel::Avx2:
        if (__builtin_cpu_supports("avx2"))
            return Kernels{findSrcAvx2, findValueEndAvx2};
        break;
#else
    case ScanKernel::Sse2:
    case ScanKernel::Avx2:
        break;
#endif
    }
    return std::nullopt;
}

const Kernels &kernels()
{
    static const Kernels best =
        kernelsFor(ScanKernel::Avx2)
            .value_or(kernelsFor(ScanKernel::Sse2).value_or(*kernelsFor(ScanKernel::Scalar)));
    return best;
}

// The letters of "CGI" and ".JPG" have no non-ASCII upper-case source except the dotless i
// (U+0131, twin "I"), so these tests compare the units directly.
inline bool isLetter(char16_t unit, char16_t lower)
{
    return (unit | 0x20) == lower;
}

bool containsCgi(const char16_t *text, qsizetype size)
{
    for (qsizetype i = 0; i + 2 < size; ++i) {
        if (isLetter(text[i], u'c') && isLetter(text[i + 1], u'g') &&
            (isLetter(text[i + 2], u'i') || text[i + 2] == 0x0131))
            return true;
    }
    return false;
}

bool endsWithJpg(const char16_t *text, qsizetype size)
{
    return size >= 4 && text[size - 4] == u'.' && isLetter(text[size - 3], u'j') &&
           isLetter(text[size - 2], u'p') && isLetter(text[size - 1], u'g');
}

} // namespace

char16_t scannerUpper(char16_t unit)
{
    return upper(unit);
}

namespace {

qint32 scan(const Kernels &simd, QStringView pageText, QStringList &imageRefs,
            QList<qsizetype> *positions)
{
    const char16_t *text = pageText.utf16();
    const qsizetype size = pageText.size();

    QStringList accepted;
    QList<qsizetype> acceptedAt;
    qint32 count = 0;
    qsizetype pos = 0; // 0-based; the scan ends once fewer than two characters are left

    while (pos + 1 < size) {
        const qsizetype src = simd.findSrc(text, size, pos);
        if (src < 0)
            break;
        // The value follows the next "=", wherever it is; the search starts on the "S" itself.
        qsizetype equals = src + 3;
        while (equals < size && text[equals] != u'=')
            ++equals;
        if (equals >= size)
            break;
        pos = equals + 1;
        while (pos < size && isFiller(text[pos]))
            ++pos;
        if (pos >= size)
            break;
        const qsizetype end = simd.findValueEnd(text, size, pos);

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
        if (endsWithJpg(candidate, length) && !containsCgi(candidate, length) &&
            count < std::numeric_limits<qint32>::max()) {
            accepted.append(QString(reinterpret_cast<const QChar *>(candidate), length));
            if (positions)
                acceptedAt.append(first);
            ++count;
        }
        // The next search starts at the character that ended the value.
        pos = end;
    }

    if (count > 0) {
        imageRefs = std::move(accepted);
        if (positions)
            *positions = std::move(acceptedAt);
    }
    return count;
}

} // namespace

qint32 ScanImageRefs(QStringView pageText, QStringList &imageRefs, QList<qsizetype> *positions)
{
    return scan(kernels(), pageText, imageRefs, positions);
}

std::optional<qint32> ScanImageRefsWith(ScanKernel kernel, QStringView pageText,
                                        QStringList &imageRefs)
{
    const std::optional<Kernels> chosen = kernelsFor(kernel);
    if (!chosen)
        return std::nullopt;
    return scan(*chosen, pageText, imageRefs, nullptr);
}

qint32 ScanImageRefs(const QString &pageText, QStringList &imageRefs)
{
    return ScanImageRefs(QStringView(pageText), imageRefs, nullptr);
}
