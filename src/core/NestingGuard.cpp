#include "core/NestingGuard_p.h"

#include "core/QtCompat_p.h"

#include <QBuffer>
#include <QDomDocument>
#include <QXmlDefaultHandler>
#include <QXmlInputSource>
#include <QXmlSimpleReader>

namespace kivo {

namespace {

// The DOM is built by QXmlSimpleReader (Qt 5's QDomDocument, QtCompat::setDomContent on Qt 6),
// which recurses once per element level; the same reader, with the features QDomDocument sets,
// sees exactly the nesting the DOM would build.
QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED

class DepthCounter : public QXmlDefaultHandler
{
public:
    bool startElement(
        const QString&, const QString&, const QString&, const QXmlAttributes&) override
    {
        if (++m_depth <= maxNestingDepth) {
            return true;
        }
        m_tooDeepLine = m_locator ? m_locator->lineNumber() : 1;
        return false;
    }
    bool endElement(const QString&, const QString&, const QString&) override
    {
        --m_depth;
        return true;
    }
    void setDocumentLocator(QXmlLocator* locator) override { m_locator = locator; }

    int m_depth = 0;
    int m_tooDeepLine = 0;

private:
    QXmlLocator* m_locator = nullptr;
};

// The line of the first element deeper than maxNestingDepth; 0 when there is none or the parser
// stops at an error first.
int tooDeepLine(const QByteArray& content)
{
    QBuffer buffer;
    buffer.setData(content);
    buffer.open(QIODevice::ReadOnly);
    QXmlInputSource source(&buffer);
    QXmlSimpleReader reader;
    QtCompat::setDomReaderFeatures(&reader);
    DepthCounter counter;
    reader.setContentHandler(&counter);
    reader.parse(&source, false);
    return counter.m_tooDeepLine;
}

QT_WARNING_POP

} // namespace

bool parseGuarded(const QByteArray& content, QDomDocument* document, QString* message, int* line)
{
    if (const int tooDeep = tooDeepLine(content)) {
        *message = QStringLiteral("document nested deeper than %1 levels").arg(maxNestingDepth);
        *line = tooDeep;
        return false;
    }
    return QtCompat::setDomContent(document, content, message, line);
}

} // namespace kivo
