#include "Commands.h"
#include "ToolSupport.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLocale>
#include <QTextStream>

using namespace kivo::tool;

namespace {

const QString measurementsShort = QStringLiteral("m");
const QString measurementsLong = QStringLiteral("measurements");

bool looksLikeNumber(const QString& argument)
{
    bool ok = false;
    QLocale::c().toDouble(argument, &ok);
    return ok;
}

// QCommandLineParser would take a negative value such as "-40" for an option. Everything that
// is not an option (or an option's value) is moved behind "--", in its original order.
QStringList separatePositionals(const QStringList& arguments)
{
    QStringList options;
    QStringList positionals;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == QLatin1String("--")) {
            positionals += arguments.mid(i + 1);
            break;
        }
        if (argument.size() > 1 && argument.startsWith(QLatin1Char('-'))
            && !looksLikeNumber(argument)) {
            options.append(argument);
            const bool takesValue = argument == QLatin1Char('-') + measurementsShort
                || argument == QLatin1String("--") + measurementsLong;
            if (takesValue && i + 1 < arguments.size()) {
                options.append(arguments.at(++i));
            }
            continue;
        }
        positionals.append(argument);
    }
    QStringList result { arguments.value(0) };
    result += options;
    result.append(QStringLiteral("--"));
    result += positionals;
    return result;
}

int finish(int status)
{
    out().flush();
    err().flush();
    return status;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(programName);
    QCoreApplication::setApplicationVersion(QStringLiteral(KIVO_DPOINTS_VERSION));
    installLogHandler();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Shows, exports and checks data point dictionaries, and converts raw values into "
        "display units.\n"
        "\n"
        "Commands:\n"
        "  show [DICTIONARY...]      a table of every point per dictionary (the default)\n"
        "  json [DICTIONARY...]      one JSON array with every point's JSON description\n"
        "  lint [DICTIONARY...]      warnings for skipped entries and silent surprises;\n"
        "                            exit status 0 clean, 1 warnings, 2 a file cannot be loaded\n"
        "  convert UNIT VALUE...     display text and label of raw values of UNIT\n"
        "\n"
        "Without -m the bundled measurement file is used; without a dictionary, the bundled\n"
        "sample dictionary."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption measurementsOption(QStringList { measurementsShort, measurementsLong },
        QStringLiteral("Measurement file (units and conversions) to use."),
        QStringLiteral("MEASUREMENTS"));
    parser.addOption(measurementsOption);
    parser.addPositionalArgument(QStringLiteral("command"),
        QStringLiteral("show (default), json, lint or convert."), QStringLiteral("[command]"));
    parser.addPositionalArgument(QStringLiteral("arguments"),
        QStringLiteral("Dictionary files; for convert, a unit id and raw values."),
        QStringLiteral("[arguments...]"));

    const QStringList arguments = separatePositionals(QCoreApplication::arguments());
    if (!parser.parse(arguments)) {
        printError(parser.errorText() + QStringLiteral(" See --help."));
        return finish(ExitFailure);
    }
    // process() prints the help texts (--help, --help-all) or the version and exits.
    if (parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all"))
        || parser.isSet(versionOption)) {
        parser.process(arguments);
    }

    const QString measurements = parser.value(measurementsOption);
    QStringList positionals = parser.positionalArguments();
    QString command = QStringLiteral("show");
    static const QStringList commands { QStringLiteral("show"), QStringLiteral("json"),
        QStringLiteral("lint"), QStringLiteral("convert") };
    if (!positionals.isEmpty() && commands.contains(positionals.first())) {
        command = positionals.takeFirst();
    }

    if (command == QLatin1String("json")) {
        return finish(runJson(measurements, positionals));
    }
    if (command == QLatin1String("lint")) {
        return finish(runLint(measurements, positionals));
    }
    if (command == QLatin1String("convert")) {
        if (positionals.size() < 2) {
            printError(QStringLiteral("convert needs a unit and at least one value. See --help."));
            return finish(ExitFailure);
        }
        const QString unit = positionals.takeFirst();
        return finish(runConvert(measurements, unit, positionals));
    }
    return finish(runShow(measurements, positionals));
}
