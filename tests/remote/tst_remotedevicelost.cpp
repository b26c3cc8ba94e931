#include "MosquittoBroker.h"
#include "RemoteFixtures.h"

#include <kivo/core/StatBase.h>
#include <kivo/core/StatRef.h>
#include <kivo/core/TopicLogger.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <csignal>

using namespace kivo;
using namespace kivo::test;

// A publishing process that dies or stops answering: the panel's provider reports the device
// offline within 1.5 times the device's keep-alive of 5 s (plus the broker's own period of
// checking keep-alives when the connection stays open), and refuses new writes at once.
class TestRemoteDeviceLost : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        std::fill(TopicLogger::m_topics, TopicLogger::m_topics + TopicLogger::m_maxTopics, false);
        QVERIFY(m_broker.start());
    }

    void deviceLost_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("limit");
        // The system closes a killed process's connection: the broker sees it at once.
        QTest::newRow("killed") << SIGKILL << 7500;
        // A stopped process's connection stays open: only the keep-alive tells, and mosquitto
        // 2.0 looks at the keep-alives every 5 s.
        QTest::newRow("frozen") << SIGSTOP << 7500 + 5000;
    }

    void deviceLost()
    {
        QFETCH(int, signal);
        QFETCH(int, limit);
        const QString name = QString("lost%1").arg(QTest::currentDataTag());
        QProcess device;
        device.start(KIVO_REMOTE_DEVICE_EXE, { m_broker.url(), name });
        QVERIFY(device.waitForStarted(5000));
        Panel panel(m_broker.url(), name);
        QSignalSpy ready(&panel.mirror, &DPointMirror::ready);
        QVERIFY(panel.mirror.start());
        QVERIFY(ready.wait(10000));
        QTRY_VERIFY_WITH_TIMEOUT(panel.provider.isConnected(), 5000);
        DPointObject* point = panel.point("supplysetpoint");
        point->getCurrentValue();
        QTRY_VERIFY_WITH_TIMEOUT(point->isAvailable(), 5000);

        QSignalSpy online(&panel.provider, &DPointProvider::connectStatusChanged);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(::kill(pid_t(device.processId()), signal), 0);
        QVERIFY(online.wait(limit + 1000));
        const qint64 elapsed = timer.elapsed();
        qInfo("offline after %lld ms", elapsed);
        QVERIFY2(elapsed <= limit, qPrintable(QString::number(elapsed)));
        QCOMPARE(online.takeFirst().at(0).toBool(), false);
        QVERIFY(!panel.mirror.isDeviceOnline());

        point->setUpdatePending(850, false);
        point->commitPending();
        QVERIFY(!point->isPending());
        QCOMPARE(point->getUpdateStatus().m_stat->getMsg(), QString("The device is offline"));
        QCOMPARE(point->getCurrentValue(), QVariant(820));

        device.kill();
        QVERIFY(device.state() == QProcess::NotRunning || device.waitForFinished(5000));
    }

private:
    MosquittoBroker m_broker;
};

QTEST_GUILESS_MAIN(TestRemoteDeviceLost)
#include "tst_remotedevicelost.moc"
