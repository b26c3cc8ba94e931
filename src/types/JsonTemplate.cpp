#include "types/JsonTemplate_p.h"

#include "core/NumberText_p.h"

#include <QtAlgorithms>

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kivo {

namespace {

// QString::arg(int) writes plain decimal digits with a minus sign for negatives.
QChar* writeInteger(QChar* out, int number)
{
    char digits[10];
    int count = 0;
    unsigned int magnitude
        = number < 0 ? 0u - static_cast<unsigned int>(number) : static_cast<unsigned int>(number);
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (number < 0)
        *out++ = QLatin1Char('-');
    while (count > 0)
        *out++ = QLatin1Char(digits[--count]);
    return out;
}

inline QChar* writeText(QChar* out, QStringView text)
{
    // Most pieces are short: they are copied here with a few overlapping moves of fixed size,
    // which cost less than a call of memcpy with its dispatch on the size.
    char* to = reinterpret_cast<char*>(out);
    const char* from = reinterpret_cast<const char*>(text.data());
    const size_t bytes = size_t(text.size()) * sizeof(QChar);
    if (bytes > 64) {
        std::memcpy(to, from, bytes);
    } else if (bytes >= 16) {
        std::memcpy(to, from, 16);
        std::memcpy(to + bytes - 16, from + bytes - 16, 16);
        if (bytes > 32) {
            std::memcpy(to + 16, from + 16, 16);
            std::memcpy(to + bytes - 32, from + bytes - 32, 16);
        }
    } else if (bytes >= 4) {
        const size_t half = bytes >= 8 ? 8 : 4;
        std::memcpy(to, from, half);
        std::memcpy(to + bytes - half, from + bytes - half, half);
    } else if (bytes == 2) {
        *out = text.front();
    }
    return out + text.size();
}

// Index of the first '%' in c at or after from, eight code units at a time (four without
// SSE2); -1 when there is none. Most texts hold no '%', and each one filled in is scanned once.
qsizetype findPercent(const QChar* c, qsizetype from, qsizetype size)
{
    qsizetype i = from;
#if defined(__SSE2__)
    if (size - from >= 8) {
        const __m128i percent = _mm_set1_epi16(u'%');
        const auto hitsAt = [c, percent](qsizetype at) {
            const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + at));
            return uint(_mm_movemask_epi8(_mm_cmpeq_epi16(units, percent)));
        };
        for (; i + 8 <= size; i += 8) {
            if (const uint hits = hitsAt(i))
                return i + qCountTrailingZeroBits(hits) / 2;
        }
        // The last units again, as the eight that end the text.
        if (i < size) {
            if (const uint hits = hitsAt(size - 8) >> (2 * (i - (size - 8))))
                return i + qCountTrailingZeroBits(hits) / 2;
        }
        return -1;
    }
#endif
    constexpr quint64 percents = 0x0025002500250025ULL;
    constexpr quint64 ones = 0x0001000100010001ULL;
    constexpr quint64 highs = 0x8000800080008000ULL;
    for (; i + 4 <= size; i += 4) {
        quint64 units;
        std::memcpy(&units, c + i, sizeof units);
        const quint64 x = units ^ percents;
        if (((x - ones) & ~x & highs) != 0)
            break;
    }
    for (; i < size; ++i) {
        if (c[i].unicode() == u'%')
            return i;
    }
    return -1;
}

// Longest text of an int ("-2147483648").
constexpr int maxIntegerLength = 11;

} // namespace

void JsonBuffer::grow(int count)
{
    m_units.resize(qMax(2 * m_units.size(), m_size + count));
}

void JsonBuffer::append(QLatin1String text)
{
    QChar* next = room(text.size());
    for (const char c : text)
        *next++ = QLatin1Char(c);
    commit(next);
}

void JsonBuffer::append(QStringView text)
{
    commit(writeText(room(int(text.size())), text));
}

JsonTemplate::JsonTemplate(const QString& text)
    : m_text(text)
{
    // Finds the markers as QString::arg does: '%', an optional 'L', one or two digits.
    const QChar* c = m_text.constData();
    const int size = m_text.size();
    int literalStart = 0;
    int expected = 1;
    bool appendable = true;
    for (int i = 0; i < size && appendable; ++i) {
        if (c[i].unicode() != u'%')
            continue;
        int next = i + 1;
        const bool localized = next < size && c[next].unicode() == u'L';
        if (localized)
            ++next;
        if (next >= size)
            break;
        int number = c[next].digitValue();
        if (number < 0)
            continue;
        ++next;
        if (next < size && c[next].digitValue() >= 0) {
            number = 10 * number + c[next].digitValue();
            ++next;
        }
        // A literal ending in '%' or "%L" would make a marker of a value starting with a digit.
        const QString literal = m_text.mid(literalStart, i - literalStart);
        if (localized || number != expected || literal.endsWith(QLatin1Char('%'))
            || literal.endsWith(QLatin1String("%L"))) {
            appendable = false;
            break;
        }
        m_literals.append({ literalStart, i - literalStart });
        m_literalLength += i - literalStart;
        literalStart = next;
        i = next - 1;
        ++expected;
    }
    if (!appendable || m_literals.isEmpty()) {
        m_literals.clear();
        m_literalLength = 0;
        return;
    }
    m_literals.append({ literalStart, size - literalStart });
    m_literalLength += size - literalStart;
}

bool JsonTemplate::mayFormMarker(QStringView text)
{
    const QChar* c = text.data();
    const qsizetype size = text.size();
    for (qsizetype i = findPercent(c, 0, size); i >= 0; i = findPercent(c, i + 1, size)) {
        qsizetype next = i + 1;
        if (next < size && c[next].unicode() == u'L')
            ++next;
        if (next >= size || c[next].digitValue() >= 0)
            return true;
    }
    return false;
}

QString JsonTemplate::filledBySubstitution(const QString& text, std::initializer_list<JsonArg> args)
{
    QString result = text;
    for (const JsonArg& arg : args) {
        switch (arg.kind()) {
        case JsonArg::Text:
            result = result.arg(arg.text().toString());
            break;
        case JsonArg::Integer:
            result = result.arg(arg.integer());
            break;
        case JsonArg::Real:
            result = result.arg(arg.real(), 0, 'g', -1);
            break;
        }
    }
    return result;
}

void JsonTemplate::appendFilled(JsonBuffer& out, std::initializer_list<JsonArg> args) const
{
    // Appending gives the text of the substitution chain as long as no marker can appear in the
    // text before the last call: numbers never hold '%', so only the texts inserted before the
    // last value are checked. The template's own literals were checked when it was split.
    bool appendable = !m_literals.isEmpty() && int(args.size()) == m_literals.size() - 1;
    int room = m_literalLength;
    if (appendable) {
        const JsonArg* last = args.end() - 1;
        for (const JsonArg* arg = args.begin(); arg != args.end(); ++arg) {
            if (arg->kind() == JsonArg::Text) {
                if (arg != last && !arg->isMarkerFree() && mayFormMarker(arg->text())) {
                    appendable = false;
                    break;
                }
                room += int(arg->text().size());
            } else {
                room += arg->kind() == JsonArg::Integer ? maxIntegerLength
                                                        : NumberText::maxGeneralLength;
            }
        }
    }
    if (!appendable) {
        out.append(filledBySubstitution(m_text, args));
        return;
    }

    // Written in place into room for the longest result.
    QChar* next = out.room(room);
    const QChar* literals = m_text.constData();
    const Piece* literal = m_literals.constData();
    for (const JsonArg& arg : args) {
        next = writeText(next, QStringView(literals + literal->position, literal->length));
        ++literal;
        switch (arg.kind()) {
        case JsonArg::Text:
            next = writeText(next, arg.text());
            break;
        case JsonArg::Integer:
            next = writeInteger(next, arg.integer());
            break;
        case JsonArg::Real: {
            const int length = NumberText::writeGeneral(next, arg.real());
            next
                = length > 0 ? next + length : writeText(next, QString::number(arg.real(), 'g', 6));
            break;
        }
        }
    }
    next = writeText(next, QStringView(literals + literal->position, literal->length));
    out.commit(next);
}

QString JsonTemplate::filled(std::initializer_list<JsonArg> args) const
{
    JsonBuffer out;
    appendFilled(out, args);
    return out.toString();
}

} // namespace kivo
