#include "types/JsonTemplate_p.h"

namespace kivo {

namespace {

// QString::arg(int) writes plain decimal digits with a minus sign for negatives.
void appendInteger(QString& out, int number)
{
    QChar digits[11];
    int first = 11;
    unsigned int magnitude
        = number < 0 ? 0u - static_cast<unsigned int>(number) : static_cast<unsigned int>(number);
    do {
        digits[--first] = QLatin1Char(static_cast<char>('0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    if (number < 0)
        digits[--first] = QLatin1Char('-');
    out.append(digits + first, 11 - first);
}

// Makes room for extra more characters, growing geometrically so that repeated appends to the
// same text stay linear.
void reserveMore(QString& out, int extra)
{
    const int needed = out.size() + extra;
    if (needed > out.capacity())
        out.reserve(qMax(needed, 2 * out.capacity()));
}

// Longest text of a double in 'g' format with six significant digits ("-1.23457e-308").
constexpr int maxRealLength = 13;
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

bool JsonTemplate::mayFormMarker(const QString& text)
{
    const QChar* c = text.constData();
    const int size = text.size();
    for (int i = text.indexOf(QLatin1Char('%')); i >= 0 && i < size; ++i) {
        if (c[i].unicode() != u'%')
            continue;
        int next = i + 1;
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
            result = result.arg(arg.text());
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
    int extra = m_literalLength;
    if (appendable) {
        const JsonArg* last = args.end() - 1;
        for (const JsonArg* arg = args.begin(); arg != args.end(); ++arg) {
            if (arg->kind() == JsonArg::Text) {
                if (arg != last && mayFormMarker(arg->text())) {
                    appendable = false;
                    break;
                }
                extra += arg->text().size();
            } else {
                extra += arg->kind() == JsonArg::Integer ? maxIntegerLength : maxRealLength;
            }
        }
    }
    if (!appendable) {
        out += filledBySubstitution(m_text, args);
        return;
    }

    reserveMore(out, extra);
    const QChar* literals = m_text.constData();
    const Piece* literal = m_literals.constData();
    for (const JsonArg& arg : args) {
        out.append(literals + literal->position, literal->length);
        ++literal;
        switch (arg.kind()) {
        case JsonArg::Text:
            out += arg.text();
            break;
        case JsonArg::Integer:
            appendInteger(out, arg.integer());
            break;
        case JsonArg::Real:
            // The text of QString::arg(double, 0, 'g', -1): 'g' with Qt's default precision.
            out += QString::number(arg.real(), 'g', 6);
            break;
        }
    }
    out.append(literals + literal->position, literal->length);
}

QString JsonTemplate::filled(std::initializer_list<JsonArg> args) const
{
    QString out;
    appendFilled(out, args);
    return out;
}

} // namespace kivo
