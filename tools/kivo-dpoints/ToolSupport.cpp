#include "ToolSupport.h"

#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/loader/DPDictLoader.h>
#include <kivo/measurement/MeasurementLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/types/DPTypeEnum.h>
#include <kivo/types/DPTypeEvent.h>
#include <kivo/types/DPTypeIPv4.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>
#include <kivo/types/DPTypeString.h>
#include <kivo/types/DPTypeTime.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>

#include <cstdio>

namespace kivo {
namespace tool {

const QString programName = QStringLiteral("kivo-dpoints");

namespace {

QStringList* g_capture = nullptr;

QTextStream& utf8Stream(FILE* file)
{
    auto* stream = new QTextStream(file);
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    stream->setEncoding(QStringConverter::Utf8); // Qt 6's default too, said for clarity
#else
    stream->setCodec("UTF-8");
#endif
    return *stream;
}

// The library logs built texts through the debug stream, which quotes them; the tool shows
// them as plain text.
QString withoutDebugQuotes(const QString& message)
{
    const QChar quote(QLatin1Char('"'));
    if (message.size() < 2 || !message.startsWith(quote) || !message.endsWith(quote)) {
        return message;
    }
    QString text = message.mid(1, message.size() - 2);
    text.replace(QStringLiteral("\\\""), QStringLiteral("\""));
    text.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
    return text;
}

void messageHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    switch (type) {
    case QtDebugMsg:
    case QtInfoMsg:
        return;
    case QtWarningMsg:
    case QtCriticalMsg:
        if (g_capture) {
            g_capture->append(withoutDebugQuotes(message));
        } else {
            printError(QStringLiteral("library: ") + withoutDebugQuotes(message));
        }
        return;
    case QtFatalMsg:
        printError(QStringLiteral("library: ") + message);
        return;
    }
}

} // namespace

QTextStream& out()
{
    // Never destroyed: the streams must outlive every static object that might still log.
    static QTextStream& stream = utf8Stream(stdout);
    return stream;
}

QTextStream& err()
{
    static QTextStream& stream = utf8Stream(stderr);
    return stream;
}

void printError(const QString& message)
{
    out().flush();
    err() << programName << QStringLiteral(": ") << message << QLatin1Char('\n');
    err().flush();
}

void installLogHandler()
{
    qInstallMessageHandler(messageHandler);
}

LogCapture::LogCapture()
    : m_previous(g_capture)
{
    g_capture = &m_messages;
}

LogCapture::~LogCapture()
{
    g_capture = m_previous;
}

QStringList LogCapture::messages() const
{
    return m_messages;
}

QString bundledDataFile(const QString& fileName)
{
    const QStringList candidates {
        QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1Char('/')
            + QStringLiteral(KIVO_DPOINTS_INSTALLED_DATA_RELDIR) + QLatin1Char('/') + fileName),
        QDir::cleanPath(QStringLiteral(KIVO_DPOINTS_SOURCE_DATA_DIR) + QLatin1Char('/') + fileName),
    };
    for (const QString& candidate : candidates) {
        if (QFileInfo(candidate).isFile()) {
            return candidate;
        }
    }
    return QString();
}

QString measurementsPathOrDefault(const QString& given)
{
    if (!given.isEmpty()) {
        return given;
    }
    const QString bundled = bundledDataFile(QStringLiteral("measurements.xml"));
    if (bundled.isEmpty()) {
        printError(QStringLiteral(
            "cannot find the bundled measurement file 'measurements.xml'; name one with -m"));
    }
    return bundled;
}

QStringList dictionaryPathsOrDefault(const QStringList& given)
{
    if (!given.isEmpty()) {
        return given;
    }
    const QString bundled = bundledDataFile(QStringLiteral("boiler.xml"));
    if (bundled.isEmpty()) {
        printError(QStringLiteral(
            "cannot find the bundled sample dictionary 'boiler.xml'; name a dictionary file"));
        return QStringList();
    }
    return QStringList { bundled };
}

void printFileError(
    const QString& path, int line, const QString& explanation, const QString& libraryText)
{
    out().flush();
    err() << path;
    if (line > 0) {
        err() << QLatin1Char(':') << line;
    }
    err() << QStringLiteral(": error: ") << explanation;
    if (!libraryText.isEmpty()) {
        err() << QStringLiteral(" (library: ") << libraryText << QLatin1Char(')');
    }
    err() << QLatin1Char('\n');
    err().flush();
}

std::unique_ptr<MeasurementRegistry> loadRegistry(
    const QString& path, bool quiet, QVector<LoadFinding>* findings)
{
    std::unique_ptr<MeasurementRegistry> registry;
    QStringList messages;
    {
        LogCapture capture;
        registry.reset(MeasurementLoader::loadMeasurementRegistry(path, findings));
        messages = capture.messages();
    }
    if (!registry) {
        // The loader says "PXC open failure '<path>': <reason>" or "PXC parsing failure
        // '<path>'"; the second names no line, so the file is parsed again to find it.
        const QString libraryText = messages.join(QStringLiteral("; "));
        if (libraryText.startsWith(QLatin1String("PXC open failure"))) {
            printFileError(
                path, 0, QStringLiteral("cannot open the measurement file"), libraryText);
            return nullptr;
        }
        QDomDocument document;
        QString parseError;
        int line = 0;
        if (!parseDocument(path, &document, &parseError, &line)) {
            printFileError(path, line,
                QStringLiteral("the measurement file is not well-formed XML: ") + parseError,
                libraryText);
        } else {
            printFileError(
                path, 0, QStringLiteral("the measurement file cannot be parsed"), libraryText);
        }
        return nullptr;
    }
    if (!quiet) {
        // The loader's only per-entry report; a registry came back, so the entry was skipped.
        static const QString nullCheck = QStringLiteral("NULLCHECK failed.");
        static const QString explained = QStringLiteral(
            "an MUnitDef2Converter names no MUnitConverter and is ignored (kivo-dpoints lint "
            "names it)");
        for (const QString& message : qAsConst(messages)) {
            printError(QStringLiteral("warning: measurements '") + path + QStringLiteral("': ")
                + (message == nullCheck ? explained : message));
        }
    }
    return registry;
}

bool chooseDisplaySystem(MeasurementRegistry* registry, const QString& id, const QString& path)
{
    if (id.isEmpty()) {
        return true;
    }
    registry->setDisplaySystemId(id);
    if (registry->getSystems().contains(id)) {
        return true;
    }
    printError(QStringLiteral("warning: display system '") + id
        + QStringLiteral("' is not declared (MSystemDef) in '") + path
        + QStringLiteral("'; units without a conversion into it are shown in their own scale"));
    return false;
}

QString dictionaryName(const QString& path)
{
    return QFileInfo(path).completeBaseName();
}

LoadedDictionary loadDictionary(const QString& path, MeasurementRegistry* registry)
{
    LoadedDictionary loaded;
    loaded.path = path;
    loaded.name = dictionaryName(path);
    loaded.loader.reset(new DPDictLoader(nullptr, nullptr, registry));

    QString errorText;
    const QMetaObject::Connection connection = QObject::connect(loaded.loader.get(),
        &DPDictLoader::error, [&errorText](const QString& message) { errorText = message; });
    QStringList messages;
    {
        LogCapture capture;
        loaded.dictionary.reset(loaded.loader->load(path, loaded.name));
        messages = capture.messages();
    }
    QObject::disconnect(connection);

    for (const QString& message : qAsConst(messages)) {
        printError(QStringLiteral("library: ") + message);
    }
    if (!loaded.dictionary) {
        // "Could not open '<path>'" or "Failed to parse <path>, error: <message>, errLine: <n>".
        static const QRegularExpression errorLine(QStringLiteral(", errLine: (\\d+)$"));
        const QRegularExpressionMatch match = errorLine.match(errorText);
        if (match.hasMatch()) {
            printFileError(path, match.captured(1).toInt(),
                QStringLiteral("the dictionary is not well-formed XML"), errorText);
        } else {
            QFile file(path);
            const QString reason = file.open(QIODevice::ReadOnly)
                ? QString()
                : QStringLiteral(": ") + file.errorString();
            printFileError(
                path, 0, QStringLiteral("cannot open the dictionary") + reason, errorText);
        }
    }
    return loaded;
}

bool parseDocument(const QString& path, QDomDocument* document, QString* errorMessage, int* line)
{
    // Read as the library reads a document it does not stream, so that with Qt 6 too the tool
    // accepts and sees what the loaders accept and see.
    QString parseError;
    int errorLine = 0;
    if (!DPDictLoader::readDocument(path, document, &parseError, &errorLine)) {
        *errorMessage = line
            ? parseError
            : parseError + QStringLiteral(" at line ") + QString::number(errorLine);
        if (line) {
            *line = errorLine;
        }
        return false;
    }
    return true;
}

QString typeTag(const DPTypeBase* type)
{
    if (qobject_cast<const DPTypeNumber*>(type)) {
        return QStringLiteral("int");
    }
    if (qobject_cast<const DPTypeReal*>(type)) {
        return QStringLiteral("qreal");
    }
    if (qobject_cast<const DPTypeEnum*>(type)) {
        return QStringLiteral("enum");
    }
    if (qobject_cast<const DPTypeEvent*>(type)) {
        return QStringLiteral("event");
    }
    if (qobject_cast<const DPTypeString*>(type)) {
        return QStringLiteral("text");
    }
    if (qobject_cast<const DPTypeIPv4*>(type)) {
        return QStringLiteral("ipv4");
    }
    if (qobject_cast<const DPTypeTime*>(type)) {
        return QStringLiteral("time");
    }
    return QStringLiteral("?");
}

QString jsonStringLiteralText(const QString& text)
{
    const QString escaped = jsonStringEscape(text);
    QString result;
    result.reserve(escaped.size());
    for (const QChar c : escaped) {
        if (c.unicode() < 0x20) {
            result += QStringLiteral("\\u")
                + QString::number(c.unicode(), 16).rightJustified(4, QLatin1Char('0'));
        } else {
            result += c;
        }
    }
    return result;
}

} // namespace tool
} // namespace kivo
