#include <kivo/core/LoadFinding.h>

#include <algorithm>

namespace kivo {

QString LoadFinding::toString() const
{
    QString result = file;
    if (line > 0) {
        result += QLatin1Char(':') + QString::number(line);
    }
    return result + QStringLiteral(": ") + severityText(severity) + QStringLiteral(": ") + text;
}

QString LoadFinding::severityText(Severity severity)
{
    switch (severity) {
    case Note:
        return QStringLiteral("note");
    case Warning:
        break;
    case Error:
        return QStringLiteral("error");
    }
    return QStringLiteral("warning");
}

QVector<LoadFinding> sortedByLine(QVector<LoadFinding> findings)
{
    std::stable_sort(findings.begin(), findings.end(),
        [](const LoadFinding& a, const LoadFinding& b) { return a.line < b.line; });
    return findings;
}

} // namespace kivo
