#include "loader/DPDictVocabulary_p.h"

#include "loader/DPDictBuilder_p.h"

#include <kivo/loader/DPDictLoader.h>

#include <cstring>

namespace kivo {

const QString DPDictVocabulary::enumNode = QStringLiteral("Enum");
const QString DPDictVocabulary::idAttr = QStringLiteral("id");
const QString DPDictVocabulary::valueAttr = QStringLiteral("value");

const DPDictVocabulary& DPDictVocabulary::instance()
{
    static const DPDictVocabulary vocabulary;
    return vocabulary;
}

DPDictVocabulary::DPDictVocabulary()
{
    using L = DPDictLoader;
    for (qint8 text = 0; text < DPDictEntry::TextCount; ++text) {
        DPDictName& r = role(DPDictEntry::elementName(text));
        (text < DPDictEntry::WorksheetName       ? r.childText
                : text < DPDictEntry::RawDefault ? r.worksheetText
                                                 : r.itemText)
            = text;
    }
    role(L::variableDefNode).kind = DPDictName::VariableDef;
    role(L::enumDefNode).kind = DPDictName::EnumDef;
    role(enumNode).kind = DPDictName::Enum;
    role(L::dataItemNode).kind = DPDictName::DataItem;
    role(L::worksheetNode).kind = DPDictName::Worksheet;
    role(L::displayHintsNode).kind = DPDictName::DisplayHints;
    role(L::displayHintNode).kind = DPDictName::DisplayHint;
    role(L::accessNode).kind = DPDictName::Access;
    role(L::associatedVariableNode).kind = DPDictName::AssociatedVariable;
    // The containers of the usual layout, and the names reserved for component models.
    for (const QString& name : { QStringLiteral("EnumDefs"), QStringLiteral("Points"),
             QStringLiteral("DeviceDictionary"), L::componentRootNode, L::componentInventoryIdNode,
             L::componentIdNode, L::componentTypeNode, L::componentPosXNode, L::componentPosYNode,
             L::componentWidthNode, L::componentHeightNode }) {
        role(name).kind = DPDictName::Unread;
    }
}

DPDictName& DPDictVocabulary::role(const QString& name)
{
    if (name.size() >= m_byLength.size()) {
        m_byLength.resize(name.size() + 1);
    }
    QVector<DPDictName>& sameLength = m_byLength[name.size()];
    const QByteArray latin1 = name.toLatin1();
    for (DPDictName& existing : sameLength) {
        if (existing.latin1 == latin1) {
            return existing;
        }
    }
    m_elementNames.append(name);
    sameLength.append(DPDictName());
    sameLength.last().latin1 = latin1;
    sameLength.last().name = name;
    return sameLength.last();
}

const DPDictName* DPDictVocabulary::find(const char* name, int length) const
{
    if (length >= m_byLength.size()) {
        return nullptr;
    }
    for (const DPDictName& candidate : m_byLength.at(length)) {
        if (std::memcmp(candidate.latin1.constData(), name, size_t(length)) == 0) {
            return &candidate;
        }
    }
    return nullptr;
}

} // namespace kivo
