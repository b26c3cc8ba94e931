#include <kivo/measurement/MeasurementLoader.h>

#include <kivo/measurement/MeasurementConversion.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/measurement/MeasurementUnits.h>

#include <QByteArray>
#include <QDebug>
#include <QDomDocument>
#include <QDomElement>
#include <QDomNodeList>
#include <QFile>
#include <QXmlStreamReader>

namespace kivo {

const QString MeasurementLoader::converterIdNode = QStringLiteral("ConverterId");
const QString MeasurementLoader::dstUnitIdNode = QStringLiteral("DstMUnitId");
const QString MeasurementLoader::labelNode = QStringLiteral("Label");
const QString MeasurementLoader::mSystemDefNode = QStringLiteral("MSystemDef");
const QString MeasurementLoader::mUnitConverterNode = QStringLiteral("MUnitConverter");
const QString MeasurementLoader::mUnitDefNode = QStringLiteral("MUnitDef");
const QString MeasurementLoader::mUnitDef2ConverterNode = QStringLiteral("MUnitDef2Converter");
const QString MeasurementLoader::offsetNode = QStringLiteral("Offset");
const QString MeasurementLoader::resolutionNode = QStringLiteral("Resolution");
const QString MeasurementLoader::scaleNode = QStringLiteral("Scale");
const QString MeasurementLoader::srcUnitIdNode = QStringLiteral("SrcMUnitId");
const QString MeasurementLoader::idAttr = QStringLiteral("id");

namespace {

// QDomDocument parses recursively and overflows the stack on very deeply nested input;
// real measurement files nest a few levels, so deeper documents are refused as unparsable.
constexpr int maxNestingDepth = 4096;

bool startsWith(const QByteArray& bytes, int at, const char* text)
{
    for (; *text; ++text, ++at) {
        if (at >= bytes.size() || bytes.at(at) != *text)
            return false;
    }
    return true;
}

// Index just past text at or after from; -1 when it does not occur.
int indexPast(const QByteArray& bytes, const char* text, int from)
{
    const int at = bytes.indexOf(text, from);
    return at < 0 ? -1 : at + int(qstrlen(text));
}

// Index just past the '>' that ends the markup starting at from, skipping quoted values and,
// for a declaration, its internal subset with the comments and declarations inside it.
int endOfMarkup(const QByteArray& bytes, int from)
{
    bool inSubset = false;
    for (int i = from; i >= 0 && i < bytes.size(); ++i) {
        const char c = bytes.at(i);
        if (c == '"' || c == '\'') {
            i = bytes.indexOf(c, i + 1);
        } else if (inSubset && startsWith(bytes, i, "<!--")) {
            i = indexPast(bytes, "-->", i + 4) - 1;
        } else if (c == '[' || c == ']') {
            inSubset = c == '[';
        } else if (c == '>' && !inSubset) {
            return i + 1;
        }
        if (i < 0)
            return -1;
    }
    return -1;
}

// Nesting read from the bytes alone, for documents the stream reader gives up on although the
// DOM parser may accept them (bytes invalid in the document's encoding, NUL characters). Markup
// is ASCII in every encoding the parser reads, so NUL bytes are dropped and UTF-16 and UTF-32
// markup reads like ASCII; comments, CDATA sections, processing instructions, declarations and
// quoted attribute values are skipped.
bool bytesNestTooDeep(QByteArray bytes)
{
    bytes.replace('\0', QByteArray());
    int depth = 0;
    int i = bytes.indexOf('<');
    while (i >= 0) {
        if (startsWith(bytes, i, "<!--")) {
            i = indexPast(bytes, "-->", i + 4);
        } else if (startsWith(bytes, i, "<![CDATA[")) {
            i = indexPast(bytes, "]]>", i + 9);
        } else if (startsWith(bytes, i, "<?")) {
            i = indexPast(bytes, "?>", i + 2);
        } else if (startsWith(bytes, i, "<!") || startsWith(bytes, i, "</")) {
            if (bytes.at(i + 1) == '/' && depth > 0)
                --depth;
            i = endOfMarkup(bytes, i + 2);
        } else {
            i = endOfMarkup(bytes, i + 1);
            if (i < 0)
                break;
            // An empty element still sits one level deeper while it is parsed.
            if (depth + 1 > maxNestingDepth)
                return true;
            if (bytes.at(i - 2) != '/')
                ++depth;
        }
        if (i < 0)
            break;
        i = bytes.indexOf('<', i);
    }
    return false;
}

bool nestsTooDeep(const QByteArray& content)
{
    QXmlStreamReader reader(content);
    int depth = 0;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (++depth > maxNestingDepth)
                return true;
        } else if (token == QXmlStreamReader::EndElement) {
            --depth;
        }
    }
    // The stream reader stops at the first error, where the more lenient DOM parser may go on
    // (an invalid UTF-8 byte, a NUL character): such a document is measured from its bytes.
    return reader.hasError() && bytesNestTooDeep(content);
}

// Texts read as a text-mode read of the file gives them, without CR, so that CR LF line ends
// read as LF. Dropping CR characters after parsing, rather than CR bytes before, keeps UTF-16
// and UTF-32 files intact (their CR LF, and characters such as U+010D, hold a 0x0D byte).
QString withoutCarriageReturns(QString text)
{
    return text.remove(QLatin1Char('\r'));
}

QString childText(const QDomElement& element, const QString& name)
{
    return withoutCarriageReturns(element.firstChildElement(name).text());
}

QString idOf(const QDomElement& element)
{
    return withoutCarriageReturns(element.attribute(MeasurementLoader::idAttr));
}

double childDouble(const QDomElement& element, const QString& name)
{
    return childText(element, name).toDouble();
}

int childInt(const QDomElement& element, const QString& name)
{
    return childText(element, name).toInt(nullptr, 10);
}

} // namespace

MeasurementLoader::MeasurementLoader(QObject* parent)
    : QObject(parent)
{ }

MeasurementLoader::~MeasurementLoader() = default;

MeasurementRegistry* MeasurementLoader::loadMeasurementRegistry(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        const QString message = QStringLiteral("PXC open failure '") + path + QStringLiteral("': ")
            + file.errorString();
        qCritical() << message;
        return nullptr;
    }

    // The bytes as they are: text mode would drop every CR byte, which breaks UTF-16 and UTF-32
    // files; CR characters are dropped from the texts read instead.
    file.setTextModeEnabled(false);
    const QByteArray content = file.readAll();
    QDomDocument document;
    if (nestsTooDeep(content) || !document.setContent(content, false)) {
        const QString message
            = QStringLiteral("PXC parsing failure '") + path + QStringLiteral("'");
        qCritical() << message;
        return nullptr;
    }

    auto* registry = new MeasurementRegistry();
    const QDomElement root = document.documentElement();

    // One pass per kind, so an entry may name a conversion defined further down the file.
    const QDomNodeList systems = root.elementsByTagName(mSystemDefNode);
    for (int i = 0; i < systems.count(); ++i) {
        const QDomElement element = systems.item(i).toElement();
        registry->addSystem(idOf(element), childText(element, labelNode));
    }

    const QDomNodeList units = root.elementsByTagName(mUnitDefNode);
    for (int i = 0; i < units.count(); ++i) {
        const QDomElement element = units.item(i).toElement();
        auto* unit = new MeasurementUnits();
        unit->_init(idOf(element), childText(element, labelNode), childDouble(element, scaleNode),
            childDouble(element, resolutionNode));
        registry->addUnits(unit);
    }

    const QDomNodeList conversions = root.elementsByTagName(mUnitConverterNode);
    for (int i = 0; i < conversions.count(); ++i) {
        const QDomElement element = conversions.item(i).toElement();
        auto* conversion = new MeasurementConversion();
        conversion->_init(idOf(element), childText(element, labelNode),
            childDouble(element, scaleNode), childInt(element, offsetNode));
        registry->addConversion(conversion);
    }

    const QDomNodeList entries = root.elementsByTagName(mUnitDef2ConverterNode);
    for (int i = 0; i < entries.count(); ++i) {
        const QDomElement element = entries.item(i).toElement();
        MeasurementConversion* conversion
            = registry->getConversionById(childText(element, converterIdNode));
        if (!conversion) {
            qCritical("NULLCHECK failed.");
            continue;
        }
        conversion->addApplicableDefs(childText(element, srcUnitIdNode),
            childText(element, dstUnitIdNode), childDouble(element, resolutionNode));
    }

    file.close();
    return registry;
}

} // namespace kivo
