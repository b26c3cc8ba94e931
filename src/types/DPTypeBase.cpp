#include <kivo/types/DPTypeBase.h>

namespace kivo {

DPTypeBase::DPTypeBase(QObject* parent)
    : QObject(parent)
{ }

DPTypeBase::~DPTypeBase() = default;

QString jsonStringEscape(QString text)
{
    // One pass gives the same text as doubling the backslashes first and replacing quotes and
    // the five control characters afterwards: the \uXXXX escapes contain neither, and every
    // input backslash becomes exactly two.
    const QChar* const begin = text.constData();
    const QChar* const end = begin + text.size();
    int backslashes = 0;
    for (const QChar* c = begin; c != end; ++c) {
        if (c->unicode() == u'\\')
            ++backslashes;
    }

    QString out;
    out.reserve(static_cast<int>((text.size() + backslashes) * 1.1));
    static const char hexDigits[] = "0123456789abcdef";
    for (const QChar* c = begin; c != end; ++c) {
        const char16_t unit = c->unicode();
        switch (unit) {
        case 0:
            return out;
        case u'\\':
            out += QLatin1String("\\\\");
            break;
        case u'"':
            out += QLatin1String("\\\"");
            break;
        case 0x08:
            out += QLatin1String("\\b");
            break;
        case 0x0C:
            out += QLatin1String("\\f");
            break;
        case 0x0A:
            out += QLatin1String("\\n");
            break;
        case 0x0D:
            out += QLatin1String("\\r");
            break;
        case 0x09:
            out += QLatin1String("\\t");
            break;
        default:
            if (unit <= 0x7F) {
                out += *c;
            } else {
                const QChar escape[6] = { QLatin1Char('\\'), QLatin1Char('u'),
                    QLatin1Char(hexDigits[(unit >> 12) & 0xF]),
                    QLatin1Char(hexDigits[(unit >> 8) & 0xF]),
                    QLatin1Char(hexDigits[(unit >> 4) & 0xF]), QLatin1Char(hexDigits[unit & 0xF]) };
                out.append(escape, 6);
            }
            break;
        }
    }
    return out;
}

} // namespace kivo
