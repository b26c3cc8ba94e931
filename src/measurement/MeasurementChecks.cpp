#include "measurement/MeasurementChecks_p.h"

#include "core/NearName_p.h"

#include <kivo/measurement/MeasurementLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>

#include <QDomDocument>
#include <QDomElement>
#include <QDomNamedNodeMap>
#include <QHash>
#include <QSet>

namespace kivo {

namespace {

using M = MeasurementLoader;

QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString elementRef(const QString& name)
{
    return QLatin1Char('<') + name + QLatin1Char('>');
}

class Checker
{
public:
    Checker(MeasurementRegistry& registry, const QString& path)
        : m_registry(registry)
        , m_path(path)
    { }

    void check(const QDomElement& root);
    QVector<LoadFinding> findings() const { return sortedByLine(m_findings); }

private:
    void add(int line, LoadFinding::Severity severity, const QString& text)
    {
        LoadFinding finding;
        finding.file = m_path;
        finding.line = qMax(line, 0);
        finding.severity = severity;
        finding.text = text;
        m_findings.append(finding);
    }
    void checkDefinition(const QDomElement& element);
    void checkNumber(
        const QDomElement& definition, const QString& child, const QString& what, bool integer);

    MeasurementRegistry& m_registry;
    QString m_path;
    QVector<LoadFinding> m_findings;
    QHash<QString, QHash<QString, int>> m_ids; // per kind, the first line of each id
};

// The children each definition reads.
const QStringList& childrenOf(const QString& definition)
{
    static const QHash<QString, QStringList> children {
        { M::mSystemDefNode, { M::labelNode } },
        { M::mUnitDefNode, { M::labelNode, M::scaleNode, M::resolutionNode } },
        { M::mUnitConverterNode, { M::labelNode, M::scaleNode, M::offsetNode } },
        { M::mUnitDef2ConverterNode,
            { M::converterIdNode, M::srcUnitIdNode, M::dstUnitIdNode, M::resolutionNode } },
    };
    static const QStringList none;
    const auto it = children.constFind(definition);
    return it == children.constEnd() ? none : it.value();
}

void Checker::check(const QDomElement& root)
{
    static const QStringList known { M::converterIdNode, M::dstUnitIdNode, M::labelNode,
        M::mSystemDefNode, M::mUnitConverterNode, M::mUnitDefNode, M::mUnitDef2ConverterNode,
        M::offsetNode, M::resolutionNode, M::scaleNode, M::srcUnitIdNode,
        QStringLiteral("MeasurementDefinitions") };
    // Every element below the root in document order; the definitions are checked as met, the
    // others only for a near miss of a known name.
    QDomElement element = root.firstChildElement();
    while (!element.isNull()) {
        const QString name = element.tagName();
        const bool definition = !childrenOf(name).isEmpty();
        const QDomElement parent = element.parentNode().toElement();
        const bool inDefinition = parent != root && !childrenOf(parent.tagName()).isEmpty();
        if (definition) {
            checkDefinition(element);
        } else if (!inDefinition && !known.contains(name)) {
            const QString nearest = nearestName(name, known, true);
            if (!nearest.isEmpty()) {
                add(element.lineNumber(), LoadFinding::Warning,
                    QStringLiteral("unknown element ") + elementRef(name)
                        + QStringLiteral(" is not read") + didYouMean(nearest, true));
            }
        }
        // The next element in document order.
        QDomElement next = element.firstChildElement();
        for (QDomElement up = element; next.isNull() && up != root;
             up = up.parentNode().toElement()) {
            next = up.nextSiblingElement();
        }
        element = next;
    }
}

void Checker::checkDefinition(const QDomElement& element)
{
    const QString kind = element.tagName();
    const QStringList& children = childrenOf(kind);
    const bool hasId = kind != M::mUnitDef2ConverterNode;
    const QString id = element.attribute(M::idAttr);
    const QString what = kind + (hasId ? QLatin1Char(' ') + quoted(id) : QString());
    const int line = element.lineNumber();

    const QDomNamedNodeMap attributes = element.attributes();
    QStringList unknownAttributes;
    for (int i = 0; i < attributes.count(); ++i) {
        const QString name = attributes.item(i).nodeName();
        if (!hasId || name != M::idAttr) {
            unknownAttributes.append(name);
        }
    }
    unknownAttributes.sort();
    for (const QString& name : qAsConst(unknownAttributes)) {
        add(line, LoadFinding::Warning,
            QStringLiteral("unknown attribute ") + name + QStringLiteral(" on ") + what
                + QStringLiteral(" is not read")
                + (hasId ? didYouMean(nearestName(name, { M::idAttr }, false), false) : QString()));
    }
    if (hasId) {
        QHash<QString, int>& ids = m_ids[kind];
        if (ids.contains(id)) {
            add(line, LoadFinding::Warning,
                what + QStringLiteral(" is defined again; it replaces the one on line ")
                    + QString::number(ids.value(id)));
        } else {
            ids.insert(id, line);
        }
    }

    QSet<QString> seen;
    for (QDomElement child = element.firstChildElement(); !child.isNull();
         child = child.nextSiblingElement()) {
        const QString name = child.tagName();
        if (!childrenOf(name).isEmpty()) {
            continue; // a definition of its own
        }
        if (!children.contains(name)) {
            const QString nearest = nearestName(name, children, false);
            add(child.lineNumber(), LoadFinding::Warning,
                QStringLiteral("unknown element ") + elementRef(name) + QStringLiteral(" in ")
                    + what + QStringLiteral(" is not read") + didYouMean(nearest, true));
        } else if (seen.contains(name)) {
            add(child.lineNumber(), LoadFinding::Warning,
                QStringLiteral("another ") + elementRef(name) + QStringLiteral(" in ") + what
                    + QStringLiteral(" is not read; only the first counts"));
        }
        seen.insert(name);
    }

    if (kind == M::mUnitDefNode || kind == M::mUnitConverterNode) {
        checkNumber(element, M::scaleNode, what, false);
        const QDomElement scale = element.firstChildElement(M::scaleNode);
        bool ok = false;
        const double value = scale.text().toDouble(&ok);
        if (scale.isNull() || (ok && value == 0.0)) {
            add(scale.isNull() ? line : scale.lineNumber(), LoadFinding::Error,
                what
                    + (scale.isNull() ? QStringLiteral(" has no Scale, which reads as 0")
                                      : QStringLiteral(" has a Scale of 0"))
                    + (kind == M::mUnitDefNode
                            ? QStringLiteral(": every value of the unit converts to 0")
                            : QStringLiteral(": every value it converts becomes its Offset")));
        }
    }
    if (kind == M::mUnitDefNode) {
        checkNumber(element, M::resolutionNode, what, false);
    } else if (kind == M::mUnitConverterNode) {
        checkNumber(element, M::offsetNode, what, true);
    } else if (kind == M::mUnitDef2ConverterNode) {
        checkNumber(element, M::resolutionNode, what, false);
        const QDomElement idElement = element.firstChildElement(M::converterIdNode);
        const QString converterId = idElement.text();
        if (!m_registry.getConversionById(converterId)) {
            add(idElement.isNull() ? line : idElement.lineNumber(), LoadFinding::Warning,
                M::mUnitDef2ConverterNode + QStringLiteral(" names no ") + M::mUnitConverterNode
                    + QLatin1Char(' ') + quoted(converterId));
        }
        const QDomElement source = element.firstChildElement(M::srcUnitIdNode);
        if (!m_registry.getUnits(source.text())) {
            add(source.isNull() ? line : source.lineNumber(), LoadFinding::Warning,
                M::mUnitDef2ConverterNode + QStringLiteral(" of ") + quoted(converterId)
                    + QStringLiteral(" names no ") + M::mUnitDefNode + QLatin1Char(' ')
                    + quoted(source.text()) + QStringLiteral(" as its ") + M::srcUnitIdNode);
        }
        const QDomElement destination = element.firstChildElement(M::dstUnitIdNode);
        const QString dst = destination.text();
        if (!m_registry.getUnits(dst) && !m_registry.getSystems().contains(dst)) {
            add(destination.isNull() ? line : destination.lineNumber(), LoadFinding::Warning,
                M::mUnitDef2ConverterNode + QStringLiteral(" of ") + quoted(converterId)
                    + QStringLiteral(" names neither a ") + M::mUnitDefNode
                    + QStringLiteral(" nor a ") + M::mSystemDefNode + QLatin1Char(' ') + quoted(dst)
                    + QStringLiteral(" as its ") + M::dstUnitIdNode);
        }
    }
}

void Checker::checkNumber(
    const QDomElement& definition, const QString& child, const QString& what, bool integer)
{
    const QDomElement element = definition.firstChildElement(child);
    if (element.isNull()) {
        return;
    }
    const QString text = element.text();
    bool ok = false;
    if (integer) {
        text.toInt(&ok, 10);
    } else {
        text.toDouble(&ok);
    }
    if (!ok) {
        add(element.lineNumber(), LoadFinding::Warning,
            child + QLatin1Char(' ') + quoted(text) + QStringLiteral(" of ") + what
                + (integer ? QStringLiteral(" is not a whole number; it reads as 0")
                           : QStringLiteral(" is not a number; it reads as 0")));
    }
}

} // namespace

QVector<LoadFinding> checkMeasurementDocument(
    const QDomDocument& document, MeasurementRegistry& registry, const QString& path)
{
    Checker checker(registry, path);
    checker.check(document.documentElement());
    return checker.findings();
}

} // namespace kivo
