#include "core/NumberText_p.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace kivo {

namespace NumberText {

namespace {

constexpr int generalPrecision = 6;

// The shortcut for fixed notation needs the spacing of doubles near the value to be finer than
// the last decimal printed, so that the shortest digits lie on the printed grid only when the
// value does: below 1e9 a double's spacing is at most 2^-22, finer than 1e-6.
constexpr double fixedLimit = 1e9;
constexpr int maxFixedDecimals = 6;

// The magnitude of a double as the shortest decimal that reads back as the same double, which
// std::to_chars rounds correctly from the exact value: digits d1 d2 ... dn standing for
// d1.d2...dn times ten to the exponent. No digits stands for zero.
struct Decimal
{
    char digits[32];
    int count = 0;
    int exponent = 0;
};

bool shortestDecimal(double value, Decimal* decimal)
{
    char text[40];
    const std::to_chars_result written
        = std::to_chars(text, text + sizeof text, std::fabs(value), std::chars_format::scientific);
    if (written.ec != std::errc())
        return false;
    const char* c = text;
    const char* const end = written.ptr;
    decimal->count = 0;
    decimal->digits[decimal->count++] = *c++;
    if (c != end && *c == '.') {
        ++c;
        while (c != end && *c != 'e' && decimal->count < int(sizeof decimal->digits))
            decimal->digits[decimal->count++] = *c++;
    }
    if (c == end || *c != 'e')
        return false;
    ++c;
    if (c != end && *c == '+')
        ++c;
    return std::from_chars(c, end, decimal->exponent).ec == std::errc();
}

// Rounds to keep significant digits, halves away from zero as Qt does. Rounding the exact value
// and rounding its correctly rounded shortest digits agree unless those digits end exactly in a
// half at the rounding position: the exact value may then lie on either side, and false is
// returned. Trailing zeros are dropped.
bool roundDecimal(Decimal* decimal, int keep)
{
    if (decimal->count > keep) {
        if (keep < 0) {
            decimal->count = 0;
            return true;
        }
        if (decimal->count == keep + 1 && decimal->digits[keep] == '5')
            return false;
        const bool up = decimal->digits[keep] >= '5';
        decimal->count = keep;
        if (up) {
            int last = keep - 1;
            while (last >= 0 && decimal->digits[last] == '9')
                --last;
            if (last < 0) {
                decimal->digits[0] = '1';
                decimal->count = 1;
                ++decimal->exponent;
            } else {
                ++decimal->digits[last];
                decimal->count = last + 1;
            }
        }
    }
    while (decimal->count > 0 && decimal->digits[decimal->count - 1] == '0')
        --decimal->count;
    return true;
}

class Writer
{
public:
    explicit Writer(QChar* out)
        : m_begin(out)
        , m_next(out)
    { }

    void put(char c) { *m_next++ = QLatin1Char(c); }
    void putDigit(const Decimal& decimal, int index)
    {
        put(index >= 0 && index < decimal.count ? decimal.digits[index] : '0');
    }
    // Writes the digits of a whole number below 2^53.
    void putWhole(quint64 whole)
    {
        char digits[20];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + whole % 10);
            whole /= 10;
        } while (whole != 0);
        while (count > 0)
            put(digits[--count]);
    }
    // Writes number with at least width digits, zeros in front.
    void putPadded(quint64 number, int width)
    {
        char digits[20];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + number % 10);
            number /= 10;
        } while (number != 0 || count < width);
        while (count > 0)
            put(digits[--count]);
    }
    int length() const { return int(m_next - m_begin); }

private:
    QChar* m_begin;
    QChar* m_next;
};

// Whole numbers below 2^53 are exact and their digits need no rounding analysis.
bool isSmallWhole(double magnitude)
{
    return magnitude < 9007199254740992.0 && magnitude == std::floor(magnitude);
}

// The powers of ten that doubles hold exactly, as far as they are needed.
constexpr double exactPowers[] = { 1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9 };

// The magnitude times 10^power rounded to a whole number, halves away from zero; -1 when the
// product cannot decide it. A product of two doubles is off by at most half its spacing, which
// is below 2^-22 under 2^31, so a fraction further than 1e-6 from one half rounds as the exact
// product does. Near a half the exact value decides, and -1 leaves it to the digit path.
qint64 scaledRound(double magnitude, int power)
{
    const double scaled = magnitude * exactPowers[power];
    if (!(scaled < 2147483648.0))
        return -1;
    const double whole = std::floor(scaled);
    const double fraction = scaled - whole;
    if (std::fabs(fraction - 0.5) <= 1e-6)
        return -1;
    return static_cast<qint64>(whole) + (fraction > 0.5 ? 1 : 0);
}

} // namespace

int writeGeneral(QChar* out, double value)
{
    Writer text(out);
    if (value == 0.0) {
        // Qt writes no sign for a negative zero.
        text.put('0');
        return text.length();
    }
    const double magnitude = std::fabs(value);
    if (magnitude < 1e6 && isSmallWhole(magnitude)) {
        if (value < 0)
            text.put('-');
        text.putWhole(static_cast<quint64>(magnitude));
        return text.length();
    }
    if (magnitude >= 1e-4 && magnitude < 1e6) {
        // Six significant digits in fixed notation: find the decimal exponent, scale the value
        // to six whole digits and round. A wrong guess of the exponent shows as a result
        // outside the six-digit range and is left to the digit path.
        static const double lowerBounds[]
            = { 1e-4, 1e-3, 1e-2, 1e-1, 1e0, 1e1, 1e2, 1e3, 1e4, 1e5 };
        int exponent = -4;
        while (exponent < 5 && magnitude >= lowerBounds[exponent + 5])
            ++exponent;
        const qint64 rounded = scaledRound(magnitude, generalPrecision - 1 - exponent);
        if (rounded >= 100000 && rounded <= 999999) {
            char digits[generalPrecision];
            qint64 rest = rounded;
            for (int i = generalPrecision - 1; i >= 0; --i) {
                digits[i] = static_cast<char>('0' + rest % 10);
                rest /= 10;
            }
            int count = generalPrecision;
            while (digits[count - 1] == '0')
                --count;
            if (value < 0)
                text.put('-');
            if (exponent >= 0) {
                for (int i = 0; i <= exponent; ++i)
                    text.put(digits[i]);
                if (count > exponent + 1)
                    text.put('.');
            } else {
                text.put('0');
                text.put('.');
                for (int i = exponent + 1; i < 0; ++i)
                    text.put('0');
            }
            for (int i = exponent + 1 > 0 ? exponent + 1 : 0; i < count; ++i)
                text.put(digits[i]);
            return text.length();
        }
    }
    // Below the normal range a double holds fewer digits than its shortest text suggests
    // (the smallest one reads back from "5e-324" but is 4.94066e-324 to six digits).
    Decimal decimal;
    if (!std::isfinite(value) || magnitude < std::numeric_limits<double>::min()
        || !shortestDecimal(value, &decimal) || !roundDecimal(&decimal, generalPrecision)) {
        return 0;
    }
    if (value < 0)
        text.put('-');
    const int exponent = decimal.exponent;
    if (exponent < -4 || exponent >= generalPrecision) {
        text.put(decimal.digits[0]);
        if (decimal.count > 1) {
            text.put('.');
            for (int i = 1; i < decimal.count; ++i)
                text.put(decimal.digits[i]);
        }
        text.put('e');
        text.put(exponent < 0 ? '-' : '+');
        const int power = exponent < 0 ? -exponent : exponent;
        if (power >= 100)
            text.put(static_cast<char>('0' + power / 100));
        text.put(static_cast<char>('0' + power / 10 % 10));
        text.put(static_cast<char>('0' + power % 10));
    } else if (exponent >= 0) {
        for (int i = 0; i <= exponent; ++i)
            text.putDigit(decimal, i);
        if (decimal.count > exponent + 1) {
            text.put('.');
            for (int i = exponent + 1; i < decimal.count; ++i)
                text.put(decimal.digits[i]);
        }
    } else {
        text.put('0');
        text.put('.');
        for (int i = exponent + 1; i < decimal.count; ++i)
            text.putDigit(decimal, i);
    }
    return text.length();
}

int writeFixed(QChar* out, double value, int decimals)
{
    if (decimals < 0 || decimals > maxFixedDecimals || !std::isfinite(value))
        return 0;
    const double magnitude = std::fabs(value);
    if (magnitude >= fixedLimit)
        return 0;
    Writer text(out);
    // Qt writes a sign for every negative value, also one that rounds to zero, but not for a
    // negative zero.
    if (value < 0)
        text.put('-');
    if (isSmallWhole(magnitude)) {
        text.putWhole(static_cast<quint64>(magnitude));
        if (decimals > 0) {
            text.put('.');
            for (int i = 0; i < decimals; ++i)
                text.put('0');
        }
        return text.length();
    }
    const qint64 rounded = scaledRound(magnitude, decimals);
    if (rounded >= 0) {
        const qint64 unit = static_cast<qint64>(exactPowers[decimals]);
        text.putWhole(static_cast<quint64>(rounded / unit));
        if (decimals > 0) {
            text.put('.');
            text.putPadded(static_cast<quint64>(rounded % unit), decimals);
        }
        return text.length();
    }
    Decimal decimal;
    if (!shortestDecimal(value, &decimal)
        || !roundDecimal(&decimal, decimal.exponent + 1 + decimals)) {
        return 0;
    }
    if (decimal.count == 0 || decimal.exponent < 0) {
        text.put('0');
    } else {
        for (int i = 0; i <= decimal.exponent; ++i)
            text.putDigit(decimal, i);
    }
    if (decimals > 0) {
        text.put('.');
        for (int i = 1; i <= decimals; ++i)
            text.putDigit(decimal, decimal.count == 0 ? -1 : decimal.exponent + i);
    }
    return text.length();
}

bool readDecimal(QStringView text, double* value)
{
    char ascii[40];
    const qsizetype size = text.size();
    if (size == 0 || size > qsizetype(sizeof ascii))
        return false;
    qsizetype i = 0;
    if (text[0].unicode() == u'-')
        ++i;
    const qsizetype integerStart = i;
    while (i < size && text[i].unicode() >= u'0' && text[i].unicode() <= u'9')
        ++i;
    const qsizetype integerDigits = i - integerStart;
    if (integerDigits == 0 || (integerDigits > 1 && text[integerStart].unicode() == u'0'))
        return false;
    if (i < size) {
        if (text[i].unicode() != u'.' || i + 1 == size)
            return false;
        for (++i; i < size; ++i) {
            if (text[i].unicode() < u'0' || text[i].unicode() > u'9')
                return false;
        }
    }
    for (qsizetype k = 0; k < size; ++k)
        ascii[k] = static_cast<char>(text[k].unicode());
    // std::from_chars rounds correctly, as the double-conversion code behind toDouble does.
    double read = 0.0;
    const std::from_chars_result result = std::from_chars(ascii, ascii + size, read);
    if (result.ec != std::errc() || result.ptr != ascii + size)
        return false;
    *value = read;
    return true;
}

FixedText::FixedText(double value, int decimals)
    : m_length(writeFixed(m_text, value, decimals))
{
    if (m_length == 0)
        m_fallback = QString::number(value, 'f', decimals);
}

} // namespace NumberText

} // namespace kivo
