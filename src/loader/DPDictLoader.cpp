#include <kivo/loader/DPDictLoader.h>

#include "dictionary/DPointDefInterner_p.h"

#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/loader/DPDictFormat.h>
#include <kivo/types/DPTypeEnum.h>
#include <kivo/types/DPTypeEvent.h>
#include <kivo/types/DPTypeIPv4.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>
#include <kivo/types/DPTypeString.h>
#include <kivo/types/DPTypeTime.h>

#include <QBuffer>
#include <QFile>
#include <QMap>
#include <QTextCodec>
#include <QVarLengthArray>
#include <QVector>
#include <QtDebug>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace kivo {

const QString DPDictLoader::enumDefNode = QStringLiteral("EnumDef");
const QString DPDictLoader::variableDefNode = QStringLiteral("VariableDef");
const QString DPDictLoader::variableNameAttr = QStringLiteral("variableName");
const QString DPDictLoader::dataItemNode = QStringLiteral("DataItem");
const QString DPDictLoader::typeAttr = QStringLiteral("type");
const QString DPDictLoader::externalNameNode = QStringLiteral("ExternalName");
const QString DPDictLoader::lineIdNode = QStringLiteral("LineID");
const QString DPDictLoader::pxcIdNode = QStringLiteral("PxcId");
const QString DPDictLoader::worksheetNode = QStringLiteral("Worksheet");
const QString DPDictLoader::nameNode = QStringLiteral("Name");
const QString DPDictLoader::largeDisplayNode = QStringLiteral("LargeDisplay");
const QString DPDictLoader::showVarNode = QStringLiteral("ShowVar");
const QString DPDictLoader::displayHintsNode = QStringLiteral("DisplayHints");
const QString DPDictLoader::displayHintNode = QStringLiteral("DisplayHint");
const QString DPDictLoader::groupIdAttr = QStringLiteral("grpid");
const QString DPDictLoader::rowIdAttr = QStringLiteral("rowid");
const QString DPDictLoader::accessNode = QStringLiteral("Access");

const QString DPDictLoader::rawDefaultValueNode = QStringLiteral("RawValueDflt");
const QString DPDictLoader::minValueNode = QStringLiteral("RawValueMin");
const QString DPDictLoader::maxValueNode = QStringLiteral("RawValueMax");
const QString DPDictLoader::unitsNode = QStringLiteral("UomId");
const QString DPDictLoader::unitsLabelNode = QStringLiteral("UnitsOfMeasure");
const QString DPDictLoader::enumDefIdNode = QStringLiteral("EnumDefId");
const QString DPDictLoader::enumDefIdAttr = QStringLiteral("enumDefId");
const QString DPDictLoader::defaultValueNode = QStringLiteral("Default");
const QString DPDictLoader::charRegexNode = QStringLiteral("CharRegex");
const QString DPDictLoader::formatNode = QStringLiteral("Format");
const QString DPDictLoader::maxLengthNode = QStringLiteral("LengthMax");
const QString DPDictLoader::epochNode = QStringLiteral("Epoch");
const QString DPDictLoader::eventTypeNode = QStringLiteral("EventType");
const QString DPDictLoader::changeableAttr = QStringLiteral("changeable");
const QString DPDictLoader::ackTypeNode = QStringLiteral("AckType");
const QString DPDictLoader::resetTypeNode = QStringLiteral("ResetType");
const QString DPDictLoader::eventIdNode = QStringLiteral("EventId");
const QString DPDictLoader::descriptionNode = QStringLiteral("Description");
const QString DPDictLoader::explanationNode = QStringLiteral("EventExplanation");
const QString DPDictLoader::associatedVariableNode = QStringLiteral("AssociatedVariable");

const QString DPDictLoader::eventItemAttr = QStringLiteral("Event");
const QString DPDictLoader::ipItemAttr = QStringLiteral("IPv4");
const QString DPDictLoader::enumItemAttr = QStringLiteral("Enum");
const QString DPDictLoader::stringItemAttr = QStringLiteral("String");
const QString DPDictLoader::numberIntItemAttr = QStringLiteral("Int");
const QString DPDictLoader::numberRealItemAttr = QStringLiteral("Real");
const QString DPDictLoader::timeItemAttr = QStringLiteral("Time");

const QString DPDictLoader::trueString = QStringLiteral("true");
const QString DPDictLoader::invalidString = QStringLiteral("_invalid_");
const QString DPDictLoader::invalidString2 = QStringLiteral("-32768");
const QString DPDictLoader::alarmString = QStringLiteral("Alarm");
const QString DPDictLoader::warningString = QStringLiteral("Warning");
const QString DPDictLoader::messageString = QStringLiteral("Message");
const QString DPDictLoader::ackManualString = QStringLiteral("MA");
const QString DPDictLoader::ackAutoString = QStringLiteral("AA");
const QString DPDictLoader::ackNoString = QStringLiteral("NA");
const QString DPDictLoader::resetManualString = QStringLiteral("MR");
const QString DPDictLoader::resetAutoString = QStringLiteral("AR");
const QString DPDictLoader::sysUpTimeString = QStringLiteral("SysUpTime");
const QString DPDictLoader::jan_01_LocalTimeString = QStringLiteral("1970-Jan-01 (local time)");
const QString DPDictLoader::january_1_String = QStringLiteral("January_1");
const QString DPDictLoader::firstOfMonthString = QStringLiteral("1st_Of_Month");
const QString DPDictLoader::midnightString = QStringLiteral("Midnight");
const QString DPDictLoader::jan_01_GMT_String = QStringLiteral("1970-Jan-01 (GMT)");

const QString DPDictLoader::componentItemAttr = QStringLiteral("Component");
const QString DPDictLoader::componentRootNode = QStringLiteral("ComponentsModel");
const QString DPDictLoader::componentInventoryIdNode = QStringLiteral("ComponentInventoryId");
const QString DPDictLoader::componentIdNode = QStringLiteral("ComponentId");
const QString DPDictLoader::componentTypeNode = QStringLiteral("ComponentType");
const QString DPDictLoader::componentTypeEnumAttr = QStringLiteral("enumDefId");
const QString DPDictLoader::componentPosXNode = QStringLiteral("ComponentPosX");
const QString DPDictLoader::componentPosYNode = QStringLiteral("ComponentPosY");
const QString DPDictLoader::componentWidthNode = QStringLiteral("ComponentWidth");
const QString DPDictLoader::componentHeightNode = QStringLiteral("ComponentHeight");

namespace {

const char obsoleteRunMessage[] = "DPDictLoader run method is obsolete.";

// The DOM parser recurses per nesting level and overflows the stack near 100,000 levels;
// deeper documents are refused before parsing.
constexpr int maxNestingDepth = 10000;

const QString enumElementName = QStringLiteral("Enum");
const QString idAttrName = QStringLiteral("id");
const QString valueAttrName = QStringLiteral("value");

// Code units of raw XML bytes in one width (1, 2 or 4 bytes) and byte order.
template<int Width, bool BigEndian> struct UnitReader
{
    uint at(qint64 i) const
    {
        const uchar* p = data + i * Width;
        if constexpr (Width == 1) {
            return p[0];
        } else if constexpr (Width == 2) {
            return BigEndian ? (uint(p[0]) << 8 | p[1]) : (uint(p[1]) << 8 | p[0]);
        } else {
            return BigEndian ? (uint(p[0]) << 24 | uint(p[1]) << 16 | uint(p[2]) << 8 | p[3])
                             : (uint(p[3]) << 24 | uint(p[2]) << 16 | uint(p[1]) << 8 | p[0]);
        }
    }

    // Index of the first unit c at or after from; -1 when there is none.
    qint64 find(uint c, qint64 from) const
    {
        if (from >= count) {
            return -1;
        }
        if constexpr (Width == 1) {
            const void* hit = std::memchr(data + from, int(c), size_t(count - from));
            return hit ? static_cast<const uchar*>(hit) - data : -1;
        } else {
            for (qint64 i = from; i < count; ++i) {
                if (at(i) == c) {
                    return i;
                }
            }
            return -1;
        }
    }

    const uchar* data;
    qint64 count;
};

// Counts element nesting the way a conforming parser sees it, skipping comments, CDATA
// sections, processing instructions, declarations and quoted attribute values. Text is
// skipped with memchr, so the scan costs a small part of the DOM parse that follows.
// Malformed markup is left to the parser to report.
template<typename Reader> class DepthScanner
{
public:
    struct Result
    {
        qint64 tooDeep; // index of the first start tag deeper than the limit, or -1
        qint64 resume; // index of an unfinished construct to scan again with more units
    };

    DepthScanner(Reader reader, int depth)
        : m_reader(reader)
        , m_depth(depth)
    { }

    int depth() const { return m_depth; }

    // Scans the units; unless atEnd, a construct cut off at their end is left for the next
    // scan, which starts at its '<'.
    Result scan(bool atEnd)
    {
        const qint64 count = m_reader.count;
        qint64 i = m_reader.find('<', 0);
        while (i >= 0) {
            const qint64 start = i;
            const uint next = i + 1 < count ? m_reader.at(i + 1) : 0;
            if (next == 0) {
                i = -1;
            } else if (next == '/') {
                i = advancePast('>', i + 2);
                if (i >= 0 && m_depth > 0) {
                    --m_depth;
                }
            } else if (next == '?') {
                i = findEnd("?>", i + 2);
            } else if (next == '!') {
                if (i + 3 >= count) {
                    i = -1;
                } else if (startsWith(i + 2, "--")) {
                    i = findEnd("-->", i + 4);
                } else if (i + 8 >= count) {
                    i = -1;
                } else if (startsWith(i + 2, "[CDATA[")) {
                    i = findEnd("]]>", i + 9);
                } else {
                    i = skipDeclaration(i + 2);
                }
            } else {
                i = skipTag(i + 1);
                // An empty element does not stay open, but it still sits one level deeper.
                if (i >= 0 && m_depth + 1 > maxNestingDepth) {
                    return { start, count };
                }
                if (i >= 0 && m_reader.at(i - 2) != '/') {
                    ++m_depth;
                }
            }
            if (i < 0) {
                return { -1, atEnd ? count : start };
            }
            i = m_reader.find('<', i);
        }
        return { -1, count };
    }

private:
    qint64 advancePast(uint c, qint64 from) const
    {
        const qint64 i = m_reader.find(c, from);
        return i < 0 ? -1 : i + 1;
    }

    bool startsWith(qint64 i, const char* text) const
    {
        for (; *text; ++text, ++i) {
            if (i >= m_reader.count || m_reader.at(i) != uchar(*text)) {
                return false;
            }
        }
        return true;
    }

    // Index just past the first occurrence of the ASCII text at or after from; -1 when none.
    qint64 findEnd(const char* text, qint64 from) const
    {
        const qint64 length = qint64(std::strlen(text));
        for (qint64 i = m_reader.find(uchar(text[0]), from); i >= 0;
             i = m_reader.find(uchar(text[0]), i + 1)) {
            if (i + length > m_reader.count) {
                return -1;
            }
            if (startsWith(i, text)) {
                return i + length;
            }
        }
        return -1;
    }

    // Index just past the '>' that closes a tag, outside quoted values; -1 when none.
    qint64 skipTag(qint64 i) const
    {
        for (; i < m_reader.count; ++i) {
            const uint c = m_reader.at(i);
            if (c == '>') {
                return i + 1;
            }
            if (c == '"' || c == '\'') {
                i = m_reader.find(c, i + 1);
                if (i < 0) {
                    return -1;
                }
            }
        }
        return -1;
    }

    // Index just past a <!DOCTYPE ...> or other <!...> declaration whose name starts at i,
    // including an internal subset with its comments, processing instructions and literals.
    qint64 skipDeclaration(qint64 i) const
    {
        bool inSubset = false;
        while (i >= 0 && i < m_reader.count) {
            const uint c = m_reader.at(i);
            if (c == '"' || c == '\'') {
                i = advancePast(c, i + 1);
            } else if (inSubset && c == '<') {
                if (i + 3 >= m_reader.count) {
                    return -1;
                }
                if (startsWith(i, "<!--")) {
                    i = findEnd("-->", i + 4);
                } else if (startsWith(i, "<?")) {
                    i = findEnd("?>", i + 2);
                } else {
                    i = skipTag(i + 1);
                }
            } else if (c == '[' || c == ']') {
                inSubset = c == '[';
                ++i;
            } else if (c == '>' && !inSubset) {
                return i + 1;
            } else {
                ++i;
            }
        }
        return -1;
    }

    Reader m_reader;
    int m_depth;
};

constexpr qint64 depthScanChunk = 256 * 1024;

// An unfinished construct (comment, CDATA section, tag, declaration) is kept whole until its
// end has been read; a longer one refuses the file rather than hold ever more of it in memory.
constexpr qint64 maxKeptConstruct = 256 * 1024 * 1024;

// The parser takes the encoding named in the XML declaration only when the declaration ends
// within its first read of the file, which is this many bytes.
constexpr int xmlDeclarationWindow = 1024;

// Bytes held for the scan. Grown with realloc, so that memory that cannot be had refuses the
// file instead of throwing.
class ScanBuffer
{
public:
    ScanBuffer() = default;
    ScanBuffer(const ScanBuffer&) = delete;
    ScanBuffer& operator=(const ScanBuffer&) = delete;
    ~ScanBuffer() { std::free(m_data); }

    const uchar* data() const { return m_data; }
    qint64 size() const { return m_size; }

    // Room for count (> 0) more bytes after those held; null when the memory cannot be had.
    uchar* room(qint64 count)
    {
        const qint64 needed = m_size + count;
        if (needed > m_capacity) {
            const qint64 capacity = needed + needed / 2;
            void* grown = std::realloc(m_data, size_t(capacity));
            if (!grown) {
                return nullptr;
            }
            m_data = static_cast<uchar*>(grown);
            m_capacity = capacity;
        }
        return m_data + m_size;
    }

    void grow(qint64 count) { m_size += count; }

    void drop(qint64 count)
    {
        if (count >= m_size) {
            m_size = 0;
        } else if (count > 0) {
            std::memmove(m_data, m_data + count, size_t(m_size - count));
            m_size -= count;
        }
    }

    void release()
    {
        std::free(m_data);
        m_data = nullptr;
        m_size = 0;
        m_capacity = 0;
    }

private:
    uchar* m_data = nullptr;
    qint64 m_size = 0;
    qint64 m_capacity = 0;
};

enum class ReadStatus { Read, AtEnd, NoMemory };

// The file as the scan reads it: its bytes, or, for a codec whose bytes cannot be scanned as
// they are, the UTF-16 units (in host byte order) the parser decodes them to.
class ScanInput
{
public:
    ScanInput(QIODevice& device, QTextCodec* codec)
        : m_device(device)
        , m_codec(codec)
    {
        if (m_codec) {
            m_decoder.reset(m_codec->makeDecoder());
        }
    }

    // Starts again at the beginning of the file.
    bool rewind()
    {
        if (m_codec) {
            m_decoder.reset(m_codec->makeDecoder());
        }
        return m_device.seek(0);
    }

    // Appends at least wanted (> 0) bytes unless the file ends first.
    ReadStatus readMore(ScanBuffer& buffer, qint64 wanted)
    {
        if (!m_decoder) {
            uchar* room = buffer.room(wanted);
            if (!room) {
                return ReadStatus::NoMemory;
            }
            const qint64 got = m_device.read(reinterpret_cast<char*>(room), wanted);
            if (got <= 0) {
                return ReadStatus::AtEnd;
            }
            buffer.grow(got);
            return ReadStatus::Read;
        }
        const qint64 start = buffer.size();
        bool read = false;
        while (buffer.size() - start < wanted) {
            char* raw = reinterpret_cast<char*>(m_raw.room(depthScanChunk));
            if (!raw) {
                return ReadStatus::NoMemory;
            }
            const qint64 got = m_device.read(raw, depthScanChunk);
            if (got <= 0) {
                break;
            }
            read = true;
            const QString units = m_decoder->toUnicode(raw, int(got));
            const qint64 bytes = qint64(units.size()) * qint64(sizeof(QChar));
            if (bytes > 0) {
                uchar* room = buffer.room(bytes);
                if (!room) {
                    return ReadStatus::NoMemory;
                }
                std::memcpy(room, units.constData(), size_t(bytes));
                buffer.grow(bytes);
            }
        }
        return read ? ReadStatus::Read : ReadStatus::AtEnd;
    }

private:
    QIODevice& m_device;
    QTextCodec* m_codec;
    std::unique_ptr<QTextDecoder> m_decoder;
    ScanBuffer m_raw;
};

struct DepthScan
{
    enum Outcome { Shallow, TooDeep, TooLong, NoMemory };

    Outcome outcome;
    qint64 offset; // in bytes of the scanned input: the too deep start tag or the long construct
};

template<int Width, bool BigEndian> DepthScan scanDepth(ScanInput& input, ScanBuffer& buffer)
{
    qint64 bufferOffset = 0;
    int depth = 0;
    bool atEnd = false;
    for (;;) {
        const UnitReader<Width, BigEndian> reader { buffer.data(), buffer.size() / Width };
        DepthScanner<UnitReader<Width, BigEndian>> scanner(reader, depth);
        const auto result = scanner.scan(atEnd);
        if (result.tooDeep >= 0) {
            return { DepthScan::TooDeep, bufferOffset + result.tooDeep * Width };
        }
        if (atEnd) {
            return { DepthScan::Shallow, -1 };
        }
        depth = scanner.depth();
        buffer.drop(result.resume * Width);
        bufferOffset += result.resume * Width;
        const qint64 kept = buffer.size();
        if (kept > maxKeptConstruct) {
            return { DepthScan::TooLong, bufferOffset };
        }
        // At least one chunk, or as much as is kept, so that a construct spanning many chunks
        // is scanned again only a logarithmic number of times; near the limit only a chunk.
        const qint64 wanted = qMax(depthScanChunk, qMin(kept, maxKeptConstruct - kept));
        switch (input.readMore(buffer, wanted)) {
        case ReadStatus::Read:
            break;
        case ReadStatus::AtEnd:
            atEnd = true;
            break;
        case ReadStatus::NoMemory:
            return { DepthScan::NoMemory, bufferOffset };
        }
    }
}

// The line, counted from 1, of an offset of the scanned input; reads it again from its start.
template<int Width, bool BigEndian> int lineAt(ScanInput& input, qint64 offset)
{
    int line = 1;
    if (!input.rewind()) {
        return line;
    }
    ScanBuffer text;
    while (offset > 0) {
        text.drop(text.size());
        if (input.readMore(text, qMin(offset, depthScanChunk)) != ReadStatus::Read) {
            break;
        }
        const qint64 counted = qMin(offset, text.size());
        offset -= counted;
        const UnitReader<Width, BigEndian> reader { text.data(), counted / Width };
        for (qint64 i = reader.find('\n', 0); i >= 0; i = reader.find('\n', i + 1)) {
            ++line;
        }
    }
    return line;
}

const char noMemoryMessage[] = "not enough memory to read the document";

template<int Width, bool BigEndian>
bool checkDepth(ScanInput& input, ScanBuffer& buffer, QString* message, int* line)
{
    const DepthScan scan = scanDepth<Width, BigEndian>(input, buffer);
    switch (scan.outcome) {
    case DepthScan::Shallow:
        return true;
    case DepthScan::TooDeep:
        *message = QStringLiteral("document nested deeper than %1 levels").arg(maxNestingDepth);
        break;
    case DepthScan::TooLong:
        *message = QStringLiteral("document holds a markup construct larger than %1 MiB")
                       .arg(maxKeptConstruct / (1024 * 1024));
        break;
    case DepthScan::NoMemory:
        *message = QLatin1String(noMemoryMessage);
        break;
    }
    buffer.release();
    *line = lineAt<Width, BigEndian>(input, scan.offset);
    return false;
}

// The codec the parser switches to when the XML declaration names an encoding other than the
// one it started in (mib, told by the first bytes); null when it keeps that one, as it does
// for a name no codec answers to. Reads the declaration as loosely as the parser does: the
// first quoted text after "encoding" within the first tag.
QTextCodec* declaredCodec(const ScanBuffer& buffer, int mib)
{
    QTextCodec* initial = QTextCodec::codecForMib(mib);
    if (!initial || buffer.size() == 0) {
        return nullptr;
    }
    const std::unique_ptr<QTextDecoder> decoder(initial->makeDecoder());
    const QString text = decoder->toUnicode(reinterpret_cast<const char*>(buffer.data()),
        int(qMin(buffer.size(), qint64(xmlDeclarationWindow))));
    const int end = text.indexOf(QLatin1Char('>'));
    int pos = text.indexOf(QLatin1String("encoding"));
    if (!text.startsWith(QLatin1String("<?xml")) || end < 0 || pos < 0 || pos >= end) {
        return nullptr;
    }
    const auto isQuote = [&text](int i) {
        return text.at(i) == QLatin1Char('"') || text.at(i) == QLatin1Char('\'');
    };
    while (pos < end && !isQuote(pos)) {
        ++pos;
    }
    const int first = pos + 1;
    for (pos = first; pos < end && !isQuote(pos); ++pos) { }
    if (first >= pos) {
        return nullptr;
    }
    QTextCodec* codec = QTextCodec::codecForName(text.mid(first, pos - first).toLatin1());
    return codec && codec->mibEnum() != mib ? codec : nullptr;
}

// Whether a codec decodes every ASCII byte to itself and no other byte to an ASCII character,
// so that its bytes can be scanned as they are: UTF-8, US-ASCII, ISO-8859-x, windows-125x.
bool keepsAsciiBytes(int mib)
{
    return mib == 106 || (mib >= 3 && mib <= 13) || (mib >= 109 && mib <= 112)
        || (mib >= 2250 && mib <= 2258);
}

// Refuses documents nested deeper than the DOM parser survives. Reads the device from its
// start in chunks, taking the units in the encoding the parser will read: UTF-32 and UTF-16
// by their byte-order mark or by a first character '<', else UTF-8, unless the XML
// declaration names another encoding. Most files are scanned as raw bytes; only an encoding
// whose bytes may hide markup is decoded first.
bool checkNestingDepth(QIODevice& device, QString* message, int* line)
{
    ScanBuffer buffer;
    ScanInput bytes(device, nullptr);
    if (bytes.readMore(buffer, depthScanChunk) == ReadStatus::NoMemory) {
        *message = QLatin1String(noMemoryMessage);
        *line = 1;
        return false;
    }
    const auto starts = [&buffer](const char* text, int length) {
        return buffer.size() >= length && std::memcmp(buffer.data(), text, size_t(length)) == 0;
    };
    int width = 2;
    bool bigEndian = false;
    int mib = 1015; // UTF-16 with byte-order mark
    if (starts("\xFF\xFE\x00\x00", 4) || starts("\x00\x00\xFE\xFF", 4)) {
        width = 4;
        mib = 1017;
        bigEndian = buffer.data()[0] == 0;
    } else if (starts("\x3C\x00\x00\x00", 4) || starts("\x00\x00\x00\x3C", 4)) {
        width = 4;
        bigEndian = buffer.data()[0] == 0;
        mib = bigEndian ? 1018 : 1019;
    } else if (starts("\xFF\xFE", 2) || starts("\xFE\xFF", 2)) {
        bigEndian = buffer.data()[0] == 0xFE;
    } else if (starts("\x3C\x00", 2) || starts("\x00\x3C", 2)) {
        bigEndian = buffer.data()[0] == 0;
        mib = bigEndian ? 1013 : 1014;
    } else {
        width = 1;
        mib = 106;
    }

    if (QTextCodec* codec = declaredCodec(buffer, mib)) {
        if (keepsAsciiBytes(codec->mibEnum())) {
            return checkDepth<1, false>(bytes, buffer, message, line);
        }
        ScanInput units(device, codec);
        buffer.drop(buffer.size());
        units.rewind();
        return checkDepth<2, Q_BYTE_ORDER == Q_BIG_ENDIAN>(units, buffer, message, line);
    }
    if (width == 4) {
        return bigEndian ? checkDepth<4, true>(bytes, buffer, message, line)
                         : checkDepth<4, false>(bytes, buffer, message, line);
    }
    if (width == 2) {
        return bigEndian ? checkDepth<2, true>(bytes, buffer, message, line)
                         : checkDepth<2, false>(bytes, buffer, message, line);
    }
    return checkDepth<1, false>(bytes, buffer, message, line);
}

// Where a VariableDef keeps what the loader reads: its direct children (the first node of
// each name), the children of its DataItem and Worksheet, and descendants of three names.
enum EntryChild {
    DataItemChild,
    ExternalNameChild,
    LineIdChild,
    PxcIdChild,
    WorksheetChild,
    LargeDisplayChild,
    ShowVarChild,
    EventIdChild,
    DescriptionChild,
    ExplanationChild,
    EntryChildCount
};

enum ItemChild {
    RawDefaultItem,
    MinItem,
    MaxItem,
    UnitsItem,
    UnitsLabelItem,
    EnumDefIdItem,
    DefaultItem,
    CharRegexItem,
    FormatItem,
    MaxLengthItem,
    EpochItem,
    EventTypeItem,
    AckTypeItem,
    ResetTypeItem,
    DataItemChildCount
};

enum WorksheetChild { WorksheetNameChild, WorksheetLineIdChild, WorksheetChildCount };

enum Descendant { NoDescendant, DisplayHintDescendant, AccessDescendant, AssociatedDescendant };

struct NameRole
{
    QString name;
    int entryChild = -1;
    int dataItemChild = -1;
    int worksheetChild = -1;
    Descendant descendant = NoDescendant;
    bool variableDef = false;
    bool enumDef = false;
};

// The element names the loader looks for and what each stands for, grouped by length so that
// most nodes are told apart by the length and first character of their name.
class NameTable
{
public:
    NameTable()
    {
        const QString* entryChildren[EntryChildCount] = { &DPDictLoader::dataItemNode,
            &DPDictLoader::externalNameNode, &DPDictLoader::lineIdNode, &DPDictLoader::pxcIdNode,
            &DPDictLoader::worksheetNode, &DPDictLoader::largeDisplayNode,
            &DPDictLoader::showVarNode, &DPDictLoader::eventIdNode, &DPDictLoader::descriptionNode,
            &DPDictLoader::explanationNode };
        for (int i = 0; i < EntryChildCount; ++i) {
            role(*entryChildren[i]).entryChild = i;
        }
        const QString* itemChildren[DataItemChildCount] = { &DPDictLoader::rawDefaultValueNode,
            &DPDictLoader::minValueNode, &DPDictLoader::maxValueNode, &DPDictLoader::unitsNode,
            &DPDictLoader::unitsLabelNode, &DPDictLoader::enumDefIdNode,
            &DPDictLoader::defaultValueNode, &DPDictLoader::charRegexNode,
            &DPDictLoader::formatNode, &DPDictLoader::maxLengthNode, &DPDictLoader::epochNode,
            &DPDictLoader::eventTypeNode, &DPDictLoader::ackTypeNode,
            &DPDictLoader::resetTypeNode };
        for (int i = 0; i < DataItemChildCount; ++i) {
            role(*itemChildren[i]).dataItemChild = i;
        }
        role(DPDictLoader::nameNode).worksheetChild = WorksheetNameChild;
        role(DPDictLoader::lineIdNode).worksheetChild = WorksheetLineIdChild;
        role(DPDictLoader::displayHintNode).descendant = DisplayHintDescendant;
        role(DPDictLoader::accessNode).descendant = AccessDescendant;
        role(DPDictLoader::associatedVariableNode).descendant = AssociatedDescendant;
        role(DPDictLoader::variableDefNode).variableDef = true;
        role(DPDictLoader::enumDefNode).enumDef = true;
    }

    const NameRole* find(const QString& name) const
    {
        const int length = name.size();
        if (length >= m_byLength.size()) {
            return nullptr;
        }
        const QChar* chars = name.constData();
        for (const NameRole& candidate : m_byLength.at(length)) {
            const QChar* candidateChars = candidate.name.constData();
            if (candidateChars[0] == chars[0]
                && std::memcmp(candidateChars, chars, size_t(length) * sizeof(QChar)) == 0) {
                return &candidate;
            }
        }
        return nullptr;
    }

private:
    NameRole& role(const QString& name)
    {
        if (name.size() >= m_byLength.size()) {
            m_byLength.resize(name.size() + 1);
        }
        QVector<NameRole>& sameLength = m_byLength[name.size()];
        for (NameRole& existing : sameLength) {
            if (existing.name == name) {
                return existing;
            }
        }
        sameLength.append(NameRole());
        sameLength.last().name = name;
        return sameLength.last();
    }

    QVector<QVector<NameRole>> m_byLength;
};

const NameTable& nameTable()
{
    static const NameTable table;
    return table;
}

// The nodes of one VariableDef that the loader reads, found in a single walk of its subtree.
struct Entry
{
    // nestedDefs and nestedEnumDefs, when given, receive the VariableDef and EnumDef elements
    // below this one, in document order.
    Entry(const QDomElement& variableDef, QVector<QDomElement>* nestedDefs,
        QVector<QDomElement>* nestedEnumDefs);

    QDomElement child(EntryChild which) const { return children[which].toElement(); }
    QDomElement item(ItemChild which) const { return items[which].toElement(); }

    QDomElement self;
    QDomNode children[EntryChildCount];
    QDomNode items[DataItemChildCount];
    QDomNode worksheet[WorksheetChildCount];
    QVarLengthArray<QDomElement, 4> hints;
    QVarLengthArray<QDomElement, 2> access;
    QVarLengthArray<QDomElement, 4> associated;
};

Entry::Entry(const QDomElement& variableDef, QVector<QDomElement>* nestedDefs,
    QVector<QDomElement>* nestedEnumDefs)
    : self(variableDef)
{
    enum Container { OtherContainer, DataItemContainer, WorksheetContainer };
    const NameTable& names = nameTable();
    Container container = OtherContainer;
    int depth = 1;
    QDomNode node = variableDef.firstChild();
    while (!node.isNull()) {
        if (const NameRole* role = names.find(node.nodeName())) {
            if (depth == 1) {
                if (role->entryChild >= 0 && children[role->entryChild].isNull()) {
                    children[role->entryChild] = node;
                }
            } else if (depth == 2 && container == DataItemContainer) {
                if (role->dataItemChild >= 0 && items[role->dataItemChild].isNull()) {
                    items[role->dataItemChild] = node;
                }
            } else if (depth == 2 && container == WorksheetContainer) {
                if (role->worksheetChild >= 0 && worksheet[role->worksheetChild].isNull()) {
                    worksheet[role->worksheetChild] = node;
                }
            }
            if (node.isElement()) {
                switch (role->descendant) {
                case DisplayHintDescendant:
                    hints.append(node.toElement());
                    break;
                case AccessDescendant:
                    access.append(node.toElement());
                    break;
                case AssociatedDescendant:
                    associated.append(node.toElement());
                    break;
                case NoDescendant:
                    break;
                }
                if (role->variableDef && nestedDefs) {
                    nestedDefs->append(node.toElement());
                } else if (role->enumDef && nestedEnumDefs) {
                    nestedEnumDefs->append(node.toElement());
                }
            }
        }

        QDomNode next = node.firstChild();
        if (!next.isNull()) {
            if (depth == 1) {
                container = node == children[DataItemChild]
                    ? DataItemContainer
                    : (node == children[WorksheetChild] ? WorksheetContainer : OtherContainer);
            }
            ++depth;
        } else {
            while (depth > 0) {
                next = node.nextSibling();
                if (!next.isNull()) {
                    break;
                }
                node = node.parentNode();
                --depth;
            }
        }
        node = next;
    }
}

// The text of an element as QDomElement::text gives it; the text of a single text or CDATA
// child is shared with the document rather than copied. A node that is no element has none.
QString textOf(const QDomNode& node)
{
    if (!node.isElement()) {
        return QString();
    }
    const QDomNode first = node.firstChild();
    if (!first.isNull() && first.isText() && first.nextSibling().isNull()) {
        return first.nodeValue();
    }
    return node.toElement().text();
}

// The text in a buffer of its own size: the parser's buffers have room to spare, and kept
// texts outlive the document.
QString compacted(QString text)
{
    if (!text.isEmpty() && text.capacity() > text.size()) {
        text.squeeze();
    }
    return text;
}

// QString::simplified, without a copy when the text is simplified already.
QString simplifiedText(const QString& text)
{
    const int length = text.size();
    if (length == 0) {
        return text;
    }
    const QChar* chars = text.constData();
    bool needed = chars[0].isSpace() || chars[length - 1].isSpace();
    for (int i = 0; !needed && i < length; ++i) {
        needed = chars[i].isSpace() && (chars[i] != QLatin1Char(' ') || chars[i + 1].isSpace());
    }
    return needed ? text.simplified() : text;
}

QHash<int, QString> enumTableOf(const QDomElement& enumDef)
{
    QHash<int, QString> table;
    for (QDomNode node = enumDef.firstChild(); !node.isNull(); node = node.nextSibling()) {
        if (node.isElement() && node.nodeName() == enumElementName) {
            const QDomElement item = node.toElement();
            table.insert(item.attribute(valueAttrName).toInt(nullptr, 10), item.text());
        }
    }
    return table;
}

} // namespace

// State of one load: texts shared between definitions, and enumeration types whose tables
// are filled in once every EnumDef of the document is known.
struct DPDictLoader::LoadContext
{
    struct PendingEnum
    {
        DPTypeEnum* type;
        QString enumDefId;
        QString rawDefault;
    };

    QString intern(const QString& text) { return interner.text(text); }

    QMap<QString, QString> displayHints(const Entry& entry);

    DPTypeBase* createType(const Entry& entry);
    DPointDef* createDefinition(const Entry& entry, DPTypeBase& type);
    void addEntry(const QDomElement& variableDef, QVector<QDomElement>* nestedDefs,
        QVector<QDomElement>* nestedEnumDefs);

    DPointDictionary* dictionary = nullptr;
    MeasurementRegistry* registry = nullptr;
    DPointDefInterner interner;
    QVector<PendingEnum> pendingEnums;
};

QMap<QString, QString> DPDictLoader::LoadContext::displayHints(const Entry& entry)
{
    // Points with the same hints share one table.
    QMap<QString, QString> table;
    for (const QDomElement& hint : entry.hints) {
        table.insert(hint.attribute(groupIdAttr), hint.attribute(rowIdAttr));
    }
    return interner.displayHints(table);
}

void DPDictLoader::LoadContext::addEntry(const QDomElement& variableDef,
    QVector<QDomElement>* nestedDefs, QVector<QDomElement>* nestedEnumDefs)
{
    const Entry entry(variableDef, nestedDefs, nestedEnumDefs);
    if (DPTypeBase* type = createType(entry)) {
        dictionary->addDef(createDefinition(entry, *type));
    }
}

DPTypeBase* DPDictLoader::LoadContext::createType(const Entry& entry)
{
    const QDomElement dataItem = entry.child(DataItemChild);
    const DPDictFormat::Selection selection
        = DPDictFormat::selectType(dataItem.attribute(typeAttr), entry.item(EventTypeItem),
            entry.item(AckTypeItem), entry.item(ResetTypeItem), entry.item(EpochItem));
    if (selection.skipReason != DPDictFormat::NotSkipped) {
        return nullptr;
    }

    switch (selection.kind) {
    case DPDictFormat::EventPoint: {
        QMap<QString, DPTypeEvent::AssociatedVariable*> associatedVariables;
        for (const QDomElement& element : entry.associated) {
            auto* record = new DPTypeEvent::AssociatedVariable;
            record->names = compacted(textOf(element));
            record->changeable = DPDictFormat::isTrueText(element.attribute(changeableAttr));
            const QString key = intern(element.attribute(typeAttr));
            auto it = associatedVariables.find(key);
            if (it != associatedVariables.end()) {
                delete it.value();
                it.value() = record;
            } else {
                associatedVariables.insert(key, record);
            }
        }
        auto* type = new DPTypeEvent(nullptr);
        type->_init(textOf(entry.children[EventIdChild]).toInt(nullptr, 10),
            intern(textOf(entry.children[DescriptionChild])),
            intern(simplifiedText(textOf(entry.children[ExplanationChild]))), selection.eventType,
            selection.eventChangeable, selection.ackType, selection.resetType, associatedVariables);
        return type;
    }
    case DPDictFormat::IPv4Point:
        return new DPTypeIPv4(nullptr);
    case DPDictFormat::EnumPoint: {
        // Filled in when the load has seen every EnumDef, which may follow the point.
        auto* type = new DPTypeEnum(nullptr);
        pendingEnums.append(
            { type, textOf(entry.items[EnumDefIdItem]), textOf(entry.items[RawDefaultItem]) });
        return type;
    }
    case DPDictFormat::StringPoint: {
        auto* type = new DPTypeString(nullptr);
        type->_init(intern(textOf(entry.items[DefaultItem])),
            intern(textOf(entry.items[CharRegexItem])), intern(textOf(entry.items[FormatItem])),
            textOf(entry.items[MaxLengthItem]).toInt(nullptr, 10));
        return type;
    }
    case DPDictFormat::NumberPoint: {
        auto* type = new DPTypeNumber(nullptr);
        type->_init(DPDictFormat::numberDefault(textOf(entry.items[RawDefaultItem])),
            textOf(entry.items[MinItem]).toInt(nullptr, 10),
            textOf(entry.items[MaxItem]).toInt(nullptr, 10), intern(textOf(entry.items[UnitsItem])),
            intern(textOf(entry.items[UnitsLabelItem])));
        return type;
    }
    case DPDictFormat::RealPoint: {
        auto* type = new DPTypeReal(nullptr);
        type->_init(DPDictFormat::realDefault(intern(textOf(entry.items[RawDefaultItem]))),
            textOf(entry.items[MinItem]).toDouble(), textOf(entry.items[MaxItem]).toDouble(),
            intern(textOf(entry.items[UnitsItem])), intern(textOf(entry.items[UnitsLabelItem])));
        return type;
    }
    case DPDictFormat::TimePoint: {
        auto* type = new DPTypeTime(nullptr);
        type->_init(DPDictFormat::timeDefault(textOf(entry.items[RawDefaultItem]), selection.epoch),
            selection.epoch);
        return type;
    }
    case DPDictFormat::NoPointKind:
        break;
    }
    return nullptr;
}

DPointDef* DPDictLoader::LoadContext::createDefinition(const Entry& entry, DPTypeBase& type)
{
    QString lineId = textOf(entry.children[LineIdChild]);
    if (lineId.isEmpty()) {
        lineId = textOf(entry.worksheet[WorksheetLineIdChild]);
    }
    const QString name = compacted(simplifiedText(entry.self.attribute(variableNameAttr)));
    const QString externalName = intern(simplifiedText(textOf(entry.children[ExternalNameChild])));

    auto* def = new DPointDef(nullptr);
    def->_init(name, name, externalName, intern(lineId),
        textOf(entry.children[PxcIdChild]).toInt(nullptr, 10), &type);
    type.setParent(def);
    if (qobject_cast<DPTypeNumber*>(&type) || qobject_cast<DPTypeReal*>(&type)) {
        def->m_registry = registry;
    }

    def->setProperty("DisplayHints", QVariant::fromValue(displayHints(entry)));
    def->setProperty("Worksheet", intern(textOf(entry.worksheet[WorksheetNameChild])));
    const QString largeDisplay = simplifiedText(textOf(entry.children[LargeDisplayChild]));
    if (!largeDisplay.isEmpty() && largeDisplay != externalName) {
        def->setProperty("LargeDisplay", intern(largeDisplay));
    }
    const QString showVar = simplifiedText(textOf(entry.children[ShowVarChild]));
    if (!showVar.isEmpty()) {
        def->setProperty("ShowVar", intern(showVar));
    }
    for (const QDomElement& element : entry.access) {
        const QString access = textOf(element);
        def->m_writable = def->m_writable || DPDictFormat::grantsWrite(access);
        def->m_readable = def->m_readable || DPDictFormat::grantsRead(access);
    }
    return def;
}

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
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        Q_EMIT error(QLatin1String("Could not open '") + fileName + QLatin1Char('\''));
        return nullptr;
    }

    // A pipe cannot be read twice: it is read whole first.
    QBuffer memory;
    QIODevice* source = &file;
    if (file.isSequential()) {
        memory.setData(file.readAll());
        memory.open(QIODevice::ReadOnly);
        source = &memory;
    }
    QDomDocument document;
    QString parseError;
    int errorLine = 0;
    // The depth check reads raw bytes (removing carriage returns changes no line count); the
    // parser reads the file in text mode.
    source->setTextModeEnabled(false);
    const bool shallow = checkNestingDepth(*source, &parseError, &errorLine);
    source->setTextModeEnabled(true);
    const bool parsed
        = shallow && source->seek(0) && document.setContent(source, false, &parseError, &errorLine);
    if (!parsed) {
        Q_EMIT error(QLatin1String("Failed to parse ") + fileName + QLatin1String(", error: ")
            + parseError + QLatin1String(", errLine: ") + QString::number(errorLine));
        return nullptr;
    }

    LoadContext context;
    context.dictionary = new DPointDictionary(nullptr);
    context.dictionary->setObjectName(dictName);
    context.registry = m_registry;

    // One walk of the document in document order. A VariableDef is read where it is found,
    // with one walk of its own subtree that also reports the VariableDefs and EnumDefs
    // nested in it, so that no part of the document is walked twice.
    const QDomElement root = document.documentElement();
    QVector<QDomElement> enumDefs;
    QVector<QDomElement> nestedDefs;
    QDomNode node = root.firstChild();
    int depth = 1;
    while (!node.isNull()) {
        bool descend = true;
        if (node.isElement()) {
            const QString name = node.nodeName();
            if (name == variableDefNode) {
                nestedDefs.clear();
                context.addEntry(node.toElement(), &nestedDefs, &enumDefs);
                for (const QDomElement& nested : qAsConst(nestedDefs)) {
                    context.addEntry(nested, nullptr, nullptr);
                }
                descend = false;
            } else if (name == enumDefNode) {
                enumDefs.append(node.toElement());
            }
        }
        QDomNode next = descend ? node.firstChild() : QDomNode();
        if (!next.isNull()) {
            ++depth;
        } else {
            while (depth > 0) {
                next = node.nextSibling();
                if (!next.isNull()) {
                    break;
                }
                node = node.parentNode();
                --depth;
            }
        }
        node = next;
    }

    // The first EnumDef of each id wins; a table is built once and shared by its points.
    QHash<QString, QDomElement> enumDefById;
    for (const QDomElement& enumDef : qAsConst(enumDefs)) {
        const QString id = enumDef.attribute(idAttrName);
        if (!enumDefById.contains(id)) {
            enumDefById.insert(id, enumDef);
        }
    }
    QHash<QString, QHash<int, QString>> tables;
    for (const LoadContext::PendingEnum& pending : qAsConst(context.pendingEnums)) {
        auto it = tables.find(pending.enumDefId);
        if (it == tables.end()) {
            it = tables.insert(
                pending.enumDefId, enumTableOf(enumDefById.value(pending.enumDefId)));
        }
        pending.type->_init(DPDictFormat::enumDefault(pending.rawDefault, it.value()), it.value());
    }
    keepEnumDefs(enumDefs);

    file.close();
    return context.dictionary;
}

DPointDef* DPDictLoader::loadDPointDef(const QDomElement& variableDef, DPTypeBase& type)
{
    LoadContext context;
    context.registry = m_registry;
    return context.createDefinition(Entry(variableDef, nullptr, nullptr), type);
}

QHash<int, QString> DPDictLoader::getEnumDef(QString enumDefId)
{
    const QDomElement enumDef = findEnumDef(enumDefId);
    return enumDef.isNull() ? QHash<int, QString>() : enumTableOf(enumDef);
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

void DPDictLoader::keepEnumDefs(const QVector<QDomElement>& enumDefs)
{
    // Keeps the id, and per Enum child the value text and the label, of every EnumDef in
    // document order: all that getEnumDef and getIndexEnumDef read.
    QDomDocument copies;
    QDomElement holder = copies.createElement(enumDefNode + QLatin1String("s"));
    copies.appendChild(holder);
    for (const QDomElement& enumDef : enumDefs) {
        QDomElement copy = copies.createElement(enumDefNode);
        if (enumDef.hasAttribute(idAttrName)) {
            copy.setAttribute(idAttrName, enumDef.attribute(idAttrName));
        }
        for (QDomNode node = enumDef.firstChild(); !node.isNull(); node = node.nextSibling()) {
            if (node.isElement() && node.nodeName() == enumElementName) {
                const QDomElement item = node.toElement();
                QDomElement itemCopy = copies.createElement(enumElementName);
                if (item.hasAttribute(valueAttrName)) {
                    itemCopy.setAttribute(valueAttrName, item.attribute(valueAttrName));
                }
                itemCopy.appendChild(copies.createTextNode(item.text()));
                copy.appendChild(itemCopy);
            }
        }
        holder.appendChild(copy);
    }
    // The old list lets go of the old copies before their document goes.
    m_enumDefs = holder.childNodes();
    m_enumDocument = copies;
}

} // namespace kivo
