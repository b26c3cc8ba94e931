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
    // Other syntax errors are left to the DOM parser, which reports them.
    return false;
}

QString childText(const QDomElement& element, const QString& name)
{
    return element.firstChildElement(name).text();
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
        registry->addSystem(element.attribute(idAttr), childText(element, labelNode));
    }

    const QDomNodeList units = root.elementsByTagName(mUnitDefNode);
    for (int i = 0; i < units.count(); ++i) {
        const QDomElement element = units.item(i).toElement();
        auto* unit = new MeasurementUnits();
        unit->_init(element.attribute(idAttr), childText(element, labelNode),
            childDouble(element, scaleNode), childDouble(element, resolutionNode));
        registry->addUnits(unit);
    }

    const QDomNodeList conversions = root.elementsByTagName(mUnitConverterNode);
    for (int i = 0; i < conversions.count(); ++i) {
        const QDomElement element = conversions.item(i).toElement();
        auto* conversion = new MeasurementConversion();
        conversion->_init(element.attribute(idAttr), childText(element, labelNode),
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
