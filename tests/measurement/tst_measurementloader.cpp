#include <kivo/measurement/MeasurementConversion.h>
#include <kivo/measurement/MeasurementConverter.h>
#include <kivo/measurement/MeasurementLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/measurement/MeasurementUnits.h>

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using kivo::MeasurementConversion;
using kivo::MeasurementConverter;
using kivo::MeasurementLoader;
using kivo::MeasurementRegistry;
using kivo::MeasurementUnits;

namespace {

QString document(const QString& body)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Measurements>\n") + body
        + QStringLiteral("\n</Measurements>\n");
}

// The registry's contents, one definition per line, in key order.
QString describe(const MeasurementRegistry& registry)
{
    QStringList lines;
    const QMap<QString, QString> systems = registry.getSystems();
    for (auto it = systems.cbegin(); it != systems.cend(); ++it)
        lines << QStringLiteral("system %1=%2").arg(it.key(), it.value());
    for (const QString& id : registry.getUnitIds()) {
        const MeasurementUnits* units = registry.getUnits(id);
        lines << QStringLiteral("unit %1|%2|%3|%4")
                     .arg(units->m_id, units->m_label)
                     .arg(units->m_scale)
                     .arg(units->m_resolution);
    }
    for (const QString& id : registry.getConversionIds()) {
        const MeasurementConversion* conversion = registry.getConversionById(id);
        QStringList entries;
        for (const MeasurementConversion::ApplicableDef& def : conversion->m_applicableDefs)
            entries
                << QStringLiteral("%1>%2@%3").arg(def.srcUnitId, def.dstUnitId).arg(def.resolution);
        lines << QStringLiteral("conversion %1|%2|%3|%4:%5")
                     .arg(conversion->m_id, conversion->m_label)
                     .arg(conversion->m_scale)
                     .arg(conversion->m_offset)
                     .arg(entries.join(QLatin1Char(';')));
    }
    return lines.join(QLatin1Char('\n'));
}

// Counts the messages written while it lives; restores the previous handler afterwards.
class MessageCounter
{
public:
    MessageCounter()
    {
        s_count = 0;
        m_previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString&) { ++s_count; });
    }
    ~MessageCounter() { qInstallMessageHandler(m_previous); }
    int count() const { return s_count; }

private:
    static int s_count;
    QtMessageHandler m_previous = nullptr;
};

int MessageCounter::s_count = 0;

} // namespace

class TestMeasurementLoader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void load_data();
    void load();
    void leadingBlankDoesNotMatch();
    void entryMakesDisplayConverter();
    void missingConversion_data();
    void missingConversion();
    void failures_data();
    void failures();
    void bundledSample_data();
    void bundledSample();

private:
    QString writeFile(const QString& name, const QByteArray& content);

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestMeasurementLoader::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QString TestMeasurementLoader::writeFile(const QString& name, const QByteArray& content)
{
    const QString path = m_dir->filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return QString();
    return path;
}

void TestMeasurementLoader::load_data()
{
    QTest::addColumn<QString>("xml");
    QTest::addColumn<QString>("expected");

    const QString unitKPa = QStringLiteral(
        "<MUnitDef id=\"kPa\"><Label>kPa</Label><Scale>1</Scale><Resolution>0.1</Resolution>"
        "</MUnitDef>");

    QTest::newRow("no definitions") << document("<Other><Label>x</Label></Other>") << "";
    QTest::newRow("systems") << document("<MSystemDef id=\"msys.si\"><Label>SI</Label></MSystemDef>"
                                         "<MSystemDef id=\"msys.us\"/>")
                             << "system msys.si=SI\nsystem msys.us=";
    QTest::newRow("unit inside a system")
        << document("<MSystemDef id=\"msys.si\"><Label>SI</Label>" + unitKPa + "</MSystemDef>")
        << "system msys.si=SI\nunit kPa|kPa|1|0.1";
    QTest::newRow("unit at any depth")
        << document("<a><b><c>" + unitKPa + "</c></b></a>") << "unit kPa|kPa|1|0.1";
    QTest::newRow("unit 1000 levels deep") << document(
        QStringLiteral("<a>").repeated(1000) + unitKPa + QStringLiteral("</a>").repeated(1000))
                                           << "unit kPa|kPa|1|0.1";
    QTest::newRow("unit without scale and resolution")
        << document("<MUnitDef id=\"u\"/>") << "unit u||0|0";
    QTest::newRow("missing id attribute")
        << document("<MUnitDef><Label>L</Label></MUnitDef>") << "unit |L|0|0";
    QTest::newRow("white space around numbers, exponent") << document(
        "<MUnitDef id=\"u\"><Scale> 1.5e1 </Scale><Resolution>\n0.25\n</Resolution>"
        "</MUnitDef>") << "unit u||15|0.25";
    QTest::newRow("text that is no number reads as 0")
        << document("<MUnitDef id=\"u\"><Scale>1,5</Scale><Resolution>fine</Resolution></MUnitDef>")
        << "unit u||0|0";
    QTest::newRow("ids and labels keep white space")
        << document(QString::fromUtf8("<MUnitDef id=\" u \"><Label> \u00b0C </Label></MUnitDef>"))
        << QString::fromUtf8("unit  u | \u00b0C |0|0");
    QTest::newRow("first direct Label child") << document(
        "<MUnitDef id=\"u\"><Wrap><Label>inner</Label></Wrap><Label>first</Label>"
        "<Label>second</Label></MUnitDef>") << "unit u|first|0|0";
    QTest::newRow("label is the whole text content")
        << document("<MUnitDef id=\"m3h\"><Label>m<sup>3</sup>/h</Label></MUnitDef>")
        << "unit m3h|m3/h|0|0";
    QTest::newRow("later unit replaces earlier")
        << document("<MUnitDef id=\"u\"><Label>old</Label></MUnitDef>"
                    "<MUnitDef id=\"u\"><Label>new</Label></MUnitDef>")
        << "unit u|new|0|0";
    QTest::newRow("offsets") << document(
        "<MUnitConverter id=\"a\"><Scale>1</Scale><Offset>2.5</Offset></MUnitConverter>"
        "<MUnitConverter id=\"b\"><Scale>1.8</Scale><Offset>-40</Offset></MUnitConverter>"
        "<MUnitConverter id=\"c\"><Offset> 12 </Offset></MUnitConverter>"
        "<MUnitConverter id=\"d\"><Offset>x</Offset></MUnitConverter>"
        "<MUnitConverter id=\"e\"><Label>F</Label></MUnitConverter>")
                             << "conversion a||1|0:\nconversion b||1.8|-40:\nconversion c||0|12:\n"
                                "conversion d||0|0:\nconversion e|F|0|0:";
    QTest::newRow("entry before its conversion") << document(
        "<MUnitDef2Converter><ConverterId>c</ConverterId><SrcMUnitId>degC</SrcMUnitId>"
        "<DstMUnitId>msys.us</DstMUnitId><Resolution>0.5</Resolution>"
        "</MUnitDef2Converter>"
        "<MUnitConverter id=\"c\"><Label>F</Label><Scale>1.8</Scale>"
        "<Offset>32</Offset></MUnitConverter>") << "conversion c|F|1.8|32:degC>msys.us@0.5";
    QTest::newRow("entries go to the conversion that finally holds the id")
        << document("<MUnitConverter id=\"c\"><Scale>1</Scale></MUnitConverter>"
                    "<MUnitDef2Converter><ConverterId>c</ConverterId><SrcMUnitId>a</SrcMUnitId>"
                    "<DstMUnitId>b</DstMUnitId><Resolution>1</Resolution></MUnitDef2Converter>"
                    "<MUnitConverter id=\"c\"><Scale>2</Scale></MUnitConverter>"
                    "<MUnitDef2Converter><ConverterId>c</ConverterId><SrcMUnitId>a</SrcMUnitId>"
                    "<DstMUnitId>b</DstMUnitId><Resolution>2</Resolution></MUnitDef2Converter>")
        << "conversion c||2|0:a>b@1;a>b@2";
    QTest::newRow("entry fields kept as written")
        << document("<MUnitConverter id=\"c\"/>"
                    "<MUnitDef2Converter><ConverterId>c</ConverterId><SrcMUnitId> degC</SrcMUnitId>"
                    "<DstMUnitId>msys.us </DstMUnitId></MUnitDef2Converter>")
        << "conversion c||0|0: degC>msys.us @0";
    QTest::newRow("document element is not a definition")
        << QStringLiteral("<MUnitDef id=\"root\"><MUnitDef id=\"inner\"/></MUnitDef>")
        << "unit inner||0|0";
    QTest::newRow("prefixed names are other elements")
        << document("<m:MUnitDef xmlns:m=\"urn:example\" id=\"u\"/>") << "";
    QTest::newRow("Windows line endings")
        << document("<MUnitDef id=\"u\">\r\n<Label>V</Label>\r\n<Scale>0.1</Scale>\r\n"
                    "<Resolution>0.1</Resolution>\r\n</MUnitDef>")
        << "unit u|V|0.1|0.1";
    QTest::newRow("CR LF inside a label reads as LF")
        << document("<MUnitDef id=\"u\"><Label>deg\r\nF</Label></MUnitDef>") << "unit u|deg\nF|0|0";
}

void TestMeasurementLoader::load()
{
    QFETCH(QString, xml);
    QFETCH(QString, expected);

    const QString path = writeFile(QStringLiteral("m.xml"), xml.toUtf8());
    QVERIFY(!path.isEmpty());
    std::unique_ptr<MeasurementRegistry> registry;
    {
        MessageCounter messages;
        registry.reset(MeasurementLoader::loadMeasurementRegistry(path));
        QCOMPARE(messages.count(), 0);
    }
    QVERIFY(registry);
    QCOMPARE(registry->parent(), nullptr);
    QCOMPARE(describe(*registry), expected);
}

void TestMeasurementLoader::leadingBlankDoesNotMatch()
{
    const QString path = writeFile(QStringLiteral("m.xml"),
        document("<MUnitDef id=\"degC\"><Scale>1</Scale><Resolution>1</Resolution></MUnitDef>"
                 "<MUnitConverter id=\"c\"><Label>F</Label><Scale>1.8</Scale><Offset>32</Offset>"
                 "</MUnitConverter>"
                 "<MUnitDef2Converter><ConverterId>c</ConverterId><SrcMUnitId> degC</SrcMUnitId>"
                 "<DstMUnitId>msys.us</DstMUnitId><Resolution>0.1</Resolution>"
                 "</MUnitDef2Converter>")
            .toUtf8());
    std::unique_ptr<MeasurementRegistry> registry(MeasurementLoader::loadMeasurementRegistry(path));
    QVERIFY(registry);
    QCOMPARE(registry->getConversion(QStringLiteral("degC"), QStringLiteral("msys.us")), nullptr);
    MeasurementConverter* converter = registry->getConverter(QStringLiteral("degC"));
    QCOMPARE(converter->m_label, QString());
    QCOMPARE(converter->toString(20), QStringLiteral("20"));
}

void TestMeasurementLoader::entryMakesDisplayConverter()
{
    const QString path = writeFile(QStringLiteral("m.xml"),
        document("<MUnitDef2Converter><ConverterId>c</ConverterId><SrcMUnitId>degC_x10</SrcMUnitId>"
                 "<DstMUnitId>msys.us</DstMUnitId><Resolution>0.1</Resolution>"
                 "</MUnitDef2Converter>"
                 "<MSystemDef id=\"msys.us\"><Label>US</Label>"
                 "<MUnitDef id=\"degC_x10\"><Label>C</Label><Scale>0.1</Scale>"
                 "<Resolution>1</Resolution></MUnitDef></MSystemDef>"
                 "<MUnitConverter id=\"c\"><Label>F</Label><Scale>1.8</Scale><Offset>32</Offset>"
                 "</MUnitConverter>")
            .toUtf8());
    std::unique_ptr<MeasurementRegistry> registry(MeasurementLoader::loadMeasurementRegistry(path));
    QVERIFY(registry);
    MeasurementConverter* converter = registry->getConverter(QStringLiteral("degC_x10"));
    QCOMPARE(converter->m_label, QStringLiteral("F"));
    QCOMPARE(converter->m_resolution, 0.1);
    QCOMPARE(converter->toString(235), QStringLiteral("74.3"));
    QCOMPARE(converter->toString(-400), QStringLiteral("-40.0"));
}

void TestMeasurementLoader::missingConversion_data()
{
    QTest::addColumn<QStringList>("converterIds");
    QTest::addColumn<int>("reports");
    QTest::addColumn<QString>("expected");

    QTest::newRow("unknown id") << QStringList { "nosuch", "c" } << 1
                                << "conversion c||1|0:u>msys.us@1";
    QTest::newRow("missing ConverterId and wrong case")
        << QStringList { "", "C", "c", " c" } << 3 << "conversion c||1|0:u>msys.us@1";
}

void TestMeasurementLoader::missingConversion()
{
    QFETCH(QStringList, converterIds);
    QFETCH(int, reports);
    QFETCH(QString, expected);

    QString body = QStringLiteral("<MUnitConverter id=\"c\"><Scale>1</Scale></MUnitConverter>");
    for (const QString& id : converterIds) {
        const QString idElement
            = id.isEmpty() ? QString() : QStringLiteral("<ConverterId>%1</ConverterId>").arg(id);
        body += QStringLiteral("<MUnitDef2Converter>%1<SrcMUnitId>u</SrcMUnitId>"
                               "<DstMUnitId>msys.us</DstMUnitId><Resolution>1</Resolution>"
                               "</MUnitDef2Converter>")
                    .arg(idElement);
    }
    const QString path = writeFile(QStringLiteral("m.xml"), document(body).toUtf8());
    for (int i = 0; i < reports; ++i)
        QTest::ignoreMessage(QtCriticalMsg, "NULLCHECK failed.");
    std::unique_ptr<MeasurementRegistry> registry(MeasurementLoader::loadMeasurementRegistry(path));
    QVERIFY(registry);
    QCOMPARE(describe(*registry), expected);
}

void TestMeasurementLoader::failures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("message");

    QByteArray deep;
    const int depth = 200000;
    deep.reserve(depth * 7 + 16);
    for (int i = 0; i < depth; ++i)
        deep += "<a>";
    for (int i = 0; i < depth; ++i)
        deep += "</a>";

    // name: file to write (content given), a path not written (content null), or "." for the
    // directory itself. %1 in the message stands for the path.
    QTest::newRow("missing file") << "missing.xml" << QByteArray()
                                  << "\"PXC open failure '%1': No such file or directory\"";
    QTest::newRow("quote in the path is escaped")
        << "mis\"sing.xml" << QByteArray()
        << "\"PXC open failure '%1': No such file or directory\"";
    QTest::newRow("directory") << "." << QByteArray()
                               << "\"PXC open failure '%1': file to open is a directory\"";
    QTest::newRow("syntax error") << "m.xml"
                                  << QByteArray("<Measurements><MUnitDef id=\"u\"></Measurements>")
                                  << "\"PXC parsing failure '%1'\"";
    QTest::newRow("empty file") << "m.xml" << QByteArray("") << "\"PXC parsing failure '%1'\"";
    QTest::newRow("plain text") << "m.xml" << QByteArray("degC 0.1")
                                << "\"PXC parsing failure '%1'\"";
    QTest::newRow("two document elements")
        << "m.xml" << QByteArray("<a/><b/>") << "\"PXC parsing failure '%1'\"";
    QTest::newRow("nested too deeply") << "m.xml" << deep << "\"PXC parsing failure '%1'\"";
}

void TestMeasurementLoader::failures()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, message);

    QString path;
    if (name == QLatin1String("."))
        path = m_dir->path();
    else if (content.isNull())
        path = m_dir->filePath(name);
    else
        path = writeFile(name, content);
    QVERIFY(!path.isEmpty());

    // The debug stream escapes a double quote inside a quoted string.
    QString shownPath = path;
    shownPath.replace(QLatin1Char('"'), QLatin1String("\\\""));
    QTest::ignoreMessage(QtCriticalMsg, qPrintable(message.arg(shownPath)));
    QCOMPARE(MeasurementLoader::loadMeasurementRegistry(path), nullptr);
}

void TestMeasurementLoader::bundledSample_data()
{
    QTest::addColumn<QString>("unitId");
    QTest::addColumn<QVariant>("raw");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("label");
    QTest::addColumn<double>("resolution");

    const QString degF = QString::fromUtf8("\u00b0F");
    QTest::newRow("degC_x10") << "degC_x10" << QVariant(235) << "74.3" << degF << 0.1;
    QTest::newRow("degC_x10 below zero") << "degC_x10" << QVariant(-400) << "-40.0" << degF << 0.1;
    QTest::newRow("degC") << "degC" << QVariant(20) << "68" << degF << 1.0;
    QTest::newRow("kPa") << "kPa" << QVariant(100) << "14.5"
                         << "psi" << 0.1;
    QTest::newRow("bar_x100") << "bar_x100" << QVariant(250) << "36.3"
                              << "psi" << 0.1;
    QTest::newRow("lps_x10") << "lps_x10" << QVariant(125) << "198.1"
                             << "gpm" << 0.1;
    QTest::newRow("m3h") << "m3h" << QVariant(45) << "198"
                         << "gpm" << 1.0;
    QTest::newRow("volts") << "volts" << QVariant(230) << "230.0"
                           << "V" << 0.1;
    QTest::newRow("kW") << "kW" << QVariant(12) << "40.9"
                        << "kBtu/h" << 0.1;
    QTest::newRow("percent") << "percent" << QVariant(55) << "55" << QStringLiteral("%") << 1.0;
    QTest::newRow("seconds") << "seconds" << QVariant(90) << "90" << QStringLiteral("s") << 1.0;
    QTest::newRow("minutes") << "minutes" << QVariant(15) << "15" << QStringLiteral("min") << 1.0;
    QTest::newRow("hours") << "hours" << QVariant(8760) << "8760" << QStringLiteral("h") << 1.0;
    QTest::newRow("rpm") << "rpm" << QVariant(1450) << "1450" << QStringLiteral("rpm") << 1.0;
}

void TestMeasurementLoader::bundledSample()
{
    QFETCH(QString, unitId);
    QFETCH(QVariant, raw);
    QFETCH(QString, text);
    QFETCH(QString, label);
    QFETCH(double, resolution);

    std::unique_ptr<MeasurementRegistry> registry;
    {
        MessageCounter messages;
        registry.reset(MeasurementLoader::loadMeasurementRegistry(
            QStringLiteral(KIVO_SAMPLE_DATA_DIR "/measurements.xml")));
        QCOMPARE(messages.count(), 0);
    }
    QVERIFY(registry);
    QCOMPARE(registry->getSystems().keys(), (QStringList { "msys.si", "msys.us" }));
    QCOMPARE(registry->getUnitIds(),
        (QStringList { "bar_x100", "degC", "degC_x10", "hours", "kPa", "kW", "lps_x10", "m3h",
            "minutes", "percent", "rpm", "seconds", "volts" }));

    QVERIFY(registry->getUnits(unitId));
    MeasurementConverter* converter = registry->getConverter(unitId);
    QCOMPARE(converter->toString(raw), text);
    QCOMPARE(converter->m_label, label);
    QCOMPARE(converter->m_resolution, resolution);
}

QTEST_GUILESS_MAIN(TestMeasurementLoader)
#include "tst_measurementloader.moc"
