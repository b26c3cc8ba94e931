#include "core/NearName_p.h"

#include <QVarLengthArray>

#include <algorithm>

namespace kivo {

namespace {

// Optimal string alignment distance of the lower-case forms, capped: any distance above cap is
// cap + 1.
int editDistance(const QString& a, const QString& b, int cap)
{
    const int n = int(a.size());
    const int m = int(b.size());
    if (std::abs(n - m) > cap) {
        return cap + 1;
    }
    QVarLengthArray<int, 64> previous2(m + 1), previous(m + 1), current(m + 1);
    for (int j = 0; j <= m; ++j) {
        previous[j] = j;
    }
    for (int i = 1; i <= n; ++i) {
        current[0] = i;
        int rowMin = current[0];
        const QChar ca = a.at(i - 1).toLower();
        for (int j = 1; j <= m; ++j) {
            const QChar cb = b.at(j - 1).toLower();
            int d = std::min(
                { previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (ca == cb ? 0 : 1) });
            if (i > 1 && j > 1 && ca == b.at(j - 2).toLower() && a.at(i - 2).toLower() == cb) {
                d = std::min(d, previous2[j - 2] + 1);
            }
            current[j] = d;
            rowMin = std::min(rowMin, d);
        }
        if (rowMin > cap) {
            return cap + 1;
        }
        std::swap(previous2, previous);
        std::swap(previous, current);
    }
    return std::min(previous[m], cap + 1);
}

} // namespace

QString nearestName(const QString& name, const QStringList& names, bool closeOnly)
{
    if (names.contains(name)) {
        return QString();
    }
    QString nearest;
    int best = 0;
    for (const QString& candidate : names) {
        const int length = int(candidate.size());
        const int close = length > 7 ? 2 : 1;
        const int cap = closeOnly ? close : std::max(close, length / 3);
        // A difference in letter case alone counts as one edit.
        const int distance = std::max(1, editDistance(name, candidate, cap));
        const bool prefix = !closeOnly && std::min(int(name.size()), length) >= 4
            && (name.startsWith(candidate, Qt::CaseInsensitive)
                || candidate.startsWith(name, Qt::CaseInsensitive));
        const int score = distance <= cap ? distance : prefix ? cap + 1 : -1;
        if (score >= 0 && (nearest.isNull() || score < best)) {
            nearest = candidate;
            best = score;
        }
    }
    return nearest;
}

QString didYouMean(const QString& nearest, bool element)
{
    if (nearest.isEmpty()) {
        return QString();
    }
    return element ? QStringLiteral("; did you mean <") + nearest + QStringLiteral(">?")
                   : QStringLiteral("; did you mean ") + nearest + QStringLiteral("?");
}

} // namespace kivo
