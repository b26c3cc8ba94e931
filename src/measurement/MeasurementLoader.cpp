#include <kivo/measurement/MeasurementLoader.h>

#include "core/NestingGuard_p.h"
#include "measurement/MeasurementChecks_p.h"

#include <kivo/measurement/MeasurementConversion.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/measurement/MeasurementUnits.h>

#include <QByteArray>
#include <QDebug>
#include <QDomDocument>
#include <QDomElement>
#include <QDomNodeList>
#include <QFile>

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
    return loadMeasurementRegistry(path, nullptr);
}

MeasurementRegistry* MeasurementLoader::loadMeasurementRegistry(
    const QString& path, QVector<LoadFinding>* findings)
{
    if (findings) {
        findings->clear();
    }
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
    QString parseError;
    int errorLine = 0;
    if (!parseGuarded(content, &document, &parseError, &errorLine)) {
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
    if (findings) {
        *findings = checkMeasurementDocument(document, *registry, path);
    }
    return registry;
}

} // namespace kivo
