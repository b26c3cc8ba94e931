#include "core/Qt5Values_p.h"

#include <limits>

namespace kivo {

namespace Qt5Values {

namespace {

// Two ints, the values points hold most, compare without QVariant's general comparison.
bool bothInts(const QVariant& left, const QVariant& right)
{
    return left.userType() == QMetaType::Int && right.userType() == QMetaType::Int;
}

int intOf(const QVariant& value)
{
    return *static_cast<const int*>(value.constData());
}

bool isFloatingPoint(const QVariant& value)
{
    return value.userType() == QMetaType::Double || value.userType() == QMetaType::Float;
}

// Qt 5's qRound64: halves go up. Values outside the range of qint64 give its minimum, as the
// processor's conversion does.
qint64 qt5Round64(double d)
{
    if (!(d > -9.2e18 && d < 9.2e18)) {
        return std::numeric_limits<qint64>::min();
    }
    return d >= 0.0 ? qint64(d + 0.5) : qint64(d - double(qint64(d - 1)) + 0.5) + qint64(d - 1);
}

} // namespace

qlonglong toLongLong(const QVariant& value, bool* ok)
{
    if (!isFloatingPoint(value)) {
        return value.toLongLong(ok);
    }
    if (ok) {
        *ok = true;
    }
    return qt5Round64(value.toDouble());
}

int toInt(const QVariant& value, bool* ok)
{
    if (!isFloatingPoint(value)) {
        return value.toInt(ok);
    }
    return int(quint32(quint64(toLongLong(value, ok))));
}

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)

namespace {

bool isNumeric(const QVariant& value)
{
    switch (value.userType()) {
    case QMetaType::Bool:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Float:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

} // namespace

bool variantsEqual(const QVariant& left, const QVariant& right)
{
    if (bothInts(left, right)) {
        return intOf(left) == intOf(right);
    }
    if (left.metaType() == right.metaType() || (isNumeric(left) && isNumeric(right))) {
        return left == right;
    }
    if (right.canConvert(left.metaType())) {
        QVariant converted = right;
        return converted.convert(left.metaType()) && left == converted;
    }
    QVariant converted = left;
    return converted.convert(right.metaType()) && converted == right;
}

#else

bool variantsEqual(const QVariant& left, const QVariant& right)
{
    if (bothInts(left, right)) {
        return intOf(left) == intOf(right);
    }
    return left == right;
}

#endif

} // namespace Qt5Values

} // namespace kivo
