#include "TestTables.h"

#include <kivo/measurement/MeasurementConversion.h>
#include <kivo/measurement/MeasurementConverter.h>
#include <kivo/measurement/MeasurementLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/measurement/MeasurementUnits.h>

#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

using namespace kivo;

namespace {

// One conversion, scale 2 and offset 7, as text: "id:src>dst@resolution,..." (resolution 1 if
// left out).
MeasurementConversion* conversion(const QString& text)
{
    const QString id = text.section(':', 0, 0);
    auto* conversion = (new MeasurementConversion)->_init(id, "label " + id, 2.0, 7);
    for (const QString& entry : text.section(':', 1).split(',', Qt::SkipEmptyParts)) {
        const QString pair = entry.section('@', 0, 0);
        conversion->addApplicableDefs(pair.section('>', 0, 0), pair.section('>', 1),
            entry.contains('@') ? entry.section('@', 1).toDouble() : 1.0);
    }
    return conversion;
}

MeasurementUnits* units(const QString& id, double scale, double resolution)
{
    return (new MeasurementUnits)->_init(id, "label " + id, scale, resolution);
}

QString describe(const MeasurementConverter* c)
{
    return QString::asprintf(
               "%g*%g+%d @%g ", c->getUnitScale(), c->getScale(), c->getOffset(), c->m_resolution)
        + c->m_label;
}

// The registry's contents, one definition a line, in key order.
QString describe(const MeasurementRegistry& registry)
{
    QStringList lines;
    const QMap<QString, QString> systems = registry.getSystems();
    for (auto it = systems.cbegin(); it != systems.cend(); ++it)
        lines << "system " + it.key() + '=' + it.value();
    for (const QString& id : registry.getUnitIds()) {
        const MeasurementUnits* u = registry.getUnits(id);
        lines << QString::asprintf("unit %s|%s|%g|%g", qUtf8Printable(id),
            qUtf8Printable(u->m_label), u->m_scale, u->m_resolution);
    }
    for (const QString& id : registry.getConversionIds()) {
        const MeasurementConversion* c = registry.getConversionById(id);
        lines << QString::asprintf("conversion %s|%s|%g|%g:", qUtf8Printable(id),
            qUtf8Printable(c->m_label), c->m_scale, double(c->m_offset));
        for (const MeasurementConversion::ApplicableDef& def : c->m_applicableDefs)
            lines.last()
                += def.srcUnitId + '>' + def.dstUnitId + QString::asprintf("@%g;", def.resolution);
    }
    return lines.join('\n');
}

int messageCount = 0;

} // namespace

class TestMeasurement : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString write(const QByteArray& content)
    {
        QFile file(m_dir.filePath("m.xml"));
        file.open(QIODevice::WriteOnly);
        file.write(content);
        return file.fileName();
    }

    // Loads a file and counts the messages written meanwhile.
    MeasurementRegistry* load(const QString& path, int* messages)
    {
        messageCount = 0;
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString&) { ++messageCount; });
        MeasurementRegistry* registry = MeasurementLoader::loadMeasurementRegistry(path);
        qInstallMessageHandler(previous);
        *messages = messageCount;
        return registry;
    }

private Q_SLOTS:
    // Rows: name|unit scale|scale|offset|resolution|raw|text; rows "from ..." read a display
    // value back.
    void toString_data() { addTableRows("measurement/display.txt"); }

    void toString()
    {
        QFETCH(QStringList, row);
        MeasurementConverter c;
        c._init(row[1].toDouble(), row[2].toDouble(), row[3].toInt(), row[4].toDouble(), {});
        if (row[0].startsWith("from ")) // display value, then raw value
            QVERIFY(qAbs(c.fromValue(row[5]) - row[6].toDouble()) < 1e-9);
        else
            QCOMPARE(
                c.toString(row[5]) + " " + c.toString(row[5].toDouble()), row[6] + " " + row[6]);
    }

    // Rows: name|conversion|conversions|found for U > msys.us and for msys.us > U;
    // name|converter|conversion|unit|converter (in a registry with unit U, scale 0.1, resolution
    // 0.01); name|applicable|conversion|pairs|applicable to each.
    void lookUps_data() { addTableRows("measurement/registry.txt"); }

    void lookUps()
    {
        QFETCH(QStringList, row);
        MeasurementRegistry registry;
        registry.addUnits(units("U", 0.1, 0.01));
        for (const QString& text : row[2].split(' '))
            registry.addConversion(conversion(text));
        if (row[1] == "applicable") {
            const MeasurementConversion* c = registry.getConversionById("c");
            QString applicable;
            for (const QString& pair : row[3].split(','))
                applicable
                    += c->isApplicable(pair.section('>', 0, 0), pair.section('>', 1)) ? '1' : '0';
            QCOMPARE(applicable, row[4]);
            return;
        }
        if (row[1] == "conversion") {
            const MeasurementConversion* found[] = { registry.getConversion("U", "msys.us"),
                registry.getConversion("msys.us", "U") };
            QCOMPARE((found[0] ? found[0]->m_id : "-") + ' ' + (found[1] ? found[1]->m_id : "-"),
                row[3]);
            return;
        }
        MeasurementConverter* converter = registry.getConverter(row[3]);
        QCOMPARE(describe(converter), row[4]);
        registry.addConversion(conversion("C9:" + row[3] + ">msys.us")); // made once, not rebuilt
        QCOMPARE(registry.getConverter(row[3]), converter);
        QCOMPARE(describe(converter), row[4]);
    }

    void registryOwnership()
    {
        auto* registry = new MeasurementRegistry;
        QPointer<MeasurementUnits> first(units("U", 0.1, 0.1));
        QPointer<MeasurementConversion> c1(conversion("C1:U>msys.us"));
        for (const char* system : { "msys.us|US", "msys.si|SI", "msys.us|US customary" })
            registry->addSystem(
                QString(system).section('|', 0, 0), QString(system).section('|', 1));
        for (int i = 0; i < 2; ++i) { // the same object twice is kept
            registry->addUnits(first);
            registry->addConversion(c1);
        }
        registry->addConversion(conversion("a"));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(describe(*registry),
            "system msys.si=SI\nsystem msys.us=US customary\nunit U|label U|0.1|0.1\n"
            "conversion C1|label C1|2|7:U>msys.us@1;\nconversion a|label a|2|7:");
        // A replaced object is deleted later, from the event loop; the registry owns the rest.
        QPointer<MeasurementUnits> second(units("U", 0.01, 0.1));
        registry->addUnits(second);
        registry->addConversion(conversion("C1:V>msys.us"));
        QVERIFY(registry->getUnits("U") == second && second->parent() == registry && first && c1);
        QTRY_VERIFY(!first && !c1);
        QPointer<MeasurementConverter> converter(registry->getConverter("U"));
        QPointer<MeasurementConverter> unknown(registry->getConverter("X"));
        QVERIFY(converter && unknown && converter != unknown);
        delete registry;
        QVERIFY(!converter && !unknown && !second);
    }

    // Rows: name|messages written|body of <Measurements>|expected contents. An entry naming no
    // known conversion is reported ("NULLCHECK failed.") and dropped.
    void load_data() { addTableRows("measurement/load.txt"); }

    void load()
    {
        QFETCH(QStringList, row);
        int messages = -1;
        const QString xml
            = row[2].startsWith("<?xml") ? row[2] : "<Measurements>" + row[2] + "</Measurements>";
        std::unique_ptr<MeasurementRegistry> registry(load(write(xml.toUtf8()), &messages));
        QVERIFY(registry && !registry->parent());
        QCOMPARE(describe(*registry), row.mid(3).join('|'));
        QCOMPARE(messages, row[1].toInt());
    }

    // Rows: name|file|content ("-": not written)|message (%1 is the path).
    void failures_data() { addTableRows("measurement/failures.txt"); }

    void failures()
    {
        QFETCH(QStringList, row);
        const QString path = row[2] == "-" ? m_dir.filePath(row[1]) : write(row[2].toUtf8());
        // The debug stream escapes a quotation mark inside the quoted message.
        QTest::ignoreMessage(
            QtCriticalMsg, qPrintable(row[3].arg(QString(path).replace('"', "\\\""))));
        QCOMPARE(MeasurementLoader::loadMeasurementRegistry(path), nullptr);
    }

    // Rows: name|display system (empty: as loaded)|every unit of the bundled sample, shown at raw
    // 235 (-400 for tenths of a degree).
    void bundledSample_data() { addTableRows("measurement/sample.txt"); }

    void bundledSample()
    {
        QFETCH(QStringList, row);
        int messages = -1;
        std::unique_ptr<MeasurementRegistry> registry(
            load(KIVO_SAMPLE_DATA_DIR "/measurements.xml", &messages));
        QVERIFY(registry && messages == 0);
        if (!row[1].isEmpty())
            registry->setDisplaySystemId(row[1]);
        QStringList shown;
        for (const QString& unit : registry->getUnitIds()) {
            const MeasurementConverter* c = registry->getConverter(unit);
            shown << unit + ':' + c->toString(unit == "degC_x10" ? -400 : 235) + ' ' + c->m_label
                    + '@' + QString::number(c->m_resolution);
        }
        QCOMPARE(shown.join(", "), row[2]);
    }

    void displaySystemSwitch()
    {
        MeasurementRegistry registry;
        registry.addUnits(units("U", 0.1, 0.5));
        registry.addConversion(conversion("C1:U>msys.us@0.1"));
        registry.addConversion(conversion("C2:U>msys.si@0.01"));
        QSignalSpy changes(&registry, &MeasurementRegistry::displaySystemIdChanged);
        QCOMPARE(registry.getDisplaySystemId(), "msys.us");
        MeasurementConverter* us = registry.getConverter("U");
        QCOMPARE(describe(us), "0.1*2+7 @0.1 label C1");

        registry.setDisplaySystemId("msys.si");
        registry.setDisplaySystemId("msys.si"); // no change, no signal
        QCOMPARE(registry.getDisplaySystemId(), "msys.si");
        MeasurementConverter* si = registry.getConverter("U");
        QCOMPARE(describe(si), "0.1*2+7 @0.01 label C2");
        // Converters handed out earlier stay valid and keep converting into their system.
        QCOMPARE(describe(us), "0.1*2+7 @0.1 label C1");

        registry.setDisplaySystemId("msys.none"); // no conversion: the unit's own scale
        QCOMPARE(describe(registry.getConverter("U")), "0.1*1+0 @0.5 ");
        registry.setDisplaySystemId(QString()); // back to the default, the same converter
        QCOMPARE(registry.getConverter("U"), us);
        registry.setDisplaySystemId("msys.si");
        QCOMPARE(registry.getConverter("U"), si);

        QCOMPARE(changes.size(), 4);
        QStringList ids;
        for (const QList<QVariant>& change : qAsConst(changes))
            ids << change.at(0).toString();
        QCOMPARE(ids.join(' '), "msys.si msys.none msys.us msys.si");
    }

    // Converters asked for by eight threads, every other one walking backwards, while another
    // thread switches back and forth: each converts into one of the two systems, completely,
    // each unit has one converter per system, and the last switch decides what follows.
    void concurrentConverters()
    {
        for (int round = 0; round < 50; ++round) {
            MeasurementRegistry registry;
            for (int i = 0; i < 40; ++i) {
                registry.addConversion(conversion(QString("A%1:%1>msys.us@0.5").arg(i)));
                registry.addConversion(conversion(QString("B%1:%1>msys.si@0.25").arg(i)));
            }
            std::atomic<bool> go { false }, done { false };
            std::atomic<int> wrong { 0 };
            const MeasurementConverter* seen[8][2][40] = {};
            std::vector<std::thread> threads;
            for (int t = 0; t < 8; ++t) {
                threads.emplace_back([&, t] {
                    while (!go)
                        std::this_thread::yield();
                    do {
                        for (int k = 0; k < 40; ++k) {
                            const int u = t % 2 ? 39 - k : k;
                            const MeasurementConverter* c
                                = registry.getConverter(QString::number(u));
                            const bool si = c->m_resolution == 0.25;
                            const MeasurementConverter*& first = seen[t][si][u];
                            wrong += c->m_label != QString(si ? "label B%1" : "label A%1").arg(u)
                                || (!si && c->m_resolution != 0.5) || (first && first != c);
                            first = c;
                        }
                    } while (!done);
                });
            }
            threads.emplace_back([&] {
                while (!go)
                    std::this_thread::yield();
                for (int i = 0; i < 200; ++i)
                    registry.setDisplaySystemId(i % 2 ? "msys.us" : "msys.si");
                done = true;
            });
            go = true;
            for (std::thread& thread : threads)
                thread.join();
            QCOMPARE(wrong.load(), 0);
            QCOMPARE(registry.getDisplaySystemId(), "msys.us");
            for (int si : { 0, 1 }) {
                registry.setDisplaySystemId(si ? "msys.si" : "msys.us");
                for (int i = 0; i < 8 * 40; ++i) {
                    const MeasurementConverter* c = registry.getConverter(QString::number(i / 8));
                    QVERIFY(c->m_resolution == (si ? 0.25 : 0.5));
                    QVERIFY(!seen[i % 8][si][i / 8] || seen[i % 8][si][i / 8] == c);
                }
            }
        }
    }

    // The findings name what was passed over, line by line; they change nothing loaded, and a
    // file that cannot be parsed gives none.
    void findings()
    {
        QVector<LoadFinding> sampleFindings { LoadFinding() };
        std::unique_ptr<MeasurementRegistry> sample(MeasurementLoader::loadMeasurementRegistry(
            KIVO_SAMPLE_DATA_DIR "/measurements.xml", &sampleFindings));
        QVERIFY(sample && sampleFindings.isEmpty());
        const QString path = write("<M>\n<MSystemDef id=\"msys.us\"/>\n"
                                   "<MUnitDef id=\"rpm\" ID=\"x\"><Label>rpm</Label>\n"
                                   "<Scael>1</Scael><Resolution>one</Resolution></MUnitDef>\n"
                                   "<MUnitConverter id=\"c\"><Scale>0</Scale><Offset>2.5</Offset>"
                                   "</MUnitConverter>\n<MUnitDef2Converter><ConverterId>c"
                                   "</ConverterId><SrcMUnitId>rpm</SrcMUnitId>\n"
                                   "<DstMUnitId>msys.si</DstMUnitId></MUnitDef2Converter>\n"
                                   "<MUnitDfe id=\"rps\"/>\n</M>\n");
        QVector<LoadFinding> findings;
        std::unique_ptr<MeasurementRegistry> registry(
            MeasurementLoader::loadMeasurementRegistry(path, &findings));
        QVERIFY(registry && registry->getUnits("rpm") && registry->getConversionById("c"));
        QStringList texts;
        for (const LoadFinding& finding : findings)
            texts << finding.toString().mid(path.size());
        QCOMPARE(texts.join('\n'),
            ":3: warning: unknown attribute ID on MUnitDef \"rpm\" is not read; did you mean id?\n"
            ":3: error: MUnitDef \"rpm\" has no Scale, which reads as 0: every value of the unit "
            "converts to 0\n"
            ":4: warning: unknown element <Scael> in MUnitDef \"rpm\" is not read; did you mean "
            "<Scale>?\n"
            ":4: warning: Resolution \"one\" of MUnitDef \"rpm\" is not a number; it reads as 0\n"
            ":5: error: MUnitConverter \"c\" has a Scale of 0: every value it converts becomes its "
            "Offset\n"
            ":5: warning: Offset \"2.5\" of MUnitConverter \"c\" is not a whole number; it "
            "reads as 0\n"
            ":7: warning: MUnitDef2Converter of \"c\" names neither a MUnitDef nor a MSystemDef "
            "\"msys.si\" as its DstMUnitId\n"
            ":8: warning: unknown element <MUnitDfe> is not read; did you mean <MUnitDef>?");
        QTest::ignoreMessage(QtCriticalMsg, qPrintable("\"PXC parsing failure '" + path + "'\""));
        write("<M>");
        QVERIFY(!MeasurementLoader::loadMeasurementRegistry(path, &findings));
        QVERIFY(findings.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestMeasurement)

#include "tst_measurement.moc"
