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
            // An option whose value is optional: alone, it takes its default.
            options.append(argument == QLatin1String("--homeassistant")
                    ? QStringLiteral("--homeassistant=homeassistant")
                    : argument);
            static const QStringList withValue { QLatin1Char('-') + measurementsShort,
                QStringLiteral("--") + measurementsLong, QStringLiteral("--") + displaySystemLong,
                QStringLiteral("--broker"), QStringLiteral("--device"), QStringLiteral("--prefix"),
                QStringLiteral("--user"), QStringLiteral("--password"), QStringLiteral("--ca-file"),
                QStringLiteral("--cert"), QStringLiteral("--key"), QStringLiteral("--client-id"),
                QStringLiteral("--keepalive"), QStringLiteral("--timeout"),
                QStringLiteral("--refuse"), QStringLiteral("--count") };
            const bool takesValue = withValue.contains(argument);
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
    const char* moreOptions = nullptr;
};

const char displaySystemHelp[]
    = "  --display-system ID      the display system (an MSystemDef id such as msys.si);\n"
      "                           without it, msys.us\n";

#ifdef KIVO_TOOL_REMOTE
const char remoteOptionsHelp[]
    = "  --broker URL             mqtt://HOST[:PORT], mqtts://HOST[:PORT] or the path of the\n"
      "                           broker's local socket\n"
      "  --user NAME              the user name on the broker\n"
      "  --password TEXT          its password (or the environment variable KIVO_MQTT_PASSWORD)\n"
      "  --ca-file FILE           TLS: the certificate authorities of the broker (PEM)\n"
      "  --cert FILE, --key FILE  TLS: the client's own certificate and key (PEM)\n"
      "  --prefix TEXT            the first topic level (default kivo)\n"
      "  --client-id TEXT         the MQTT client identifier (default: a unique one)\n"
      "  --keepalive SECONDS      the keep-alive interval (default 30)\n";
#endif

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
#ifdef KIVO_TOOL_REMOTE
      "  publish [DICTIONARY...] share the points on an MQTT broker as a device\n"
      "  watch DEVICE [POINT...] print every change of a remote device's points\n"
      "  write DEVICE POINT VALUE\n"
      "                          write to a remote device's point and print its answer\n"
#endif
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
        "into the display system (\"msys.us\" unless --display-system names another) at its\n"
        "display resolution.\n"
        "Exit status: 0 converted, 1 the unit is unknown or has no display conversion (the\n"
        "values are printed unconverted) or the display system is not declared, 2 a value is\n"
        "not a number or a file cannot be loaded.\n",
        displaySystemHelp },
#ifdef KIVO_TOOL_REMOTE
    { "publish", "publish --broker URL --device NAME [options] [DICTIONARY...]",
        "Shares the points of the dictionaries (and the files themselves) on the broker under\n"
        "PREFIX/NAME/ until interrupted, then says \"offline\". With --simulate it also plays\n"
        "the device: measurements move within their limits, writes are confirmed after 0.3 s,\n"
        "and refused (code E42) for each point named with --refuse POINT.\n"
        "--homeassistant[=PREFIX] also publishes Home Assistant MQTT discovery for the points\n"
        "(PREFIX default homeassistant); --clear-retained removes everything retained (files,\n"
        "values, discovery) when it stops.\n"
        "Exit status: 0 stopped, 2 a file cannot be loaded or the options are wrong.\n",
        remoteOptionsHelp },
    { "watch", "watch --broker URL [options] DEVICE [POINT...]",
        "Prints \"NAME: TEXT\" for the value of each named point of DEVICE (every point without\n"
        "names), in display units, and again at every change, a line each, until interrupted\n"
        "(--count N: after N lines).\n"
        "Exit status: 0 stopped, 2 unknown point, files that do not load, or wrong options.\n",
        remoteOptionsHelp, displaySystemHelp },
    { "write", "write --broker URL [options] DEVICE POINT VALUE",
        "Writes VALUE (display units, as show and watch print it: 185.0, \"185.0 °F\", a label)\n"
        "to POINT of DEVICE and prints the answer: \"confirmed: TEXT\" or \"refused: CODE\n"
        "MESSAGE (holds TEXT)\". --timeout MS: how long to wait for the device (10000).\n"
        "Exit status: 0 confirmed, 1 refused, 2 no answer (timeout, device offline, no broker)\n"
        "or an error.\n",
        remoteOptionsHelp, displaySystemHelp },
#endif
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
    for (const char* options :
        { command ? command->options : nullptr, command ? command->moreOptions : nullptr }) {
        if (options) {
            out() << QString::fromUtf8(options);
        }
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
#ifdef KIVO_TOOL_REMOTE
    const auto valueOption = [&parser](const char* name) {
        const QCommandLineOption option(QLatin1String(name), QString(), QStringLiteral("VALUE"));
        parser.addOption(option);
        return option;
    };
    const QCommandLineOption brokerOption = valueOption("broker");
    const QCommandLineOption deviceOption = valueOption("device");
    const QCommandLineOption prefixOption = valueOption("prefix");
    const QCommandLineOption userOption = valueOption("user");
    const QCommandLineOption passwordOption = valueOption("password");
    const QCommandLineOption caFileOption = valueOption("ca-file");
    const QCommandLineOption certOption = valueOption("cert");
    const QCommandLineOption keyOption = valueOption("key");
    const QCommandLineOption clientIdOption = valueOption("client-id");
    const QCommandLineOption keepAliveOption = valueOption("keepalive");
    const QCommandLineOption timeoutOption = valueOption("timeout");
    const QCommandLineOption refuseOption = valueOption("refuse");
    const QCommandLineOption countOption = valueOption("count");
    const QCommandLineOption simulateOption(QStringLiteral("simulate"));
    parser.addOption(simulateOption);
    const QCommandLineOption clearOption(QStringLiteral("clear-retained"));
    parser.addOption(clearOption);
    // --homeassistant alone takes Home Assistant's default discovery prefix.
    const QCommandLineOption homeAssistantOption(
        QStringLiteral("homeassistant"), QString(), QStringLiteral("PREFIX"));
    parser.addOption(homeAssistantOption);
#endif
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
                  << QStringLiteral("Commands: show (the default), json, lint, convert")
#ifdef KIVO_TOOL_REMOTE
                  << QStringLiteral(", publish, watch, write")
#endif
                  << QStringLiteral(". See ") << programName << QStringLiteral(" --help.\n");
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
        && name != QLatin1String("convert") && name != QLatin1String("watch")
        && name != QLatin1String("write")) {
        printError(QStringLiteral(
            "--display-system applies to show, convert, watch and write only. See --help."));
        return finish(ExitFailure);
    }
#ifdef KIVO_TOOL_REMOTE
    if (name == QLatin1String("publish") || name == QLatin1String("watch")
        || name == QLatin1String("write")) {
        RemoteOptions options;
        options.broker = parser.value(brokerOption);
        options.device = parser.value(deviceOption);
        options.prefix = parser.value(prefixOption);
        options.user = parser.value(userOption);
        options.password = parser.value(passwordOption);
        options.caFile = parser.value(caFileOption);
        options.certFile = parser.value(certOption);
        options.keyFile = parser.value(keyOption);
        options.clientId = parser.value(clientIdOption);
        options.displaySystem = displaySystem;
        options.keepAlive = parser.value(keepAliveOption).toInt();
        options.timeoutMs = parser.value(timeoutOption).toInt();
        options.count = parser.value(countOption).toInt();
        options.simulate = parser.isSet(simulateOption);
        options.clearRetained = parser.isSet(clearOption);
        if (parser.isSet(homeAssistantOption)) {
            options.homeAssistant = parser.value(homeAssistantOption);
            if (options.homeAssistant.isEmpty())
                options.homeAssistant = QStringLiteral("homeassistant");
        }
        options.refused = parser.values(refuseOption);
        if (options.broker.isEmpty()) {
            printError(name + QStringLiteral(" needs --broker URL. See --help."));
            return finish(ExitFailure);
        }
        if (name == QLatin1String("publish")) {
            if (options.device.isEmpty()) {
                printError(QStringLiteral("publish needs --device NAME. See --help."));
                return finish(ExitFailure);
            }
            return finish(runPublish(options, measurements, positionals));
        }
        if (positionals.isEmpty() || (name == QLatin1String("write") && positionals.size() != 3)) {
            printError(name == QLatin1String("write")
                    ? QStringLiteral("write needs DEVICE POINT VALUE. See --help.")
                    : QStringLiteral("watch needs a DEVICE. See --help."));
            return finish(ExitFailure);
        }
        options.device = positionals.takeFirst();
        if (name == QLatin1String("watch"))
            return finish(runWatch(options, positionals));
        return finish(runWrite(options, positionals.at(0), positionals.at(1)));
    }
#endif
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
        return finish(runConvert(measurements, unit, positionals, displaySystem));
    }
    return finish(runShow(measurements, positionals, displaySystem));
}
