#pragma once

#include <QChar>
#include <QString>
#include <QStringView>

namespace kivo {

// Decimal texts of doubles, the same as Qt's C-locale texts but written in place and, for the
// common values, without Qt's exact-digit generation. Where a shortcut could round differently
// the work is left to QString::number.
namespace NumberText {

// Room that writeGeneral needs.
constexpr int maxGeneralLength = 16;
// Room that writeFixed needs.
constexpr int maxFixedLength = 24;

// Writes QString::number(value, 'g', 6), which is also the text of
// QString::arg(value, 0, 'g', -1), to out and returns its length; 0 (nothing written) when the
// value is left to QString::number.
int writeGeneral(QChar* out, double value);
// Writes QString::number(value, 'f', decimals) to out and returns its length; 0 (nothing
// written) when the value is left to QString::number.
int writeFixed(QChar* out, double value, int decimals);

// Reads a plain decimal, an optional minus sign, digits without a leading zero and an optional
// point followed by digits (-12.5, 0.25, 300), as QString::toDouble reads it: the nearest
// double. Returns false, and leaves value alone, for any other text (exponents, spaces,
// signs, ...), which is left to QString::toDouble.
bool readDecimal(QStringView text, double* value);

// The text of QString::number(value, 'f', decimals), held without allocating for the values
// writeFixed takes.
class FixedText
{
public:
    FixedText(double value, int decimals);

    QStringView view() const
    {
        return m_length > 0 ? QStringView(m_text, m_length) : QStringView(m_fallback);
    }
    QString toString() const { return m_length > 0 ? QString(m_text, m_length) : m_fallback; }

private:
    QChar m_text[maxFixedLength];
    int m_length;
    QString m_fallback;
};

} // namespace NumberText

} // namespace kivo
