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

// One command: its usage after the program name and its help text.
struct CommandHelp
{
    const char* name;
    const char* usage;
    const char* text;
};

const char generalUsage[] = "[options] [command] [arguments...]";

const char generalHelp[]
    = "Shows, exports and checks data point dictionaries, and converts raw values into display\n"
      "units.\n"
      "\n"
      "Commands:\n"
      "  show [DICTIONARY...]    a table of every point per dictionary (the default command)\n"
      "  json [DICTIONARY...]    one JSON array with every point's JSON description\n"
      "  lint [DICTIONARY...]    what the loaders pass over, fill in or doubt\n"
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
        "Exit status: 0 shown, 2 a file cannot be loaded.\n" },
    { "json", "json [options] [DICTIONARY...]",
        "Prints one JSON array: per dictionary its name and the JSON text of every definition,\n"
        "in name order, as the library gives it. A definition text that is not valid JSON (a\n"
        "double quote in a name, say) is printed with its texts escaped, and a warning says so.\n"
        "Exit status: 0 all texts valid, 1 some texts escaped, 2 a file cannot be loaded.\n" },
    { "lint", "lint [options] [--werror] [DICTIONARY...]",
        "Loads the measurement file and the dictionaries with the library and prints, compiler\n"
        "style (FILE:LINE: warning: or error:), everything the loaders pass over, fill in or\n"
        "doubt: elements and attributes the format does not know (with the nearest known\n"
        "name), texts that read as 0 or as nothing, skipped and duplicate entries, defaults\n"
        "outside the limits, a minimum above the maximum, limits outside the storage type,\n"
        "Access and changeable texts, unknown EnumDefId or enumeration default, units without\n"
        "a display conversion or resolution, scales of zero, invalid JSON texts; and ShowVar\n"
        "and associated-variable names that name no point of the dictionaries given. An entry\n"
        "after a comment beginning \"Skipped:\" is skipped on purpose: it gets a note.\n"
        "  --werror  warnings fail as errors do\n"
        "Exit status: 0 no errors (1 with --werror and a warning), 1 errors, 2 a file cannot\n"
        "be loaded.\n" },
    { "convert", "convert [options] UNIT VALUE...",
        "Prints the display text and label of each raw VALUE of UNIT (a MUnitDef id), converted\n"
        "into the display system \"msys.us\" at its display resolution.\n"
        "Exit status: 0 converted, 1 the unit is unknown or has no display conversion (the\n"
        "values are printed unconverted), 2 a value is not a number or a file cannot be "
        "loaded.\n" },
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
    const QCommandLineOption werrorOption(QStringLiteral("werror"), QString());
    parser.addOption(werrorOption);

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
    if (name == QLatin1String("json")) {
        return finish(runJson(measurements, positionals));
    }
    if (name == QLatin1String("lint")) {
        return finish(runLint(measurements, positionals, parser.isSet(werrorOption)));
    }
    if (name == QLatin1String("convert")) {
        if (positionals.size() < 2) {
            printError(QStringLiteral("convert needs a unit and at least one value. See --help."));
            return finish(ExitFailure);
        }
        const QString unit = positionals.takeFirst();
        return finish(runConvert(measurements, unit, positionals));
    }
    return finish(runShow(measurements, positionals));
}
