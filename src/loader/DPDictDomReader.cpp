#include "loader/DPDictDomReader_p.h"

#include <kivo/loader/DPDictFormat.h>
#include <kivo/loader/DPDictLoader.h>

#include <QDomDocument>
#include <QDomElement>
#include <QDomNodeList>

namespace kivo {

namespace {

// The text of the first child node named name (QDomNode::namedItem): null when there is none
// or when that node is no element.
QString childText(const QDomNode& parent, const QString& name)
{
    return parent.namedItem(name).toElement().text();
}

} // namespace

DPDictEntry readDomEntry(const QDomElement& variableDef)
{
    using L = DPDictLoader;
    DPDictEntry entry;
    entry.variableName = variableDef.attribute(L::variableNameAttr);

    const QDomNode worksheet = variableDef.namedItem(L::worksheetNode);
    const QDomElement dataItem = variableDef.namedItem(L::dataItemNode).toElement();
    entry.type = dataItem.attribute(L::typeAttr);
    entry.eventChangeable
        = dataItem.namedItem(L::eventTypeNode).toElement().attribute(L::changeableAttr);
    for (int text = 0; text < DPDictEntry::TextCount; ++text) {
        const QDomNode& parent = text < DPDictEntry::WorksheetName ? variableDef
            : text < DPDictEntry::RawDefault                       ? worksheet
                                                                   : dataItem;
        entry.texts[text] = childText(parent, DPDictEntry::elementName(text));
    }

    const QDomNodeList hints = variableDef.elementsByTagName(L::displayHintNode);
    for (int i = 0, count = hints.count(); i < count; ++i) {
        const QDomElement hint = hints.item(i).toElement();
        entry.hints.append({ hint.attribute(L::groupIdAttr), hint.attribute(L::rowIdAttr) });
    }
    const QDomNodeList access = variableDef.elementsByTagName(L::accessNode);
    for (int i = 0, count = access.count(); i < count; ++i) {
        const QString accessText = access.item(i).toElement().text();
        entry.readable = entry.readable || DPDictFormat::grantsRead(accessText);
        entry.writable = entry.writable || DPDictFormat::grantsWrite(accessText);
    }
    const QDomNodeList associated = variableDef.elementsByTagName(L::associatedVariableNode);
    for (int i = 0, count = associated.count(); i < count; ++i) {
        const QDomElement element = associated.item(i).toElement();
        entry.associated.append({ element.attribute(L::typeAttr), element.text(),
            element.attribute(L::changeableAttr) });
    }
    return entry;
}

void readDomDocument(const QDomDocument& document, DPDictBuilder& builder)
{
    static const QString enumName = QStringLiteral("Enum");
    const QDomElement root = document.documentElement();
    const QDomNodeList enumDefs = root.elementsByTagName(DPDictLoader::enumDefNode);
    for (int i = 0, count = enumDefs.count(); i < count; ++i) {
        const QDomElement element = enumDefs.item(i).toElement();
        DPDictEnumDef enumDef { element.attribute(QStringLiteral("id")), {} };
        for (QDomNode node = element.firstChild(); !node.isNull(); node = node.nextSibling()) {
            if (node.isElement() && node.nodeName() == enumName) {
                const QDomElement item = node.toElement();
                enumDef.items.append(
                    { item.attribute(QStringLiteral("value")).toInt(nullptr, 10), item.text() });
            }
        }
        builder.addEnumDef(enumDef);
    }
    const QDomNodeList variableDefs = root.elementsByTagName(DPDictLoader::variableDefNode);
    for (int i = 0, count = variableDefs.count(); i < count; ++i) {
        builder.addEntry(readDomEntry(variableDefs.item(i).toElement()));
    }
}

} // namespace kivo
