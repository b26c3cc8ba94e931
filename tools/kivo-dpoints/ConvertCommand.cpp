#include "Commands.h"
#include "ToolSupport.h"

#include <kivo/measurement/MeasurementConverter.h>
#include <kivo/measurement/MeasurementRegistry.h>

#include <QLocale>
#include <QTextStream>

namespace kivo {
namespace tool {

int runConvert(const QString& measurementsPath, const QString& unit, const QStringList& values,
    const QString& displaySystem)
{
    const QString measurements = measurementsPathOrDefault(measurementsPath);
    if (measurements.isEmpty()) {
        return ExitFailure;
    }
    const std::unique_ptr<MeasurementRegistry> registry = loadRegistry(measurements, false);
    if (!registry) {
        return ExitFailure;
    }

    QVector<double> numbers;
    for (const QString& value : values) {
        bool ok = false;
        const double number = QLocale::c().toDouble(value.trimmed(), &ok);
        if (!ok) {
            printError(QStringLiteral("'") + value + QStringLiteral("' is not a number"));
            return ExitFailure;
        }
        numbers.append(number);
    }

    // The registry converts any unit id, known or not; an unknown one is most likely a typing
    // mistake, so the figures are printed but the exit status says so.
    int status
        = chooseDisplaySystem(registry.get(), displaySystem, measurements) ? ExitOk : ExitWarnings;
    const QString systemId = registry->getDisplaySystemId();
    if (!registry->getUnits(unit)) {
        printError(QStringLiteral("warning: unit '") + unit
            + QStringLiteral("' is not defined in '") + measurements + QLatin1Char('\''));
        status = ExitWarnings;
    } else if (!registry->getConversion(unit, systemId)) {
        printError(QStringLiteral("warning: unit '") + unit
            + QStringLiteral("' has no conversion into \"") + systemId + QStringLiteral("\" in '")
            + measurements
            + QStringLiteral("'; the values are shown in the unit itself, without a label"));
        status = ExitWarnings;
    }

    const MeasurementConverter* converter = registry->getConverter(unit);
    for (const double number : qAsConst(numbers)) {
        out() << converter->toString(QVariant(number));
        if (!converter->m_label.isEmpty()) {
            out() << QLatin1Char(' ') << converter->m_label;
        }
        out() << QLatin1Char('\n');
    }
    return status;
}

} // namespace tool
} // namespace kivo
