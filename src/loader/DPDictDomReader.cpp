#include "loader/DPDictDomReader_p.h"

#include "loader/DPDictReader_p.h"

#include <QDomDocument>
#include <QDomElement>
#include <QDomNamedNodeMap>
#include <QVector>

#include <algorithm>

namespace kivo {

namespace {

// The element a walk over a QDomNode tree has just started; lines are the DOM's own.
class DomSource : public DPDictSource
{
public:
    QString attribute(const QString& name) const override { return m_element.attribute(name); }
    int attributeCount() const override { return m_element.attributes().count(); }
    QString attributeName(int index) const override
    {
        return m_element.attributes().item(index).nodeName();
    }
    bool hasOnlyAttributes(std::initializer_list<const QString*> known) const override
    {
        const QDomNamedNodeMap attributes = m_element.attributes();
        for (int i = 0, count = attributes.count(); i < count; ++i) {
            const QString name = attributes.item(i).nodeName();
            if (std::none_of(known.begin(), known.end(),
                    [&name](const QString* candidate) { return *candidate == name; })) {
                return false;
            }
        }
        return true;
    }
    qint64 mark() const override { return m_line; }
    int lineAt(qint64 mark) const override { return int(qMax<qint64>(mark, 0)); }

    QDomElement m_element; // null for a node that only carries a name
    int m_line = 0;
};

// Feeds reader the nodes from element on, in document order: elements, and the other nodes
// that QDomNode::namedItem finds by name (processing instructions, entity references). A loop,
// not a recursion: the nesting may be as deep as the parser allows, on a small thread stack.
void walk(const QDomElement& element, DPDictReader& reader, DomSource& source)
{
    struct Open
    {
        QDomNode node;
        QDomNode next; // the child to visit next
        bool wantsText;
    };
    QVector<Open> open;
    const auto visit = [&](const QDomNode& node) {
        switch (node.nodeType()) {
        case QDomNode::ElementNode:
        case QDomNode::EntityReferenceNode:
        case QDomNode::ProcessingInstructionNode: {
            const bool isElement = node.isElement();
            source.m_element = isElement ? node.toElement() : QDomElement();
            source.m_line = node.lineNumber();
            const QByteArray name = node.nodeName().toUtf8();
            const DPDictReader::Start start
                = reader.startElement(name.constData(), name.size(), !isElement);
            open.append({ node, node.firstChild(), start == DPDictReader::WantsText });
            break;
        }
        case QDomNode::CommentNode:
            reader.comment(node.nodeValue());
            break;
        case QDomNode::TextNode:
        case QDomNode::CDATASectionNode:
            reader.content();
            break;
        default:
            break;
        }
    };
    visit(element);
    while (!open.isEmpty()) {
        if (!open.last().next.isNull()) {
            const QDomNode child = open.last().next;
            open.last().next = child.nextSibling();
            visit(child);
            continue;
        }
        const QString text
            = open.last().wantsText ? open.last().node.toElement().text() : QString();
        open.removeLast();
        reader.endElement(text);
    }
}

} // namespace

DPDictEntry readDomEntry(const QDomElement& variableDef)
{
    DPDictBuilder builder(nullptr);
    DomSource source;
    DPDictEntry entry;
    DPDictReader reader(builder, source, true);
    reader.captureEntry(&entry);
    // The VariableDef as a child of a root, where the rules read it.
    reader.startElement("", 0);
    walk(variableDef, reader, source);
    reader.endElement(QString());
    return entry;
}

void readDomDocument(const QDomDocument& document, DPDictBuilder& builder)
{
    DomSource source;
    DPDictReader reader(builder, source, true);
    const QDomElement root = document.documentElement();
    if (!root.isNull()) {
        walk(root, reader, source);
    }
    reader.finish();
}

} // namespace kivo
