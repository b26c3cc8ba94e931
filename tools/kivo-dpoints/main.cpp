#include "Commands.h"
#include "ToolSupport.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLocale>
#include <QTextStream>

using namespace kivo::tool;

namespace {

const QString measurementsShort = QStringLiteral("m");
const QString measurementsLong = QStringLiteral("measurements");
const QString displaySystemLong = QStringLiteral("display-system");

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
                || argument == QLatin1String("--") + measurementsLong
                || argument == QLatin1String("--") + displaySystemLong;
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

// One command: its usage after the program name, its help text and the options only it takes.
struct CommandHelp
{
    const char* name;
    const char* usage;
    const char* text;
    const char* options = nullptr;
};

const char displaySystemHelp[]
    = "  --display-system ID      the display system (an MSystemDef id such as msys.si);\n"
      "                           without it, msys.us\n";

const char generalUsage[] = "[options] [command] [arguments...]";

const char generalHelp[]
    = "Shows, exports and checks data point dictionaries, and converts raw values into display\n"
      "units.\n"
      "\n"
      "Commands:\n"
      "  show [DICTIONARY...]    a table of every point per dictionary (the default command)\n"
      "  json [DICTIONARY...]    one JSON array with every point's JSON description\n"
      "  lint [DICTIONARY...]    warnings for skipped entries and silent surprises\n"
      "  convert UNIT VALUE...   display text and label of raw values of UNIT\n"
      "'kivo-dpoints COMMAND --help' describes one command. Without a dictionary, the\n"
      "bundled sample dictionary is used.\n";

const char optionsHelp[]
    = "\n"
      "Options:\n"
      "  -m, --measurements FILE  the measurement file (units and conversions); without it,\n"
      "                           the bundled one\n"
      "  -h, --help               this help\n"
      "  -v, --version            the version\n";

const CommandHelp commandHelps[] = {
    { "show", "show [options] [DICTIONARY...]",
        "Prints a table of the points of each dictionary: name, type, access, default, limits,\n"
        "resolution and units label (integer points in display units, as their JSON gives\n"
        "them), and notes (labels, event settings, epoch keyword); then a summary line.\n"
        "Without a dictionary, the bundled sample dictionary is shown.\n"
        "Exit status: 0 shown, 1 the display system is not declared in the measurement file,\n"
        "2 a file cannot be loaded.\n",
        displaySystemHelp },
    { "json", "json [options] [DICTIONARY...]",
        "Prints one JSON array: per dictionary its name and the JSON text of every definition,\n"
        "in name order, as the library gives it. A definition text that is not valid JSON (a\n"
        "double quote in a name, say) is printed with its texts escaped, and a warning says so.\n"
        "Exit status: 0 all texts valid, 1 some texts escaped, 2 a file cannot be loaded.\n" },
    { "lint", "lint [options] [DICTIONARY...]",
        "Checks the measurement file and the dictionaries, compiler style (FILE:LINE: warning:),\n"
        "for entries the loader skips and for silent surprises: duplicate names, Access texts,\n"
        "unknown EnumDefId or enumeration default, changeable texts, units without a display\n"
        "conversion or resolution, ShowVar and associated-variable names that name no point,\n"
        "invalid JSON texts. An entry after a comment beginning \"Skipped:\" is skipped on\n"
        "purpose: it gets a note, not a warning.\n"
        "Exit status: 0 clean, 1 warnings, 2 a file cannot be loaded.\n" },
    { "convert", "convert [options] UNIT VALUE...",
        "Prints the display text and label of each raw VALUE of UNIT (a MUnitDef id), converted\n"
        "into the display system (\"msys.us\" unless --display-system names another) at its\n"
        "display resolution.\n"
        "Exit status: 0 converted, 1 the unit is unknown or has no display conversion (the\n"
        "values are printed unconverted) or the display system is not declared, 2 a value is\n"
        "not a number or a file cannot be loaded.\n",
        displaySystemHelp },
};

const CommandHelp* findCommand(const QString& name)
{
    for (const CommandHelp& command : commandHelps) {
        if (name == QLatin1String(command.name)) {
            return &command;
        }
    }
    return nullptr;
}

QString usageLine(const char* usage)
{
    return QStringLiteral("Usage: ") + programName + QLatin1Char(' ') + QLatin1String(usage)
        + QLatin1Char('\n');
}

// Without a command, the general help; with one, that command's.
void printHelp(const CommandHelp* command)
{
    if (command) {
        out() << usageLine(command->usage) << QString::fromUtf8(command->text);
    } else {
        out() << usageLine(generalUsage) << QString::fromUtf8(generalHelp);
    }
    out() << QString::fromUtf8(optionsHelp);
    if (command && command->options) {
        out() << QString::fromUtf8(command->options);
    }
}

// A first argument that is no command but could be a file is a dictionary for "show".
bool looksLikeFile(const QString& argument)
{
    return argument.contains(QLatin1Char('/')) || argument.contains(QLatin1Char('.'))
        || QFileInfo::exists(argument);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(programName);
    QCoreApplication::setApplicationVersion(QStringLiteral(KIVO_DPOINTS_VERSION));
    installLogHandler();

    // The help texts are the tool's own: QCommandLineParser's would name the program by the
    // path it was started with and know nothing of the commands.
    QCommandLineParser parser;
    const QCommandLineOption helpOption(
        QStringList { QStringLiteral("h"), QStringLiteral("help") }, QString());
    parser.addOption(helpOption);
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption measurementsOption(
        QStringList { measurementsShort, measurementsLong }, QString(), QStringLiteral("FILE"));
    parser.addOption(measurementsOption);
    const QCommandLineOption displaySystemOption(
        displaySystemLong, QString(), QStringLiteral("ID"));
    parser.addOption(displaySystemOption);

    const QStringList arguments = separatePositionals(QCoreApplication::arguments());
    if (!parser.parse(arguments)) {
        printError(parser.errorText() + QStringLiteral(" See --help."));
        return finish(ExitFailure);
    }
    if (parser.isSet(versionOption)) {
        parser.process(arguments); // prints the version and exits
    }

    const QString measurements = parser.value(measurementsOption);
    QStringList positionals = parser.positionalArguments();
    const CommandHelp* command = nullptr;
    if (!positionals.isEmpty()) {
        command = findCommand(positionals.first());
        if (command) {
            positionals.removeFirst();
        } else if (!looksLikeFile(positionals.first())) {
            printError(
                QStringLiteral("unknown command '") + positionals.first() + QLatin1Char('\''));
            err() << usageLine(generalUsage)
                  << QStringLiteral("Commands: show (the default), json, lint, convert. See ")
                  << programName << QStringLiteral(" --help.\n");
            return finish(ExitFailure);
        }
    }
    if (parser.isSet(helpOption)) {
        printHelp(command);
        return finish(ExitOk);
    }

    const QString name = command ? QLatin1String(command->name) : QStringLiteral("show");
    const QString displaySystem = parser.value(displaySystemOption);
    if (parser.isSet(displaySystemOption) && name != QLatin1String("show")
        && name != QLatin1String("convert")) {
        printError(
            QStringLiteral("--display-system applies to show and convert only. See --help."));
        return finish(ExitFailure);
    }
    if (name == QLatin1String("json")) {
        return finish(runJson(measurements, positionals));
    }
    if (name == QLatin1String("lint")) {
        return finish(runLint(measurements, positionals));
    }
    if (name == QLatin1String("convert")) {
        if (positionals.size() < 2) {
            printError(QStringLiteral("convert needs a unit and at least one value. See --help."));
            return finish(ExitFailure);
        }
        const QString unit = positionals.takeFirst();
        return finish(runConvert(measurements, unit, positionals, displaySystem));
    }
    return finish(runShow(measurements, positionals, displaySystem));
}
