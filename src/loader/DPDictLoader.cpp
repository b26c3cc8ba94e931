#include <kivo/loader/DPDictLoader.h>

#include "core/NestingGuard_p.h"
#include "loader/DPDictBuilder_p.h"
#include "loader/DPDictDomReader_p.h"
#include "loader/DPDictStreamReader_p.h"
#include "loader/DPDictVocabulary_p.h"

#include <kivo/dictionary/DPointDictionary.h>

#include <QFile>
#include <QtDebug>

#include <memory>

namespace kivo {

namespace {

const char obsoleteRunMessage[] = "DPDictLoader run method is obsolete.";

const QString& enumElementName = DPDictVocabulary::enumNode;
const QString& idAttrName = DPDictVocabulary::idAttr;
const QString& valueAttrName = DPDictVocabulary::valueAttr;

// The file for reading its bytes as they are: a text-mode read would drop every CR byte, which
// breaks UTF-16 text.
bool openFile(QFile* file)
{
    if (!file->open(QIODevice::ReadOnly | QIODevice::Text)) {
        return false;
    }
    file->setTextModeEnabled(false);
    return true;
}

// The bytes of a file, read once; a pipe is read to its end.
bool readFile(const QString& fileName, QByteArray* content)
{
    QFile file(fileName);
    if (!openFile(&file)) {
        return false;
    }
    *content = file.readAll();
    return true;
}

QString openFailure(const QString& fileName)
{
    return QLatin1String("Could not open '") + fileName + QLatin1Char('\'');
}

} // namespace

DPDictLoader::DPDictLoader(QObject* parent, QThread* thread, MeasurementRegistry* registry)
    : QThread(parent)
    , m_thread(thread)
    , m_registry(registry)
{ }

DPDictLoader::~DPDictLoader()
{
    // The list's nodes belong to the document; they go first.
    m_enumDefs = QDomNodeList();
    m_enumDocument = QDomDocument();
}

DPointDictionary* DPDictLoader::load(const QString& fileName, const QString& dictName)
{
    QFile file(fileName);
    if (!openFile(&file)) {
        m_findings.clear();
        m_references.clear();
        m_skippedCount = 0;
        Q_EMIT error(openFailure(fileName));
        return nullptr;
    }
    // Ordinary documents are read as they stream past, a regular file through a small window;
    // the DOM reads the others, and reports what is not well-formed. The DOM reading reads the
    // bytes once more as a whole, and its guard checks the very bytes it parses.
    auto builder = std::make_unique<DPDictBuilder>(m_registry);
    QByteArray content;
    bool streamed;
    if (file.isSequential()) {
        content = file.readAll();
        streamed = readStream(content, *builder);
    } else {
        streamed = readStream(&file, *builder);
        if (!streamed) {
            content = file.seek(0) ? file.readAll() : QByteArray();
        }
    }
    file.close();
    if (!streamed) {
        builder = std::make_unique<DPDictBuilder>(m_registry);
        QDomDocument document;
        QString parseError;
        int errorLine = 0;
        if (!parseGuarded(content, &document, &parseError, &errorLine)) {
            m_findings.clear();
            m_references.clear();
            m_skippedCount = 0;
            Q_EMIT error(QLatin1String("Failed to parse ") + fileName + QLatin1String(", error: ")
                + parseError + QLatin1String(", errLine: ") + QString::number(errorLine));
            return nullptr;
        }
        readDomDocument(document, *builder);
    }
    keepEnumDefs(builder->enumDefs());
    DPointDictionary* dictionary = builder->takeDictionary(dictName);
    QVector<LoadFinding> findings = builder->findings();
    for (LoadFinding& finding : findings) {
        finding.file = fileName;
    }
    m_findings = sortedByLine(findings);
    m_references = builder->references();
    m_skippedCount = builder->skippedCount();
    return dictionary;
}

bool DPDictLoader::readDocument(
    const QString& fileName, QDomDocument* document, QString* errorMessage, int* errorLine)
{
    QByteArray content;
    if (!readFile(fileName, &content)) {
        *errorMessage = openFailure(fileName);
        *errorLine = 0;
        return false;
    }
    return parseGuarded(content, document, errorMessage, errorLine);
}

DPointDef* DPDictLoader::loadDPointDef(const QDomElement& variableDef, DPTypeBase& type)
{
    return DPDictBuilder(m_registry).createDefinition(readDomEntry(variableDef), type);
}

QHash<int, QString> DPDictLoader::getEnumDef(QString enumDefId)
{
    QHash<int, QString> table;
    const QDomElement enumDef = findEnumDef(enumDefId);
    for (QDomNode node = enumDef.firstChild(); !node.isNull(); node = node.nextSibling()) {
        if (node.isElement() && node.nodeName() == enumElementName) {
            const QDomElement item = node.toElement();
            table.insert(item.attribute(valueAttrName).toInt(nullptr, 10), item.text());
        }
    }
    return table;
}

QHash<QString, int> DPDictLoader::getIndexEnumDef(QString enumDefId)
{
    QHash<QString, int> table;
    const QDomElement enumDef = findEnumDef(enumDefId);
    for (QDomNode node = enumDef.firstChild(); !node.isNull(); node = node.nextSibling()) {
        if (node.isElement() && node.nodeName() == enumElementName) {
            const QDomElement item = node.toElement();
            table.insert(item.text(), item.attribute(valueAttrName).toInt(nullptr, 10));
        }
    }
    return table;
}

void DPDictLoader::run()
{
    qRegisterMetaType<DictRefSP>("DictRefSP");
    qCritical("%s", obsoleteRunMessage);
    setFinished();
    Q_EMIT error(QLatin1String(obsoleteRunMessage));
}

void DPDictLoader::setFinished()
{
    m_finished = true;
}

QDomElement DPDictLoader::findEnumDef(const QString& enumDefId) const
{
    for (int i = 0, count = m_enumDefs.count(); i < count; ++i) {
        const QDomElement enumDef = m_enumDefs.item(i).toElement();
        if (enumDef.attribute(idAttrName) == enumDefId) {
            return enumDef;
        }
    }
    return QDomElement();
}

void DPDictLoader::keepEnumDefs(const QVector<DPDictEnumDef>& enumDefs)
{
    // Keeps the id, and per Enum child the value and the label, of every EnumDef in document
    // order: all that getEnumDef and getIndexEnumDef read.
    QDomDocument copies;
    QDomElement holder = copies.createElement(enumDefNode + QLatin1String("s"));
    copies.appendChild(holder);
    for (const DPDictEnumDef& enumDef : enumDefs) {
        QDomElement copy = copies.createElement(enumDefNode);
        copy.setAttribute(idAttrName, enumDef.id);
        for (const auto& item : enumDef.items) {
            QDomElement itemCopy = copies.createElement(enumElementName);
            itemCopy.setAttribute(valueAttrName, item.first);
            itemCopy.appendChild(copies.createTextNode(item.second));
            copy.appendChild(itemCopy);
        }
        holder.appendChild(copy);
    }
    // The old list lets go of the old copies before their document goes.
    m_enumDefs = holder.childNodes();
    m_enumDocument = copies;
}

} // namespace kivo
