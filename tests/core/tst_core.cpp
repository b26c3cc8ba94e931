#include <kivo/core/AppRegistry.h>
#include <kivo/core/StatBase.h>
#include <kivo/core/StatRef.h>
#include <kivo/core/TopicLogger.h>

#include <QFile>
#include <QMetaMethod>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using namespace kivo;

namespace {

// A status that counts its own destruction.
class TrackedStat : public StatBase
{
public:
    TrackedStat(const char* code, std::atomic<int>* destroyed)
        : StatBase(QLatin1String(code), QStringLiteral("message"), { QStringLiteral("d") })
        , m_destroyed(destroyed)
    { }
    ~TrackedStat() override { ++*m_destroyed; }

private:
    std::atomic<int>* m_destroyed;
};

// A chain as text: each link's code and reference count ("-" for an empty link), "a1>b2".
QString chainText(const StatRef& ref)
{
    QStringList links;
    for (const StatRef* link = &ref; link; link = link->m_next) {
        const StatBase* stat = link->m_stat;
        links << (stat ? stat->getCode() + QString::number(stat->getRefCount()) : "-");
    }
    return links.join('>');
}

// Makes head the chain a > b > c.
void buildChain(StatRef& head, StatBase* a, StatBase* b, StatBase* c)
{
    StatRef third(c);
    StatRef second(b);
    second.chain(third);
    head.assign(a, &second);
}

// A list of all topics from the switches, one character each: "+" on, "-" off.
void setSwitches(const char* switches)
{
    for (int id = 0; id < TopicLogger::m_maxTopics; ++id)
        TopicLogger::m_topics[id] = switches[id] == '+';
}

const char* const initialList = "-ALL,-AppDiag,-Backlight,-Buzzer,+DPointCoVs,-DPointTrace,"
                                "-JsonRecv,-JsonSend,-JsonStats,-KeyEvents,-MouseEvents,"
                                "+NameMatcher,-NativeEvents,+TopicLogger";

QStringList messages;

// Exposes the lock that the namespace reads take.
class LockProbe : public Namespaceable
{
public:
    using Namespaceable::getNamespaceLock;
};

} // namespace

class TestCore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void findItem_data();
    void findItem();
    void namespaceIndexSizeAndNames();
    void dynamicProperties();
    void metaObjectLayout();
    void statChains();
    void statChainsAcrossThreads();
    void topicIds();
    void setTopicList_data();
    void setTopicList();
    void memoryConsumed();
    void namespaceLockMadeOnceUnderContention();

private:
    // root: alpha (shared, deep, mid (far), unnamed), shared, Capital, beta (far, MixedCase),
    // unnamed
    std::unique_ptr<AppRegistry> m_root;
    QHash<QString, QObject*> m_nodes; // keyed by path, "/alpha/mid/far"; "/" is the unnamed child
};

void TestCore::init()
{
    m_root = std::make_unique<AppRegistry>();
    m_nodes.clear();
    const char* const tree[][2]
        = { { "", "alpha" }, { "/alpha", "shared" }, { "/alpha", "deep" }, { "/alpha", "mid" },
              { "/alpha/mid", "far" }, { "/alpha", "" }, { "", "shared" }, { "", "Capital" },
              { "", "beta" }, { "/beta", "far" }, { "/beta", "MixedCase" }, { "", "" } };
    for (const auto& node : tree) {
        QObject* parent = *node[0] ? m_nodes.value(node[0]) : m_root.get();
        auto* object = new QObject(parent);
        object->setObjectName(node[1]);
        m_nodes.insert(QLatin1String(node[0]) + '/' + node[1], object);
    }
}

void TestCore::findItem_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected"); // path; empty for none
    // Names are matched lower-cased, direct children first, then each child's subtree in order.
    const char* const rows[][2] = { { "alpha", "/alpha" }, { "bEtA", "/beta" },
        { "DeEp", "/alpha/deep" }, { "shared", "/shared" }, { "far", "/alpha/mid/far" },
        { "Capital", "" }, { "capital", "" }, { "MixedCase", "" }, { "gamma", "" },
        { " alpha", "" }, { "", "/" }, { "null", "/alpha" } };
    for (const auto& row : rows)
        QTest::newRow(row[0]) << (qstrcmp(row[0], "null") ? QString(row[0]) : QString())
                              << QString(row[1]);
}

void TestCore::findItem()
{
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QCOMPARE(m_root->getNamespaceItem(name), m_nodes.value(expected));
    AppRegistry empty;
    QCOMPARE(empty.getNamespaceItem(name), nullptr);
}

void TestCore::namespaceIndexSizeAndNames()
{
    QCOMPARE(m_root->getNamespaceSize(), 5);
    QCOMPARE(m_root->getNamespaceNames(), QStringList({ "alpha", "shared", "Capital", "beta" }));
    const QString expected[] = { "", "", "/alpha", "/Capital", "/", "", "" };
    const int indexes[] = { -1000, -1, 0, 2, 4, 5, 6 };
    for (int i = 0; i < 7; ++i)
        QCOMPARE(m_root->getNamespaceIndex(indexes[i]), m_nodes.value(expected[i]));

    // A child leaving the namespace is no longer counted; an empty name is no name.
    delete m_nodes.value("/alpha");
    m_root->children().last()->setObjectName(QLatin1String(""));
    QCOMPARE(m_root->getNamespaceSize(), 4);
    QCOMPARE(m_root->getNamespaceIndex(0), m_nodes.value("/shared"));
    QCOMPARE(m_root->getNamespaceNames(), QStringList({ "shared", "Capital", "beta" }));

    AppRegistry empty(m_root.get());
    QCOMPARE(empty.parent(), m_root.get());
    QCOMPARE(m_root->getNamespaceIndex(4), &empty);
    QCOMPARE(empty.getNamespaceIndex(0), nullptr);
    QCOMPARE(empty.getNamespaceSize(), 0);
    QCOMPARE(empty.getNamespaceNames(), QStringList());
    empty.setParent(nullptr);
}

void TestCore::dynamicProperties()
{
    AppRegistry registry;
    registry.setObjectName("root");
    QCOMPARE(registry.getPropertyCount(), 0);
    registry.setProperty("Worksheet", "Main");
    registry.setProperty("ShowVar", 7);
    registry.setProperty("gr\xc3\xbcn", true);
    registry.setProperty("Worksheet", "Other"); // keeps its first position
    QStringList names;
    for (int i = -1; i <= registry.getPropertyCount(); ++i)
        names << registry.getPropertyName(i);
    QCOMPARE(
        names, QStringList({ "", "Worksheet", "ShowVar", QString::fromUtf8("gr\xc3\xbcn"), "" }));
    QCOMPARE(registry.getProperty("Worksheet"), QVariant("Other"));
    QCOMPARE(registry.getProperty("objectName"), QVariant("root"));
    QVERIFY(!registry.getProperty("showvar").isValid());
    registry.setProperty("ShowVar", QVariant()); // removes it
    QCOMPARE(registry.getPropertyCount(), 2);
    QCOMPARE(registry.getPropertyName(1), QString::fromUtf8("gr\xc3\xbcn"));
}

void TestCore::metaObjectLayout()
{
    const QMetaObject& meta = Namespaceable::staticMetaObject;
    QStringList methods;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        methods << QString::number(method.methodType()) + method.typeName() + ' '
                + method.methodSignature();
    }
    QCOMPARE(methods.join(", "),
        "1void namespaceInventoryChanged(), 0int getPropertyCount(), "
        "0QString getPropertyName(int), 0QVariant getProperty(QByteArray)");
    QCOMPARE(AppRegistry::staticMetaObject.superClass(), &meta);
    QCOMPARE(AppRegistry::staticMetaObject.methodCount(), meta.methodCount());
}

void TestCore::statChains()
{
    std::atomic<int> destroyed { 0 };
    auto* a = new TrackedStat("a", &destroyed);
    auto* x = new TrackedStat("x", &destroyed);
    auto* y = new TrackedStat("y", &destroyed);
    {
        StatRef head;
        buildChain(head, a, new TrackedStat("b", &destroyed), new TrackedStat("c", &destroyed));
        QCOMPARE(chainText(head), "a1>b1>c1");
        {
            const StatRef copy(head);
            QCOMPARE(chainText(copy), "a2>b2>c2");
            QVERIFY(copy.m_next != head.m_next && copy.m_next->m_next != head.m_next->m_next);
        }
        StatRef other(x);
        other.chain(StatRef(y));
        head.chain(other); // replaces b > c, which nothing else holds
        QCOMPARE(chainText(head), "a1>x2>y2");
        QCOMPARE(destroyed, 2);
        QCOMPARE(&head.assign(head.m_stat, &other), &head); // a status kept while reassigned
        QCOMPARE(chainText(head), "a1>x2>y2");
        StatRef target(new TrackedStat("old", &destroyed));
        target.assign(head.m_stat, head.m_next);
        QCOMPARE(chainText(target), "a2>x3>y3");
        QCOMPARE(destroyed, 3);

        StatRef emptyHead;
        emptyHead.chain(other);
        emptyHead.assign(nullptr, &other);
        QCOMPARE(chainText(StatRef(emptyHead)), "->x5>y5");
        head.chain(emptyHead); // an empty reference ends the chain
        QCOMPARE(chainText(head), "a2");
        target.assign(nullptr, nullptr);
        QCOMPARE(chainText(target), "-");
        QCOMPARE(a->getCode() + a->getMsg() + a->getDetails().join(""), "amessaged");
    }
    QCOMPARE(destroyed, 6);
}

void TestCore::statChainsAcrossThreads()
{
    constexpr int threadCount = 4;
    std::atomic<int> destroyed { 0 };
    std::atomic<int> failures { 0 };
    TrackedStat* const a = new TrackedStat("a", &destroyed);
    std::vector<std::thread> threads;
    {
        StatRef master;
        buildChain(master, a, new TrackedStat("b", &destroyed), new TrackedStat("c", &destroyed));
        // Each thread owns a copy of the chain; the three statuses are shared by all.
        for (int t = 0; t < threadCount; ++t) {
            threads.emplace_back([own = std::make_shared<StatRef>(master), &failures] {
                for (int i = 0; i < 20000; ++i) {
                    StatRef copy(*own);
                    StatRef other(copy.m_next->m_stat);
                    other.chain(copy);
                    copy.assign(copy.m_next->m_next->m_stat, &other);
                    if (copy.m_stat->getCode() != "c" || !copy.m_next->m_next->m_next->m_next)
                        ++failures;
                    StatRef(nullptr).assign(copy.m_stat, copy.m_next);
                }
                own->assign(nullptr, nullptr); // the last thread to let go deletes the statuses
            });
        }
        QVERIFY(a->getRefCount() >= threadCount);
    }
    for (std::thread& thread : threads)
        thread.join();
    QCOMPARE(failures, 0);
    QCOMPARE(destroyed, 3);
}

void TestCore::topicIds()
{
    const QStringList names
        = QString("ALL,AppDiag,Backlight,Buzzer,DPointCoVs,DPointTrace,JsonRecv,"
                  "JsonSend,JsonStats,KeyEvents,MouseEvents,NameMatcher,"
                  "NativeEvents,TopicLogger")
              .split(',');
    QCOMPARE(TopicLogger::m_maxTopics, names.size());
    for (int id = 0; id < names.size(); ++id)
        QCOMPARE(TopicLogger::topicIdForName(names.at(id)), id);
    for (const char* unknown : { "dpointtrace", " DPointTrace", "+DPointTrace", "Unknown", "" })
        QCOMPARE(TopicLogger::topicIdForName(unknown), 0);
}

// Rows in tests/data/core/topiclists.txt, one a line: name|start switches (one per topic, empty
// for the switches as loaded)|list|expected list ("+" for the list as loaded)|logged (1 or 0).
// Tab and line feed are written \t and \n.
void TestCore::setTopicList_data()
{
    QTest::addColumn<QStringList>("row");
    QFile file(QStringLiteral(KIVO_TEST_DATA_DIR "/core/topiclists.txt"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    for (QString line : QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)) {
        const QStringList row = line.replace("\\t", "\t").replace("\\n", "\n").split('|');
        QTest::newRow(qPrintable(row[0])) << row;
    }
}

void TestCore::setTopicList()
{
    QFETCH(QStringList, row);
    QCOMPARE(row.size(), 5);
    const QString expected = row[3] == "+" ? initialList : row[3];
    const std::vector<bool> saved(TopicLogger::m_topics, TopicLogger::m_topics + 14);
    QCOMPARE(TopicLogger::getTopicListString(), initialList); // the switches as loaded
    if (row[1] == "disable")
        TopicLogger::disableAllTopics();
    else if (!row[1].isEmpty())
        setSwitches(qPrintable(row[1]));
    messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { messages << text; });
    TopicLogger::setTopicListString(row[2]);
    qInstallMessageHandler(previous);
    const QString result = TopicLogger::getTopicListString();
    std::copy(saved.begin(), saved.end(), TopicLogger::m_topics);
    QCOMPARE(result, expected);
    // The debug stream quotes the list.
    QCOMPARE(messages, row[4] == "1" ? QStringList('"' + expected + '"') : QStringList());
}

void TestCore::memoryConsumed()
{
#ifdef Q_OS_LINUX
    const quint32 before = GetMemoryConsumed();
    // A block this large is mapped on its own, so the private memory grows by its size.
    std::vector<char> block(64 * 1024 * 1024, 1);
    QVERIFY(before > 0 && GetMemoryConsumed() >= before + 32u * 1024 * 1024);
    QCOMPARE(block.back(), char(1));
#endif
}

// The lock is made on first use; threads released together on a fresh object must all get one
// and the same recursive lock.
void TestCore::namespaceLockMadeOnceUnderContention()
{
    constexpr int threadCount = 4;
    for (int round = 0; round < 20; ++round) {
        LockProbe object;
        std::atomic<int> waiting { threadCount };
        QReadWriteLock* seen[threadCount] = {};
        std::vector<std::thread> threads;
        for (int i = 0; i < threadCount; ++i) {
            threads.emplace_back([&, i] {
                for (waiting.fetch_sub(1); waiting.load() > 0;)
                    std::this_thread::yield();
                object.getNamespaceNames();
                seen[i] = object.getNamespaceLock();
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        for (QReadWriteLock* lock : seen)
            QCOMPARE(lock, seen[0]);
        QVERIFY(seen[0]->tryLockForWrite() && seen[0]->tryLockForWrite());
        seen[0]->unlock();
        seen[0]->unlock();
    }
}

QTEST_GUILESS_MAIN(TestCore)

#include "tst_core.moc"
