#include <kivo/core/StatBase.h>
#include <kivo/core/StatRef.h>

#include <QAtomicInt>
#include <QPointer>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>
#include <vector>

using kivo::StatBase;
using kivo::StatRef;

namespace {

// A status of a derived class that records its own destruction.
class TrackedStat : public StatBase
{
public:
    TrackedStat(const QString& code, QAtomicInt* destroyed)
        : StatBase(code, QStringLiteral("message ") + code)
        , m_destroyed(destroyed)
    { }
    ~TrackedStat() override { m_destroyed->ref(); }

private:
    QAtomicInt* m_destroyed;
};

int chainLength(const StatRef& ref)
{
    int length = 0;
    for (const StatRef* link = &ref; link; link = link->m_next) {
        ++length;
    }
    return length;
}

// Builds the three-link chain a -> b -> c.
void buildChain(StatRef& head, StatBase* a, StatBase* b, StatBase* c)
{
    StatRef third(c);
    StatRef second(b);
    second.chain(third);
    head.assign(a, &second);
}

} // namespace

class TestStatRef : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void statusFields();
    void emptyReference();
    void sharedStatusLivesUntilLastReference();
    void copyThreeLinkChain();
    void copyChainBehindEmptyHead();
    void assignStatusAlreadyHeld();
    void assignNullReleasesEverything();
    void assignCopiesOtherReference();
    void chainEmptyReferenceEndsChain();
    void chainReplacesRatherThanAppends();
    void derivedStatusDestroyedThroughOwnDestructor();
    void sharedAcrossThreads();
};

void TestStatRef::statusFields()
{
    StatBase stat(QStringLiteral("E42"), QStringLiteral("Out of range"),
        { QStringLiteral("limit 10"), QStringLiteral("value 12") });
    QCOMPARE(stat.getCode(), QStringLiteral("E42"));
    QCOMPARE(stat.getMsg(), QStringLiteral("Out of range"));
    QCOMPARE(stat.getDetails(), QStringList({ "limit 10", "value 12" }));
    QCOMPARE(stat.getRefCount(), 0);
    QCOMPARE(StatBase::staticMetaObject.className(), "kivo::StatBase");
}

void TestStatRef::emptyReference()
{
    StatRef ref(nullptr);
    QCOMPARE(ref.m_stat, nullptr);
    QCOMPARE(ref.m_next, nullptr);

    StatRef copy(ref);
    QCOMPARE(copy.m_stat, nullptr);
    QCOMPARE(copy.m_next, nullptr);
}

void TestStatRef::sharedStatusLivesUntilLastReference()
{
    QAtomicInt destroyed;
    auto* stat = new TrackedStat(QStringLiteral("s"), &destroyed);
    QPointer<StatBase> watch(stat);

    auto* first = new StatRef(stat);
    auto* second = new StatRef(stat);
    QCOMPARE(stat->getRefCount(), 2);

    delete first;
    QVERIFY(!watch.isNull());
    QCOMPARE(stat->getRefCount(), 1);

    delete second;
    QVERIFY(watch.isNull());
    QCOMPARE(destroyed.loadRelaxed(), 1);
}

void TestStatRef::copyThreeLinkChain()
{
    QAtomicInt destroyed;
    auto* a = new TrackedStat(QStringLiteral("a"), &destroyed);
    auto* b = new TrackedStat(QStringLiteral("b"), &destroyed);
    auto* c = new TrackedStat(QStringLiteral("c"), &destroyed);
    {
        StatRef original;
        buildChain(original, a, b, c);
        QCOMPARE(chainLength(original), 3);
        QCOMPARE(a->getRefCount(), 1);
        QCOMPARE(b->getRefCount(), 1);
        QCOMPARE(c->getRefCount(), 1);

        {
            StatRef copy(original);
            QCOMPARE(chainLength(copy), 3);
            QCOMPARE(copy.m_stat, a);
            QCOMPARE(copy.m_next->m_stat, b);
            QCOMPARE(copy.m_next->m_next->m_stat, c);
            // New links, shared statuses.
            QVERIFY(copy.m_next != original.m_next);
            QVERIFY(copy.m_next->m_next != original.m_next->m_next);
            QCOMPARE(a->getRefCount(), 2);
            QCOMPARE(b->getRefCount(), 2);
            QCOMPARE(c->getRefCount(), 2);
        }
        QCOMPARE(a->getRefCount(), 1);
        QCOMPARE(b->getRefCount(), 1);
        QCOMPARE(c->getRefCount(), 1);
        QCOMPARE(destroyed.loadRelaxed(), 0);
    }
    QCOMPARE(destroyed.loadRelaxed(), 3);
}

void TestStatRef::copyChainBehindEmptyHead()
{
    QAtomicInt destroyed;
    auto* b = new TrackedStat(QStringLiteral("b"), &destroyed);
    {
        StatRef second(b);
        StatRef head(nullptr);
        head.assign(nullptr, &second);
        QCOMPARE(b->getRefCount(), 2);

        StatRef copy(head);
        QCOMPARE(copy.m_stat, nullptr);
        QVERIFY(copy.m_next);
        QCOMPARE(copy.m_next->m_stat, b);
        QCOMPARE(b->getRefCount(), 3);
    }
    QCOMPARE(destroyed.loadRelaxed(), 1);
}

void TestStatRef::assignStatusAlreadyHeld()
{
    QAtomicInt destroyed;
    auto* a = new TrackedStat(QStringLiteral("a"), &destroyed);
    auto* b = new TrackedStat(QStringLiteral("b"), &destroyed);
    auto* c = new TrackedStat(QStringLiteral("c"), &destroyed);
    QPointer<StatBase> watchA(a);

    StatRef ref;
    buildChain(ref, a, b, c);
    QCOMPARE(a->getRefCount(), 1);

    StatRef& result = ref.assign(ref.m_stat, nullptr);
    QCOMPARE(&result, &ref);
    QVERIFY(!watchA.isNull());
    QCOMPARE(ref.m_stat, a);
    QCOMPARE(a->getRefCount(), 1);
    QCOMPARE(ref.m_next, nullptr);
    // b and c were held only by the chain.
    QCOMPARE(destroyed.loadRelaxed(), 2);

    ref.assign(nullptr, nullptr);
    QVERIFY(watchA.isNull());
    QCOMPARE(destroyed.loadRelaxed(), 3);
}

void TestStatRef::assignNullReleasesEverything()
{
    QAtomicInt destroyed;
    auto* a = new TrackedStat(QStringLiteral("a"), &destroyed);
    auto* b = new TrackedStat(QStringLiteral("b"), &destroyed);
    auto* c = new TrackedStat(QStringLiteral("c"), &destroyed);
    StatRef keepB(b);

    StatRef ref;
    buildChain(ref, a, b, c);
    QCOMPARE(b->getRefCount(), 2);

    ref.assign(nullptr, nullptr);
    QCOMPARE(ref.m_stat, nullptr);
    QCOMPARE(ref.m_next, nullptr);
    QCOMPARE(destroyed.loadRelaxed(), 2);
    QCOMPARE(b->getRefCount(), 1);
}

void TestStatRef::assignCopiesOtherReference()
{
    QAtomicInt destroyed;
    auto* a = new TrackedStat(QStringLiteral("a"), &destroyed);
    auto* b = new TrackedStat(QStringLiteral("b"), &destroyed);
    auto* c = new TrackedStat(QStringLiteral("c"), &destroyed);
    auto* old = new TrackedStat(QStringLiteral("old"), &destroyed);
    QPointer<StatBase> watchOld(old);
    {
        StatRef other;
        buildChain(other, a, b, c);

        StatRef target(old);
        target.assign(other.m_stat, other.m_next);
        QVERIFY(watchOld.isNull());
        QCOMPARE(chainLength(target), 3);
        QCOMPARE(target.m_stat, a);
        QCOMPARE(target.m_next->m_stat, b);
        QCOMPARE(target.m_next->m_next->m_stat, c);
        QVERIFY(target.m_next != other.m_next);
        QCOMPARE(a->getRefCount(), 2);
        QCOMPARE(b->getRefCount(), 2);
        QCOMPARE(c->getRefCount(), 2);
    }
    QCOMPARE(destroyed.loadRelaxed(), 4);
}

void TestStatRef::chainEmptyReferenceEndsChain()
{
    QAtomicInt destroyed;
    auto* a = new TrackedStat(QStringLiteral("a"), &destroyed);
    auto* b = new TrackedStat(QStringLiteral("b"), &destroyed);
    auto* c = new TrackedStat(QStringLiteral("c"), &destroyed);
    auto* d = new TrackedStat(QStringLiteral("d"), &destroyed);

    StatRef ref;
    buildChain(ref, a, b, c);

    // An empty reference with a chain of its own.
    StatRef tail(d);
    StatRef empty(nullptr);
    empty.chain(tail);
    QCOMPARE(d->getRefCount(), 2);

    ref.chain(empty);
    QCOMPARE(ref.m_stat, a);
    QCOMPARE(ref.m_next, nullptr);
    QCOMPARE(a->getRefCount(), 1);
    QCOMPARE(d->getRefCount(), 2);
    QCOMPARE(destroyed.loadRelaxed(), 2);
}

void TestStatRef::chainReplacesRatherThanAppends()
{
    QAtomicInt destroyed;
    auto* a = new TrackedStat(QStringLiteral("a"), &destroyed);
    auto* b = new TrackedStat(QStringLiteral("b"), &destroyed);
    auto* c = new TrackedStat(QStringLiteral("c"), &destroyed);
    auto* x = new TrackedStat(QStringLiteral("x"), &destroyed);
    auto* y = new TrackedStat(QStringLiteral("y"), &destroyed);
    {
        StatRef ref;
        buildChain(ref, a, b, c);

        StatRef second(y);
        StatRef other(x);
        other.chain(second);

        ref.chain(other);
        QCOMPARE(chainLength(ref), 3);
        QCOMPARE(ref.m_stat, a);
        QCOMPARE(ref.m_next->m_stat, x);
        QCOMPARE(ref.m_next->m_next->m_stat, y);
        QVERIFY(ref.m_next != &other);
        QCOMPARE(x->getRefCount(), 2);
        QCOMPARE(y->getRefCount(), 3);
        // The former chain b -> c is gone.
        QCOMPARE(destroyed.loadRelaxed(), 2);
    }
    QCOMPARE(destroyed.loadRelaxed(), 5);
}

void TestStatRef::derivedStatusDestroyedThroughOwnDestructor()
{
    QAtomicInt destroyed;
    {
        StatRef ref(new TrackedStat(QStringLiteral("derived"), &destroyed));
        QCOMPARE(ref.m_stat->getCode(), QStringLiteral("derived"));
        QCOMPARE(ref.m_stat->getMsg(), QStringLiteral("message derived"));
    }
    QCOMPARE(destroyed.loadRelaxed(), 1);
}

void TestStatRef::sharedAcrossThreads()
{
    constexpr int threadCount = 4;
    constexpr int rounds = 20000;

    QAtomicInt destroyed[3];
    TrackedStat* stats[3] = {
        new TrackedStat(QStringLiteral("a"), &destroyed[0]),
        new TrackedStat(QStringLiteral("b"), &destroyed[1]),
        new TrackedStat(QStringLiteral("c"), &destroyed[2]),
    };

    std::atomic<bool> go { false };
    QAtomicInt failures;
    std::vector<std::unique_ptr<QThread>> threads;
    {
        StatRef master;
        buildChain(master, stats[0], stats[1], stats[2]);
        for (int t = 0; t < threadCount; ++t) {
            // Each thread owns one copy of the chain; the three statuses are shared by all.
            auto own = std::make_shared<StatRef>(master);
            threads.emplace_back(QThread::create([own, &go, &failures, &stats] {
                while (!go.load()) {
                    QThread::yieldCurrentThread();
                }
                for (int i = 0; i < rounds; ++i) {
                    StatRef copy(*own);
                    StatRef other(copy.m_next->m_stat);
                    other.chain(copy);
                    copy.assign(copy.m_next->m_next->m_stat, &other);
                    if (chainLength(copy) != 5 || copy.m_stat != stats[2]) {
                        failures.ref();
                    }
                    StatRef reassigned(nullptr);
                    reassigned.assign(copy.m_stat, copy.m_next);
                    reassigned.assign(own->m_stat, nullptr);
                }
                // Drop this thread's references; the last thread to do so deletes the statuses.
                own->assign(nullptr, nullptr);
            }));
        }
        for (const StatBase* stat : stats) {
            QCOMPARE(stat->getRefCount(), threadCount + 1);
        }
    }
    // Only the threads hold the statuses now.
    for (const StatBase* stat : stats) {
        QCOMPARE(stat->getRefCount(), threadCount);
    }

    for (const auto& thread : threads) {
        thread->start();
    }
    go.store(true);
    for (const auto& thread : threads) {
        QVERIFY(thread->wait(120000));
    }

    QCOMPARE(failures.loadRelaxed(), 0);
    for (const QAtomicInt& count : destroyed) {
        QCOMPARE(count.loadRelaxed(), 1);
    }
}

QTEST_GUILESS_MAIN(TestStatRef)

#include "tst_statref.moc"
