#include "TestTables.h"

#include <kivo/core/AppRegistry.h>
#include <kivo/core/ReentrantReadLocker.h>
#include <kivo/core/ReentrantWriteLocker.h>
#include <kivo/core/StatBase.h>
#include <kivo/core/StatRef.h>
#include <kivo/core/TopicLogger.h>

#include <QTest>

#include <atomic>
#include <future>
#include <memory>
#include <thread>
#include <vector>

using namespace kivo;

namespace {

// A status that counts its destruction.
StatBase* tracked(const char* code, std::atomic<int>* destroyed)
{
    auto* stat = new StatBase(code, "message", { "d" });
    QObject::connect(stat, &QObject::destroyed, [destroyed] { ++*destroyed; });
    return stat;
}

// A chain as text: each link's code and reference count ("-" for an empty link), "a1>b2".
QString chainText(const StatRef& ref)
{
    QStringList links;
    for (const StatRef* link = &ref; link; link = link->m_next)
        links << (link->m_stat
                ? link->m_stat->getCode() + QString::number(link->m_stat->getRefCount())
                : "-");
    return links.join('>');
}

// Makes head the chain a > b > c.
void buildChain(StatRef& head, StatBase* a, StatBase* b, StatBase* c)
{
    StatRef second(b);
    second.chain(StatRef(c));
    head.assign(a, &second);
}

const char* const initialList
    = "-ALL,-AppDiag,-Backlight,-Buzzer,+DPointCoVs,-DPointTrace,-JsonRecv,"
      "-JsonSend,-JsonStats,-KeyEvents,-MouseEvents,+NameMatcher,"
      "-NativeEvents,+TopicLogger";
QStringList messages;

// Runs f(0) ... f(n - 1) on n threads released together, and joins them.
template<typename F> void runTogether(int n, F f)
{
    std::atomic<int> waiting { n };
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i) {
        threads.emplace_back([&, i] {
            for (waiting.fetch_sub(1); waiting.load() > 0;)
                std::this_thread::yield();
            f(i);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
}

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

    // root: alpha (shared, deep, mid (far), unnamed), shared, Capital, beta (far, MixedCase),
    // unnamed
    std::unique_ptr<AppRegistry> m_root;
    QHash<QString, QObject*> m_nodes; // by path, "/alpha/mid/far"; "/" is the unnamed child

private Q_SLOTS:
    void init()
    {
        m_root = std::make_unique<AppRegistry>();
        const char* const tree[][2]
            = { { "", "alpha" }, { "/alpha", "shared" }, { "/alpha", "deep" }, { "/alpha", "mid" },
                  { "/alpha/mid", "far" }, { "/alpha", "" }, { "", "shared" }, { "", "Capital" },
                  { "", "beta" }, { "/beta", "far" }, { "/beta", "MixedCase" }, { "", "" } };
        for (const auto& node : tree) {
            auto* object = new QObject(*node[0] ? m_nodes.value(node[0]) : m_root.get());
            object->setObjectName(node[1]);
            m_nodes.insert(QLatin1String(node[0]) + '/' + node[1], object);
        }
    }

    // Rows: name ("null" for a null name)|path found, empty for none. Names are matched
    // lower-cased, direct children first, then each child's subtree in order.
    void findItem_data() { addTableRows("core/names.txt"); }

    void findItem()
    {
        QFETCH(QStringList, row);
        const QString name = row[0] == "null" ? QString() : row[0];
        QCOMPARE(m_root->getNamespaceItem(name), m_nodes.value(row[1]));
    }

    void namespaceIndexSizeAndNames()
    {
        QStringList paths;
        for (int index : { -1000, -1, 0, 2, 4, 5 })
            paths << m_nodes.key(m_root->getNamespaceIndex(index));
        QCOMPARE(paths.join(',') + ' ' + m_root->getNamespaceNames().join(','),
            ",,/alpha,/Capital,/, alpha,shared,Capital,beta");
        // A child leaving the namespace no longer counts; an empty name is no name.
        delete m_nodes.value("/alpha");
        m_nodes["/beta"]->setObjectName(QLatin1String(""));
        QVERIFY(m_root->getNamespaceSize() == 4 && m_root->getNamespaceIndex(3) == m_nodes["/"]);
        QCOMPARE(m_root->getNamespaceNames().join(','), "shared,Capital");
    }

    void dynamicProperties()
    {
        m_root->setProperty("Worksheet", "Main");
        m_root->setProperty("ShowVar", 7);
        m_root->setProperty("gr\xc3\xbcn", true);
        m_root->setProperty("Worksheet", "Other"); // keeps its first position
        m_root->setProperty("ShowVar", QVariant()); // removes it
        QStringList names;
        for (int i = -1; i <= m_root->getPropertyCount(); ++i)
            names << m_root->getPropertyName(i);
        QCOMPARE(names, QStringList({ "", "Worksheet", QString::fromUtf8("gr\xc3\xbcn"), "" }));
        m_root->setObjectName("root");
        QCOMPARE(QVariantList({ m_root->getProperty("Worksheet"), m_root->getProperty("objectName"),
                     m_root->getProperty("worksheet") }),
            QVariantList({ "Other", "root", QVariant() }));
    }

    void statChains()
    {
        std::atomic<int> destroyed { 0 };
        StatBase* a = tracked("a", &destroyed);
        {
            StatRef head;
            buildChain(head, a, tracked("b", &destroyed), tracked("c", &destroyed));
            QCOMPARE(chainText(head), "a1>b1>c1");
            QCOMPARE(chainText(StatRef(head)), "a2>b2>c2"); // new links, shared statuses
            StatRef other(tracked("x", &destroyed));
            other.chain(StatRef(tracked("y", &destroyed)));
            head.chain(other); // replaces b > c, which nothing else holds
            QCOMPARE(chainText(head) + QString::number(destroyed), "a1>x2>y22");
            QCOMPARE(&head.assign(head.m_stat, &other), &head); // a status kept while reassigned
            StatRef target(tracked("old", &destroyed));
            target.assign(head.m_stat, head.m_next);
            QCOMPARE(chainText(target) + QString::number(destroyed), "a2>x3>y33");
            StatRef emptyHead;
            emptyHead.chain(other);
            emptyHead.assign(nullptr, &other);
            QCOMPARE(chainText(StatRef(emptyHead)), "->x5>y5");
            head.chain(emptyHead); // an empty reference ends the chain
            target.assign(nullptr, nullptr);
            QCOMPARE(chainText(head) + chainText(target), "a1-");
            QCOMPARE(a->getCode() + a->getMsg() + a->getDetails().join(""), "amessaged");
        }
        QCOMPARE(destroyed, 6);
    }

    void statChainsAcrossThreads()
    {
        std::atomic<int> destroyed { 0 };
        std::atomic<int> failures { 0 };
        auto* master = new StatRef;
        buildChain(
            *master, tracked("a", &destroyed), tracked("b", &destroyed), tracked("c", &destroyed));
        // Each thread owns a copy of the chain; the three statuses are shared by all.
        std::vector<StatRef> own(4, *master);
        delete master;
        runTogether(4, [&](int t) {
            for (int i = 0; i < 20000; ++i) {
                StatRef copy(own[t]);
                StatRef other(copy.m_next->m_stat);
                other.chain(copy);
                copy.assign(copy.m_next->m_next->m_stat, &other);
                failures += copy.m_stat->getCode() != "c" || !copy.m_next->m_next->m_next->m_next;
                StatRef(nullptr).assign(copy.m_stat, copy.m_next);
            }
            own[t].assign(nullptr, nullptr); // the last thread to let go deletes the statuses
        });
        QCOMPARE(failures, 0);
        QCOMPARE(destroyed, 3);
    }

    void topicIds()
    {
        const QStringList names = QString(initialList).remove('+').remove('-').split(',');
        for (int id = 0; id < TopicLogger::m_maxTopics; ++id)
            QCOMPARE(TopicLogger::topicIdForName(names.at(id)), id);
        for (const char* unknown : { "dpointtrace", " DPointTrace", "+DPointTrace", "Unknown", "" })
            QCOMPARE(TopicLogger::topicIdForName(unknown), 0);
    }

    // Rows: name|start switches ("+" on, "-" off, one per topic; empty as loaded)|list|expected
    // ("+" for the list as loaded)|logged (1 or 0).
    void setTopicList_data() { addTableRows("core/topiclists.txt"); }

    void setTopicList()
    {
        QFETCH(QStringList, row);
        const QString expected = row[3] == "+" ? initialList : row[3];
        const std::vector<bool> saved(TopicLogger::m_topics, TopicLogger::m_topics + 14);
        QCOMPARE(TopicLogger::getTopicListString(), initialList); // the switches as loaded
        if (row[1] == "disable")
            TopicLogger::disableAllTopics();
        for (int id = 0; id < row[1].size() && row[1] != "disable"; ++id)
            TopicLogger::m_topics[id] = row[1][id] == '+';
        messages.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& text) { messages << text; });
        TopicLogger::setTopicListString(row[2]);
        qInstallMessageHandler(previous);
        const QString result = TopicLogger::getTopicListString();
        std::copy(saved.begin(), saved.end(), TopicLogger::m_topics);
        QCOMPARE(result, expected);
        QCOMPARE(messages, QStringList('"' + expected + '"').mid(row[4] == "1" ? 0 : 1)); // quoted
    }

    void memoryConsumed()
    {
        const quint32 before = GetMemoryConsumed();
        // A block this large is mapped on its own, so the private memory grows by its size.
        std::vector<char> block(64 * 1024 * 1024, 1);
        QVERIFY(
            before > 0 && GetMemoryConsumed() >= before + 32u * 1024 * 1024 && block.back() == 1);
    }

    // More write locks than a thread's record keeps inline, every other one released first:
    // from the innermost out, a read re-enters each one still held (a lost record deadlocks)
    // and shares each one released.
    void writeLocksNestedDeeply()
    {
        std::vector<std::unique_ptr<QReadWriteLock>> locks;
        std::vector<std::unique_ptr<ReentrantWriteLocker>> writers;
        for (int i = 0; i < 40; ++i) {
            locks.emplace_back(new QReadWriteLock(QReadWriteLock::Recursive));
            writers.emplace_back(new ReentrantWriteLocker(locks.back().get()));
        }
        for (int i = 0; i < 40; i += 2)
            writers[i].reset();
        for (int i = 39; i >= 0; --i) {
            {
                ReentrantReadLocker reader(locks[i].get());
                const bool shared = std::async(std::launch::async, [&] {
                    const bool free = locks[i]->tryLockForRead();
                    if (free)
                        locks[i]->unlock();
                    return free;
                }).get();
                QCOMPARE(shared, i % 2 == 0);
            }
            writers[i].reset();
        }
    }

    // Made on first use: threads released together on a fresh object must all get one lock.
    void namespaceLockMadeOnceUnderContention()
    {
        for (int round = 0; round < 20; ++round) {
            LockProbe object;
            QReadWriteLock* seen[4] = {};
            runTogether(4, [&](int i) {
                object.getNamespaceNames();
                seen[i] = object.getNamespaceLock();
            });
            QVERIFY(seen[0] == seen[1] && seen[0] == seen[2] && seen[0] == seen[3]);
            QVERIFY(seen[0]->tryLockForWrite() && seen[0]->tryLockForWrite()); // recursive
            seen[0]->unlock();
            seen[0]->unlock();
        }
    }
};

QTEST_GUILESS_MAIN(TestCore)

#include "tst_core.moc"
