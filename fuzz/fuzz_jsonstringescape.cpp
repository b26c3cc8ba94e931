// Fuzz target: jsonStringEscape. The input bytes are taken as UTF-16 code units, so that every
// code unit (NUL, control characters, lone surrogates) occurs.
//
// Property: the result is ASCII without NUL, quote or the five named control characters (other
// control characters pass unchanged), and reading it back as the inside of a JSON string
// literal gives the input up to its first NUL.

#include "FuzzSupport.h"

#include <kivo/types/DPTypeBase.h>

#include <QString>

using namespace kivo;

namespace {

int hexValue(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    return -1;
}

// The text that these inner characters of a JSON string literal stand for; sets ok to false
// when they are not what the escaper may write.
QString readBack(const QString& escaped, bool* ok)
{
    QString text;
    *ok = false;
    for (int i = 0; i < escaped.size(); ++i) {
        const QChar c = escaped.at(i);
        switch (c.unicode()) {
        case 0x00:
        case 0x08:
        case 0x09:
        case 0x0A:
        case 0x0C:
        case 0x0D:
        case '"':
            return QString();
        default:
            if (c.unicode() > 0x7F)
                return QString();
        }
        if (c != QLatin1Char('\\')) {
            text += c;
            continue;
        }
        if (++i >= escaped.size())
            return QString();
        switch (escaped.at(i).unicode()) {
        case '\\':
            text += QLatin1Char('\\');
            break;
        case '"':
            text += QLatin1Char('"');
            break;
        case 'b':
            text += QChar(0x08);
            break;
        case 'f':
            text += QChar(0x0C);
            break;
        case 'n':
            text += QChar(0x0A);
            break;
        case 'r':
            text += QChar(0x0D);
            break;
        case 't':
            text += QChar(0x09);
            break;
        case 'u': {
            if (i + 4 >= escaped.size())
                return QString();
            ushort unit = 0;
            for (int k = 1; k <= 4; ++k) {
                const int digit = hexValue(escaped.at(i + k));
                if (digit < 0)
                    return QString();
                unit = ushort(unit << 4 | digit);
            }
            // Only code units above 0x7F are written as \u escapes.
            if (unit <= 0x7F)
                return QString();
            text += QChar(unit);
            i += 4;
            break;
        }
        default:
            return QString();
        }
    }
    *ok = true;
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::silenceQtMessages();
    QString input(int(size / 2), Qt::Uninitialized);
    for (int i = 0; i < input.size(); ++i)
        input[i] = QChar(ushort(data[2 * i] | data[2 * i + 1] << 8));

    const QString escaped = jsonStringEscape(input);
    bool ok = false;
    const QString decoded = readBack(escaped, &ok);
    if (!ok)
        fuzz::fail("the escaped text is not a valid JSON string body");
    const int nul = input.indexOf(QChar(0));
    if (decoded != (nul < 0 ? input : input.left(nul)))
        fuzz::fail("the escaped text does not read back as the input up to its first NUL");
    return 0;
}
