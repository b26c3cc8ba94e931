#include "types/JsonTemplate_p.h"

#include "core/NumberText_p.h"

#include <cstring>

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

QChar* writeText(QChar* out, QStringView text)
{
    // A null text has no data pointer, which memcpy must not be given even for no bytes.
    if (text.isEmpty())
        return out;
    std::memcpy(static_cast<void*>(out), text.data(), size_t(text.size()) * sizeof(QChar));
    return out + text.size();
}

// Index of the first '%' in c at or after from, four code units at a time; -1 when there is
// none. Most texts hold no '%', and each one filled in is scanned once.
qsizetype findPercent(const QChar* c, qsizetype from, qsizetype size)
{
    constexpr quint64 percents = 0x0025002500250025ULL;
    constexpr quint64 ones = 0x0001000100010001ULL;
    constexpr quint64 highs = 0x8000800080008000ULL;
    qsizetype i = from;
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

void JsonTemplate::appendFilled(QString& out, std::initializer_list<JsonArg> args) const
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
                if (arg != last && mayFormMarker(arg->text())) {
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
        out += filledBySubstitution(m_text, args);
        return;
    }

    // Written in place into room for the longest result, then cut to the length written;
    // resize grows the text geometrically, so repeated appends stay linear.
    const int start = out.size();
    out.resize(start + room);
    QChar* const begin = out.data();
    QChar* next = begin + start;
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
    out.resize(int(next - begin));
}

QString JsonTemplate::filled(std::initializer_list<JsonArg> args) const
{
    QString out;
    appendFilled(out, args);
    return out;
}

} // namespace kivo
