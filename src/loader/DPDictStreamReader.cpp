#include "loader/DPDictStreamReader_p.h"

#include "loader/DPDictReader_p.h"
#include "loader/DPDictScanner_p.h"

#include <QVarLengthArray>

namespace kivo {

namespace {

// The scanner's events, fed to the reading of the rules; the texts it asks for are gathered here.
class StreamReader : public DPDictSource
{
public:
    StreamReader(const QByteArray& content, DPDictBuilder& builder)
        : m_scanner(content)
        , m_reader(builder, *this, false)
    { }

    StreamReader(QIODevice* device, int windowSize, DPDictBuilder& builder)
        : m_scanner(device, windowSize)
        , m_reader(builder, *this, false)
    { }

    bool read();

    QString attribute(const QString& name) const override { return m_scanner.attribute(name); }
    int attributeCount() const override { return m_scanner.attributeCount(); }
    QString attributeName(int index) const override { return m_scanner.attributeName(index); }
    bool hasOnlyAttributes(std::initializer_list<const QString*> known) const override
    {
        return m_scanner.hasOnlyAttributes(known);
    }
    qint64 mark() const override { return m_scanner.offset(); }
    int lineAt(qint64 mark) const override { return m_scanner.lineAt(mark); }
    void keepFrom(qint64 mark) override { m_scanner.keepFrom(mark); }

private:
    QString takeText(int start);

    DPDictScanner m_scanner;
    DPDictReader m_reader;
    // Where the text of each open element starts in m_text; -1 for an element whose text is
    // not read.
    QVarLengthArray<int, 64> m_textStarts;
    // The texts (UTF-8) of the open elements that are read, in document order, each element's
    // text from its start to the end.
    QByteArray m_text;
    int m_openTexts = 0;
};

bool StreamReader::read()
{
    while (true) {
        switch (m_scanner.next()) {
        case DPDictScanner::StartElement:
            switch (m_reader.startElement(m_scanner.name(), m_scanner.nameSize())) {
            case DPDictReader::Declined:
                return false;
            case DPDictReader::Plain:
                m_textStarts.append(-1);
                break;
            case DPDictReader::WantsText:
                m_textStarts.append(m_text.size());
                ++m_openTexts;
                break;
            }
            break;
        case DPDictScanner::EndElement: {
            const int start = m_textStarts.last();
            m_textStarts.removeLast();
            m_reader.endElement(start >= 0 ? takeText(start) : QString());
            break;
        }
        case DPDictScanner::Text:
            if ((m_openTexts > 0 || m_reader.awaitsContent()) && !m_scanner.isBlank()) {
                if (m_openTexts > 0) {
                    m_scanner.appendText(&m_text);
                }
                m_reader.content();
            }
            break;
        case DPDictScanner::CData:
            if (m_openTexts > 0) {
                m_scanner.appendText(&m_text);
            }
            m_reader.content();
            break;
        case DPDictScanner::Comment:
            if (m_openTexts == 0) {
                QByteArray text;
                m_scanner.appendText(&text);
                m_reader.comment(QString::fromUtf8(text));
            }
            break;
        case DPDictScanner::EndDocument:
            m_reader.finish();
            return true;
        case DPDictScanner::Declined:
            return false;
        }
    }
}

QString StreamReader::takeText(int start)
{
    // Never null, as QDomElement::text of an element is not.
    const QString text = start < m_text.size()
        ? QString::fromUtf8(m_text.constData() + start, m_text.size() - start)
        : QString(QLatin1String(""));
    if (--m_openTexts == 0) {
        m_text.resize(0);
    }
    return text;
}

} // namespace

bool readStream(const QByteArray& content, DPDictBuilder& builder)
{
    return StreamReader(content, builder).read();
}

bool readStream(QIODevice* device, DPDictBuilder& builder, int windowSize)
{
    return StreamReader(device, windowSize, builder).read();
}

} // namespace kivo
