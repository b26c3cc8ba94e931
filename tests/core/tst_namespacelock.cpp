#include <kivo/core/Namespaceable.h>

#include <QTest>
#include <QThread>

#include <atomic>
#include <thread>

// Exposes the lock that the namespace reads take.
class LockProbe : public kivo::Namespaceable
{
public:
    using Namespaceable::getNamespaceLock;
};

class TestNamespaceLock : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The lock is made on first use. Threads released together on a fresh object must all get
    // the same lock (a second one would leave readers unguarded), and it must be recursive.
    void firstUseFromManyThreadsMakesOneRecursiveLock()
    {
        constexpr int threadCount = 4;
        for (int round = 0; round < 20; ++round) {
            LockProbe object;
            std::atomic<int> waiting { threadCount };
            QReadWriteLock* seen[threadCount] = {};
            std::thread threads[threadCount];
            for (int i = 0; i < threadCount; ++i) {
                threads[i] = std::thread([&, i] {
                    for (waiting.fetch_sub(1); waiting.load() > 0;)
                        std::this_thread::yield();
                    object.getNamespaceNames();
                    seen[i] = object.getNamespaceLock();
                });
            }
            for (std::thread& thread : threads)
                thread.join();
            for (int i = 0; i < threadCount; ++i)
                QCOMPARE(seen[i], seen[0]);
            QVERIFY(seen[0]->tryLockForWrite() && seen[0]->tryLockForWrite());
            seen[0]->unlock();
            seen[0]->unlock();
        }
    }
};

QTEST_GUILESS_MAIN(TestNamespaceLock)

#include "tst_namespacelock.moc"
