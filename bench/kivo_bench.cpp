// Benchmarks of the library's hot paths, each next to a floor measured in the same process:
// what the same work costs when done with bare Qt. After the benchmarks have run, the ratios to
// the floors are printed one per line ("ratio <figure> <value> ..."), with the goal of each.

#include "BenchObjects.h"
#include "DictionaryGenerator.h"
#include "MemoryProbe.h"

#include <kivo/core/TopicLogger.h>
#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/loader/DPDictLoader.h>
#include <kivo/measurement/MeasurementConverter.h>
#include <kivo/measurement/MeasurementLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/points/DPointObject.h>
#include <kivo/points/DPointProvider.h>
#include <kivo/types/DPTypeEnum.h>
#include <kivo/types/DPTypeEvent.h>
#include <kivo/types/DPTypeIPv4.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>
#include <kivo/types/DPTypeString.h>
#include <kivo/types/DPTypeTime.h>

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDomDocument>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

using namespace kivo;
using namespace kivo::bench;
using namespace kivo::test;

namespace {

constexpr int providerPoints = 100000;

struct Context
{
    QVector<int> sizes;
    bool measureMemory = true;
    std::map<int, GeneratedDictionary> files;
    MeasurementRegistry* registry = nullptr;
    // The 20,000-point dictionary, loaded once for the JSON benchmarks.
    DPointDictionary* jsonDictionary = nullptr;
    QList<DPointDef*> jsonDefs;
};

Context& context()
{
    static Context c;
    return c;
}

// ---------------------------------------------------------------------------------------------
// Dictionary loading

void BM_QDomSetContent(benchmark::State& state, const GeneratedDictionary* file)
{
    for (auto _ : state) {
        QFile source(file->path);
        source.open(QIODevice::ReadOnly | QIODevice::Text);
        QDomDocument document;
        const bool parsed = document.setContent(&source, false);
        benchmark::DoNotOptimize(parsed);
    }
    state.SetItemsProcessed(state.iterations() * file->points);
    state.SetBytesProcessed(state.iterations() * file->bytes);
}

void BM_Load(benchmark::State& state, const GeneratedDictionary* file)
{
    DPDictLoader loader(nullptr, nullptr, context().registry);
    // One untimed load first, so that every timed load finds the heap as a load left it,
    // whichever benchmark ran before: a load right after the 2 GB DOM floor, which hands its
    // memory back to the system, pays some 60,000 fresh page faults that a load after a load
    // does not. The floor needs no such round: its fastest runs are the ones on a heap handed
    // back.
    delete loader.load(file->path, QStringLiteral("bench"));
    for (auto _ : state) {
        DPointDictionary* dictionary = loader.load(file->path, QStringLiteral("bench"));
        state.PauseTiming();
        if (!dictionary || dictionary->getAllDefs().size() != file->points)
            state.SkipWithError("the dictionary did not load completely");
        delete dictionary;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * file->points);
    state.SetBytesProcessed(state.iterations() * file->bytes);
}

// ---------------------------------------------------------------------------------------------
// JSON description of definitions

// The JSON text of a definition by the plain successive-substitution rule: every template
// filled by one QString::arg call per marker, in marker order. The reference for the check and
// the cost of the unoptimised rule.
QString referenceTypeJson(const DPointDef* def)
{
    const QString number = QStringLiteral(
        "\"type\":\"int\", \"default\":%1, \"min\":%2, \"max\":%3, \"resolution\":%4, "
        "\"unitsLabel\":\"%5\"");
    const QString real = QStringLiteral(
        "\"type\":\"qreal\", \"default\":%1, \"min\":%2, \"max\":%3, \"resolution\":%4, "
        "\"unitsLabel\":\"%5\"");
    const QString enumeration
        = QStringLiteral("\"type\":\"enum\", \"default\":%1, \"values\":[%2]");
    const QString enumEntry = QStringLiteral("{\"id\":%1 ,\"name\":\"%2\"}");
    const QString event = QStringLiteral(
        "\"type\":\"event\", \"id\":%1, \"desc\":\"%2\", \"expl\":\"%3\", \"etype\":%4, "
        "\"atype\":%5, \"rtype\":%6, \"avs\":%7");
    const QString associated
        = QStringLiteral("{ \"type\":\"%1\", \"id\":\"%2\", \"access\":\"%3\" }");
    const QString text = QStringLiteral(
        "\"type\":\"text\", \"default\":\"%1\", \"charSet\":\"%2\", \"format\":\"%3\", "
        "\"maxLen\":%4");
    const QString ipv4 = QStringLiteral("\"type\":\"ipv4\", \"default\":\"%1\"");
    const QString time = QStringLiteral("\"type\":\"time\", \"epoch\":%1");
    const QString definition
        = QStringLiteral("\"variableName\":\"%1\", \"externalName\":\"%2\", \"lineId\":\"%3\", "
                         "\"access\":\"%4%5\"");

    QString typeText;
    if (const auto* n = qobject_cast<const DPTypeNumber*>(def->m_type)) {
        if (def->m_registry) {
            const MeasurementConverter* c = def->m_registry->getConverter(n->m_units);
            typeText = number.arg(n->m_default.toInt())
                           .arg(c->toString(QVariant(n->m_min)))
                           .arg(c->toString(QVariant(n->m_max)))
                           .arg(c->m_resolution, 0, 'g', -1)
                           .arg(c->m_label);
        } else {
            typeText = number.arg(n->m_default.toInt())
                           .arg(n->m_min)
                           .arg(n->m_max)
                           .arg(1)
                           .arg(n->m_unitsLabel);
        }
    } else if (const auto* r = qobject_cast<const DPTypeReal*>(def->m_type)) {
        bool ok = false;
        double d = r->m_default.toReal(&ok);
        if (!ok)
            d = 0.0;
        typeText = real.arg(d, 0, 'g', -1)
                       .arg(r->m_min, 0, 'g', -1)
                       .arg(r->m_max, 0, 'g', -1)
                       .arg(1)
                       .arg(r->m_unitsLabel);
    } else if (const auto* e = qobject_cast<const DPTypeEnum*>(def->m_type)) {
        QList<int> keys = e->m_values.keys();
        std::sort(keys.begin(), keys.end());
        QString entries;
        for (int key : qAsConst(keys)) {
            if (!entries.isEmpty())
                entries += QLatin1Char(',');
            entries += enumEntry.arg(key).arg(e->m_values.value(key));
        }
        typeText = enumeration.arg(e->m_default).arg(entries);
    } else if (const auto* ev = qobject_cast<const DPTypeEvent*>(def->m_type)) {
        QString avs;
        for (auto it = ev->m_associatedVariables.cbegin(); it != ev->m_associatedVariables.cend();
             ++it) {
            const QStringList names = it.value()->names.simplified().split(QLatin1Char(' '));
            for (const QString& name : names) {
                avs += avs.isEmpty() ? QLatin1Char('[') : QLatin1Char(',');
                avs += associated.arg(it.key()).arg(name).arg(
                    it.value()->changeable ? QStringLiteral("W") : QStringLiteral("R"));
            }
        }
        avs = avs.isEmpty() ? QStringLiteral("[]") : avs + QLatin1Char(']');
        typeText = event.arg(ev->m_eventId)
                       .arg(ev->m_description)
                       .arg(ev->m_explanation)
                       .arg(static_cast<int>(ev->m_eventType))
                       .arg(static_cast<int>(ev->m_ackType))
                       .arg(static_cast<int>(ev->m_resetType))
                       .arg(avs);
    } else if (const auto* s = qobject_cast<const DPTypeString*>(def->m_type)) {
        typeText = text.arg(s->m_default)
                       .arg(jsonStringEscape(s->m_charSet))
                       .arg(s->m_format)
                       .arg(s->m_maxLen);
    } else if (const auto* ip = qobject_cast<const DPTypeIPv4*>(def->m_type)) {
        typeText = ipv4.arg(ip->m_default);
    } else if (const auto* t = qobject_cast<const DPTypeTime*>(def->m_type)) {
        typeText = time.arg(static_cast<int>(t->m_epoch));
    }
    if (!typeText.isEmpty())
        typeText += QLatin1String(", ");
    return QLatin1Char('{') + typeText
        + definition.arg(def->m_variableName)
              .arg(def->m_externalName)
              .arg(def->m_lineId)
              .arg(def->m_readable ? QStringLiteral("R") : QString())
              .arg(def->m_writable ? QStringLiteral("W") : QString())
        + QLatin1Char('}');
}

// A display value the way a converter computes it, without the text.
double displayValue(const MeasurementConverter* converter, double raw)
{
    const double y
        = raw * converter->getUnitScale() * converter->getScale() + converter->getOffset();
    const double exponent = std::log10(converter->m_resolution);
    if (std::isfinite(exponent) && exponent >= 0) {
        const double r = 1.0 / converter->m_resolution;
        return std::round(y * r) / r;
    }
    return y;
}

// The floor: the same members and values as a QJsonObject, written compact.
QByteArray qjsonTypeJson(const DPointDef* def)
{
    QJsonObject object;
    if (const auto* n = qobject_cast<const DPTypeNumber*>(def->m_type)) {
        const MeasurementConverter* c = def->m_registry->getConverter(n->m_units);
        object.insert(QStringLiteral("type"), QStringLiteral("int"));
        object.insert(QStringLiteral("default"), n->m_default.toInt());
        object.insert(QStringLiteral("min"), displayValue(c, n->m_min));
        object.insert(QStringLiteral("max"), displayValue(c, n->m_max));
        object.insert(QStringLiteral("resolution"), c->m_resolution);
        object.insert(QStringLiteral("unitsLabel"), c->m_label);
    } else if (const auto* r = qobject_cast<const DPTypeReal*>(def->m_type)) {
        object.insert(QStringLiteral("type"), QStringLiteral("qreal"));
        object.insert(QStringLiteral("default"), r->m_default.toReal());
        object.insert(QStringLiteral("min"), r->m_min);
        object.insert(QStringLiteral("max"), r->m_max);
        object.insert(QStringLiteral("resolution"), 1);
        object.insert(QStringLiteral("unitsLabel"), r->m_unitsLabel);
    } else if (const auto* e = qobject_cast<const DPTypeEnum*>(def->m_type)) {
        QList<int> keys = e->m_values.keys();
        std::sort(keys.begin(), keys.end());
        QJsonArray values;
        for (int key : qAsConst(keys)) {
            QJsonObject entry;
            entry.insert(QStringLiteral("id"), key);
            entry.insert(QStringLiteral("name"), e->m_values.value(key));
            values.append(entry);
        }
        object.insert(QStringLiteral("type"), QStringLiteral("enum"));
        object.insert(QStringLiteral("default"), e->m_default);
        object.insert(QStringLiteral("values"), values);
    } else if (const auto* ev = qobject_cast<const DPTypeEvent*>(def->m_type)) {
        QJsonArray avs;
        for (auto it = ev->m_associatedVariables.cbegin(); it != ev->m_associatedVariables.cend();
             ++it) {
            const QStringList names = it.value()->names.simplified().split(QLatin1Char(' '));
            for (const QString& name : names) {
                QJsonObject entry;
                entry.insert(QStringLiteral("type"), it.key());
                entry.insert(QStringLiteral("id"), name);
                entry.insert(QStringLiteral("access"),
                    it.value()->changeable ? QStringLiteral("W") : QStringLiteral("R"));
                avs.append(entry);
            }
        }
        object.insert(QStringLiteral("type"), QStringLiteral("event"));
        object.insert(QStringLiteral("id"), ev->m_eventId);
        object.insert(QStringLiteral("desc"), ev->m_description);
        object.insert(QStringLiteral("expl"), ev->m_explanation);
        object.insert(QStringLiteral("etype"), static_cast<int>(ev->m_eventType));
        object.insert(QStringLiteral("atype"), static_cast<int>(ev->m_ackType));
        object.insert(QStringLiteral("rtype"), static_cast<int>(ev->m_resetType));
        object.insert(QStringLiteral("avs"), avs);
    } else if (const auto* s = qobject_cast<const DPTypeString*>(def->m_type)) {
        object.insert(QStringLiteral("type"), QStringLiteral("text"));
        object.insert(QStringLiteral("default"), s->m_default);
        object.insert(QStringLiteral("charSet"), s->m_charSet);
        object.insert(QStringLiteral("format"), s->m_format);
        object.insert(QStringLiteral("maxLen"), s->m_maxLen);
    } else if (const auto* ip = qobject_cast<const DPTypeIPv4*>(def->m_type)) {
        object.insert(QStringLiteral("type"), QStringLiteral("ipv4"));
        object.insert(QStringLiteral("default"), ip->m_default);
    } else if (const auto* t = qobject_cast<const DPTypeTime*>(def->m_type)) {
        object.insert(QStringLiteral("type"), QStringLiteral("time"));
        object.insert(QStringLiteral("epoch"), static_cast<int>(t->m_epoch));
    }
    object.insert(QStringLiteral("variableName"), def->m_variableName);
    object.insert(QStringLiteral("externalName"), def->m_externalName);
    object.insert(QStringLiteral("lineId"), def->m_lineId);
    object.insert(QStringLiteral("access"),
        QString((def->m_readable ? QStringLiteral("R") : QString())
            + (def->m_writable ? QStringLiteral("W") : QString())));
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

void BM_TypeJsonQJsonFloor(benchmark::State& state)
{
    const QList<DPointDef*>& defs = context().jsonDefs;
    for (auto _ : state) {
        for (const DPointDef* def : defs) {
            QByteArray text = qjsonTypeJson(def);
            benchmark::DoNotOptimize(text);
        }
    }
    state.SetItemsProcessed(state.iterations() * defs.size());
}

void BM_TypeJson(benchmark::State& state)
{
    const QList<DPointDef*>& defs = context().jsonDefs;
    for (auto _ : state) {
        for (const DPointDef* def : defs) {
            QString text = def->getTypeJson();
            benchmark::DoNotOptimize(text);
        }
    }
    state.SetItemsProcessed(state.iterations() * defs.size());
}

// The same renderings for a few definitions over and over: with every definition in the cache,
// what is left is the work itself.
constexpr int hotDefinitions = 64;

void BM_TypeJsonHotQJsonFloor(benchmark::State& state)
{
    const QList<DPointDef*> defs = context().jsonDefs.mid(0, hotDefinitions);
    for (auto _ : state) {
        for (const DPointDef* def : defs) {
            QByteArray text = qjsonTypeJson(def);
            benchmark::DoNotOptimize(text);
        }
    }
    state.SetItemsProcessed(state.iterations() * defs.size());
}

void BM_TypeJsonHot(benchmark::State& state)
{
    const QList<DPointDef*> defs = context().jsonDefs.mid(0, hotDefinitions);
    for (auto _ : state) {
        for (const DPointDef* def : defs) {
            QString text = def->getTypeJson();
            benchmark::DoNotOptimize(text);
        }
    }
    state.SetItemsProcessed(state.iterations() * defs.size());
}

void BM_TypeJsonSuccessiveArg(benchmark::State& state)
{
    const QList<DPointDef*>& defs = context().jsonDefs;
    for (auto _ : state) {
        for (const DPointDef* def : defs) {
            QString text = referenceTypeJson(def);
            benchmark::DoNotOptimize(text);
        }
    }
    state.SetItemsProcessed(state.iterations() * defs.size());
}

// ---------------------------------------------------------------------------------------------
// The point cycle

const QVariant& alternating(quint64 i)
{
    static const QVariant values[2] = { QVariant(215), QVariant(216) };
    return values[i & 1];
}

void BM_SetValueFloor(benchmark::State& state)
{
    FloorPoint point;
    ChangeCounter counter;
    QObject::connect(&point, &FloorPoint::valueChanged, &counter, &ChangeCounter::onChanged,
        Qt::DirectConnection);
    quint64 i = 0;
    for (auto _ : state)
        point.setValue(alternating(i++));
    if (counter.count() != i)
        state.SkipWithError("not every value was a change");
}

// An integer point: its definition makes setCurrentValue apply the sentinel rule.
struct IntegerPoint
{
    IntegerPoint()
    {
        type->_init(QVariant(0), 0, 1000, QStringLiteral("degC_x10"), QStringLiteral("0.1 C"));
        def._init(QStringLiteral("SupplyTemp"), QStringLiteral("SupplyTemp"),
            QStringLiteral("Supply temperature"), QStringLiteral("BLR1.AI01"), 1001, type);
        type->setParent(&def);
        point.setDPointDef(&def);
    }

    DPointDef def;
    DPTypeNumber* type = new DPTypeNumber(nullptr);
    DPointObject point;
};

void BM_SetCurrentValue(benchmark::State& state, bool withDefinition)
{
    IntegerPoint integer;
    DPointObject bare;
    DPointObject& point = withDefinition ? integer.point : bare;
    ChangeCounter counter;
    QObject::connect(&point, &DPointObject::valueChanged, &counter, &ChangeCounter::onChanged,
        Qt::DirectConnection);
    quint64 i = 0;
    for (auto _ : state)
        point.setCurrentValue(alternating(i++));
    if (counter.count() != i)
        state.SkipWithError("not every value was a change");
}

void BM_GetValueFloor(benchmark::State& state)
{
    FloorPoint point;
    point.setValue(QVariant(215));
    point.value();
    for (auto _ : state) {
        QVariant value = point.value();
        benchmark::DoNotOptimize(value);
    }
}

void BM_GetCurrentValue(benchmark::State& state)
{
    IntegerPoint integer;
    integer.point.setCurrentValue(QVariant(215));
    integer.point.getCurrentValue();
    for (auto _ : state) {
        QVariant value = integer.point.getCurrentValue();
        benchmark::DoNotOptimize(value);
    }
}

// ---------------------------------------------------------------------------------------------
// Provider lookup

struct ProviderFixture
{
    ProviderFixture()
    {
        std::mt19937 random(7u);
        static const char* const areas[] = { "AHU", "Blr", "Chl", "PMP", "Vav", "FCU", "CT", "Hx" };
        static const char* const kinds[]
            = { "SupplyTemp", "ReturnTemp", "Setpoint", "Pressure", "Flow", "FanSpeed" };
        names.reserve(providerPoints);
        for (int i = 0; i < providerPoints; ++i) {
            const QString name = QString::fromLatin1(areas[random() % 8])
                + QString::number(1 + random() % 99).rightJustified(3, QLatin1Char('0'))
                + QLatin1Char('_') + QString::fromLatin1(kinds[random() % 6]) + QLatin1Char('_')
                + QString::number(i).rightJustified(6, QLatin1Char('0'));
            names.append(name);
            auto* point = new DPointObject(nullptr);
            point->setObjectName(name);
            provider.addPoint(point);
            map.insert(name.toLower(), point);
        }
        lookups = names;
        std::shuffle(lookups.begin(), lookups.end(), random);
    }

    DPointProvider provider;
    QMap<QString, DPointObject*> map;
    QStringList names;
    QStringList lookups;
};

ProviderFixture& providerFixture()
{
    static ProviderFixture fixture;
    return fixture;
}

void BM_ProviderLookupFloor(benchmark::State& state)
{
    ProviderFixture& f = providerFixture();
    const int count = f.lookups.size();
    int i = 0;
    for (auto _ : state) {
        DPointObject* point = f.map.value(f.lookups.at(i).toLower(), nullptr);
        benchmark::DoNotOptimize(point);
        if (++i == count)
            i = 0;
    }
}

void BM_ProviderLookup(benchmark::State& state)
{
    ProviderFixture& f = providerFixture();
    const int count = f.lookups.size();
    int i = 0;
    for (auto _ : state) {
        DPointObject* point = f.provider.getDPointByName(f.lookups.at(i));
        benchmark::DoNotOptimize(point);
        if (++i == count)
            i = 0;
    }
}

// ---------------------------------------------------------------------------------------------
// Converter

constexpr int converterSamples = 1024;

void BM_NumberFloor(benchmark::State& state)
{
    const MeasurementConverter* converter
        = context().registry->getConverter(QStringLiteral("degC_x10"));
    std::vector<double> ys;
    for (int i = 0; i < converterSamples; ++i)
        ys.push_back((i * 7 % 1600 - 400) * converter->getUnitScale() * converter->getScale()
            + converter->getOffset());
    int i = 0;
    for (auto _ : state) {
        QString text = QString::number(ys[static_cast<size_t>(i)], 'f', 1);
        benchmark::DoNotOptimize(text);
        i = (i + 1) % converterSamples;
    }
}

void BM_ConverterToString(benchmark::State& state)
{
    const MeasurementConverter* converter
        = context().registry->getConverter(QStringLiteral("degC_x10"));
    std::vector<int> raws;
    for (int i = 0; i < converterSamples; ++i)
        raws.push_back(i * 7 % 1600 - 400);
    int i = 0;
    for (auto _ : state) {
        QString text = converter->toString(QVariant(raws[static_cast<size_t>(i)]));
        benchmark::DoNotOptimize(text);
        i = (i + 1) % converterSamples;
    }
}

// ---------------------------------------------------------------------------------------------
// Reporting

// Keeps the fastest repetition of every benchmark (CPU time per iteration, in nanoseconds) and
// passes everything on to the console.
class CollectingReporter : public benchmark::ConsoleReporter
{
public:
    explicit CollectingReporter(OutputOptions options)
        : ConsoleReporter(options)
    { }

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            const bool single = run.run_type == Run::RT_Iteration;
            const bool minimum = run.run_type == Run::RT_Aggregate && run.aggregate_name == "min";
            if (!single && !minimum)
                continue;
            const double ns
                = run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9;
            const std::string& name = run.run_name.function_name;
            auto it = m_best.find(name);
            if (it == m_best.end() || ns < it->second)
                m_best[name] = ns;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Nanoseconds per iteration; NaN when the benchmark did not run.
    double best(const std::string& name) const
    {
        const auto it = m_best.find(name);
        return it == m_best.end() ? std::numeric_limits<double>::quiet_NaN() : it->second;
    }

private:
    std::map<std::string, double> m_best;
};

void printRatio(const char* name, double value, const char* op, double goal)
{
    if (std::isnan(value)) {
        std::printf("ratio %s not measured\n", name);
        return;
    }
    const bool met = std::strcmp(op, "<=") == 0 ? value <= goal : value >= goal;
    std::printf("ratio %s %.2f (goal %s %g: %s)\n", name, value, op, goal, met ? "met" : "MISSED");
}

// A ratio shown for understanding, with no goal of its own.
void printInfo(const char* name, double value)
{
    if (std::isnan(value))
        std::printf("ratio %s not measured\n", name);
    else
        std::printf("ratio %s %.2f (no goal)\n", name, value);
}

struct MemoryResults
{
    std::map<int, ChildMeasurement> qdomPeak;
    std::map<int, ChildMeasurement> loadPeak;
    std::map<int, ChildMeasurement> heapGrowth;
};

// Runs before any benchmark, while the process is still small: every figure comes from a child
// forked for it alone, so that neither earlier allocations nor their freed memory colour it.
MemoryResults measureMemory()
{
    MemoryResults results;
    for (const auto& entry : context().files) {
        const GeneratedDictionary* file = &entry.second;
        if (file->points < 20000)
            continue;
        results.qdomPeak[file->points] = measureInChild([file]() -> qint64 {
            QFile source(file->path);
            source.open(QIODevice::ReadOnly | QIODevice::Text);
            QDomDocument document;
            return document.setContent(&source, false) ? 1 : 0;
        });
        results.loadPeak[file->points] = measureInChild([file]() -> qint64 {
            DPDictLoader loader(nullptr, nullptr, context().registry);
            DPointDictionary* dictionary = loader.load(file->path, QStringLiteral("bench"));
            return dictionary ? dictionary->getAllDefs().size() : 0;
        });
        results.heapGrowth[file->points] = measureInChild([file]() -> qint64 {
            const qint64 before = heapInUse();
            DPointDictionary* dictionary = nullptr;
            {
                DPDictLoader loader(nullptr, nullptr, context().registry);
                dictionary = loader.load(file->path, QStringLiteral("bench"));
            }
            if (!dictionary || dictionary->getAllDefs().size() != file->points)
                return -1;
            return heapInUse() - before;
        });
    }
    return results;
}

void printMemory(const MemoryResults& memory)
{
    for (const auto& entry : memory.heapGrowth) {
        const int points = entry.first;
        const GeneratedDictionary& file = context().files.at(points);
        const double fileBytesPerEntry = double(file.bytes) / points;
        if (!entry.second.ok || entry.second.value < 0) {
            std::printf("figure memory_per_def_%d not measured\n", points);
            continue;
        }
        const double perDef = double(entry.second.value) / points;
        std::printf("figure memory_per_def_%d %.0f bytes (file %.0f bytes per entry; goal <= 1000"
                    " on the 20000-point file%s)\n",
            points, perDef, fileBytesPerEntry,
            points == 20000 ? (perDef <= 1000 ? ": met" : ": MISSED") : "");
        const std::string name = "memory_per_def_vs_file_bytes_" + std::to_string(points);
        std::printf("ratio %s %.2f\n", name.c_str(), perDef / fileBytesPerEntry);
    }
    for (const auto& entry : memory.loadPeak) {
        const int points = entry.first;
        const ChildMeasurement& qdom = memory.qdomPeak.at(points);
        if (!entry.second.ok || !qdom.ok || qdom.peakGrowth <= 0) {
            std::printf("ratio peak_load_%d_vs_qdom not measured\n", points);
            continue;
        }
        std::printf("figure peak_load_%d %.1f MiB, peak_qdom_%d %.1f MiB\n", points,
            entry.second.peakGrowth / 1048576.0, points, qdom.peakGrowth / 1048576.0);
        const std::string name = "peak_load_" + std::to_string(points) + "_vs_qdom";
        printRatio(name.c_str(), double(entry.second.peakGrowth) / qdom.peakGrowth, "<=", 0.35);
    }
}

void printRatios(const CollectingReporter& reporter)
{
    auto ratio = [&reporter](const std::string& figure, const std::string& floor) {
        return reporter.best(figure) / reporter.best(floor);
    };
    for (const int points : { 20000, 200000 }) {
        const std::string size = std::to_string(points);
        const std::string name = "load_" + size + "_vs_qdom";
        printRatio(name.c_str(), ratio("load/" + size, "qdom_setContent/" + size), "<=", 0.6);
    }
    const double growth
        = (reporter.best("load/200000") / 200000) / (reporter.best("load/20000") / 20000);
    printRatio("load_growth_per_point_200000_vs_20000", growth, "<=", 1.1);
    printRatio("typejson_speedup_vs_qjson", ratio("typejson_qjson_floor/20000", "typejson/20000"),
        ">=", 10);
    printInfo("typejson_speedup_vs_successive_arg",
        ratio("typejson_successive_arg/20000", "typejson/20000"));
    printInfo(
        "typejson_hot_speedup_vs_qjson", ratio("typejson_hot_qjson_floor/64", "typejson_hot/64"));
    printRatio("set_current_value_vs_floor", ratio("point_set_current_value", "point_set_floor"),
        "<=", 1.2);
    printInfo("set_current_value_nodef_vs_floor",
        ratio("point_set_current_value_nodef", "point_set_floor"));
    printRatio("get_current_value_vs_floor", ratio("point_get_current_value", "point_get_floor"),
        "<=", 1.2);
    printRatio(
        "provider_lookup_vs_floor", ratio("provider_lookup", "provider_lookup_floor"), "<=", 1.1);
    printRatio("converter_tostring_vs_number",
        ratio("converter_tostring", "converter_number_floor"), "<=", 1.5);
}

// Checks once that every definition's JSON text equals the successive-substitution rule.
void checkTypeJson()
{
    int same = 0;
    const QList<DPointDef*>& defs = context().jsonDefs;
    for (const DPointDef* def : defs) {
        if (def->getTypeJson() == referenceTypeJson(def))
            ++same;
    }
    std::printf("check typejson_identical_to_successive_arg %d of %d%s\n", same, int(defs.size()),
        same == defs.size() ? "" : " MISMATCH");
}

// Takes the program's own options out of the argument list: --kivo_sizes=2000,20000 (the
// dictionary sizes, all three by default) and --kivo_skip_memory (no memory figures, for runs
// under valgrind).
void parseOptions(int* argc, char** argv)
{
    Context& c = context();
    c.sizes = { 2000, 20000, 200000 };
    const char sizesOption[] = "--kivo_sizes=";
    int kept = 1;
    for (int i = 1; i < *argc; ++i) {
        if (std::strncmp(argv[i], sizesOption, sizeof sizesOption - 1) == 0) {
            c.sizes.clear();
            const QList<QByteArray> parts = QByteArray(argv[i] + sizeof sizesOption - 1).split(',');
            for (const QByteArray& part : parts) {
                if (part.toInt() > 0)
                    c.sizes.append(part.toInt());
            }
        } else if (std::strcmp(argv[i], "--kivo_skip_memory") == 0) {
            c.measureMemory = false;
        } else {
            argv[kept++] = argv[i];
        }
    }
    *argc = kept;
}

// A reporter given to RunSpecifiedBenchmarks does not follow --benchmark_color: colours are
// used on a terminal unless that flag switches them off.
benchmark::ConsoleReporter::OutputOptions consoleOptions(int argc, char** argv)
{
    bool color = ::isatty(STDOUT_FILENO) != 0;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg.startsWith("--benchmark_color="))
            color = arg.endsWith("=true") || arg.endsWith("=yes") || arg.endsWith("=always");
    }
    return color ? benchmark::ConsoleReporter::OO_ColorTabular
                 : benchmark::ConsoleReporter::OO_Tabular;
}

double minimumOf(const std::vector<double>& values)
{
    return values.empty() ? 0.0 : *std::min_element(values.begin(), values.end());
}

// Every benchmark runs several times; the console shows the aggregates, the fastest included,
// and the ratios use the fastest run.
benchmark::internal::Benchmark* configure(benchmark::internal::Benchmark* b, int repetitions = 5)
{
    return b->Repetitions(repetitions)
        ->ComputeStatistics("min", minimumOf)
        ->DisplayAggregatesOnly(true);
}

} // namespace

int main(int argc, char** argv)
{
    parseOptions(&argc, argv);
    // Repetitions of different benchmarks run interleaved, so that a figure and its floor see
    // the same load of a shared machine. A flag given on the command line still wins.
    std::vector<char*> args(argv, argv + argc);
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);
    int benchArgc = static_cast<int>(args.size());
    benchmark::Initialize(&benchArgc, args.data());
    if (benchmark::ReportUnrecognizedArguments(benchArgc, args.data()))
        return 1;
    QCoreApplication app(benchArgc, args.data());
    // "DPointCoVs" is on at start and would write a trace line for every change; applications
    // choose their topics, and the figures are the cost without trace output.
    TopicLogger::disableAllTopics();

    QTemporaryDir directory;
    if (!directory.isValid()) {
        std::fprintf(stderr, "cannot create a temporary directory\n");
        return 1;
    }
    const QString measurements = QStringLiteral(KIVO_SAMPLE_DATA_DIR "/measurements.xml");
    context().registry = MeasurementLoader::loadMeasurementRegistry(measurements);
    const QVector<UnitInfo> units = readUnits(measurements);
    if (!context().registry || units.isEmpty()) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(measurements));
        return 1;
    }
    for (const int points : qAsConst(context().sizes)) {
        const QString path = directory.filePath(QStringLiteral("dictionary-%1.xml").arg(points));
        GeneratedDictionary file = writeDictionary(path, points, units);
        if (file.path.isEmpty()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("dictionary %d points, %lld bytes (%.0f bytes per entry)\n", points,
            static_cast<long long>(file.bytes), double(file.bytes) / points);
        context().files[points] = file;
    }
    std::fflush(stdout);

    const MemoryResults memory = context().measureMemory ? measureMemory() : MemoryResults();

    for (const auto& entry : context().files) {
        const GeneratedDictionary* file = &entry.second;
        const std::string size = std::to_string(file->points);
        const int repetitions = file->points >= 200000 ? 3 : 5;
        configure(benchmark::RegisterBenchmark(
                      ("qdom_setContent/" + size).c_str(), BM_QDomSetContent, file),
            repetitions)
            ->Unit(benchmark::kMillisecond);
        configure(
            benchmark::RegisterBenchmark(("load/" + size).c_str(), BM_Load, file), repetitions)
            ->Unit(benchmark::kMillisecond);
    }

    const auto json = context().files.find(20000);
    if (json != context().files.end()) {
        DPDictLoader loader(nullptr, nullptr, context().registry);
        context().jsonDictionary = loader.load(json->second.path, QStringLiteral("json"));
        if (context().jsonDictionary) {
            context().jsonDefs = context().jsonDictionary->getAllDefs();
            checkTypeJson();
            configure(
                benchmark::RegisterBenchmark("typejson_qjson_floor/20000", BM_TypeJsonQJsonFloor))
                ->Unit(benchmark::kMillisecond);
            configure(benchmark::RegisterBenchmark("typejson/20000", BM_TypeJson))
                ->Unit(benchmark::kMillisecond);
            configure(benchmark::RegisterBenchmark(
                          "typejson_successive_arg/20000", BM_TypeJsonSuccessiveArg))
                ->Unit(benchmark::kMillisecond);
            configure(benchmark::RegisterBenchmark(
                          "typejson_hot_qjson_floor/64", BM_TypeJsonHotQJsonFloor))
                ->Unit(benchmark::kMicrosecond);
            configure(benchmark::RegisterBenchmark("typejson_hot/64", BM_TypeJsonHot))
                ->Unit(benchmark::kMicrosecond);
        }
    }

    configure(benchmark::RegisterBenchmark("point_set_floor", BM_SetValueFloor));
    configure(benchmark::RegisterBenchmark("point_set_current_value", BM_SetCurrentValue, true));
    configure(
        benchmark::RegisterBenchmark("point_set_current_value_nodef", BM_SetCurrentValue, false));
    configure(benchmark::RegisterBenchmark("point_get_floor", BM_GetValueFloor));
    configure(benchmark::RegisterBenchmark("point_get_current_value", BM_GetCurrentValue));
    configure(benchmark::RegisterBenchmark("provider_lookup_floor", BM_ProviderLookupFloor));
    configure(benchmark::RegisterBenchmark("provider_lookup", BM_ProviderLookup));
    configure(benchmark::RegisterBenchmark("converter_number_floor", BM_NumberFloor));
    configure(benchmark::RegisterBenchmark("converter_tostring", BM_ConverterToString));

    CollectingReporter reporter(consoleOptions(argc, argv));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\n");
    printMemory(memory);
    printRatios(reporter);
    delete context().jsonDictionary;
    delete context().registry;
    return 0;
}
