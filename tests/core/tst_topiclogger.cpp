#include <kivo/core/TopicLogger.h>

#include <QTest>

#include <vector>

using kivo::TopicLogger;

namespace {

// Flag masks: bit n is the switch of topic id n.
constexpr uint initialMask = (1u << 4) | (1u << 11) | (1u << 13);
constexpr uint allOnMask = (1u << TopicLogger::m_maxTopics) - 1;

const char initialList[] = "-ALL,-AppDiag,-Backlight,-Buzzer,+DPointCoVs,-DPointTrace,-JsonRecv,"
                           "-JsonSend,-JsonStats,-KeyEvents,-MouseEvents,+NameMatcher,"
                           "-NativeEvents,+TopicLogger";
const char traceOnList[] = "-ALL,-AppDiag,-Backlight,-Buzzer,+DPointCoVs,+DPointTrace,-JsonRecv,"
                           "-JsonSend,-JsonStats,-KeyEvents,-MouseEvents,+NameMatcher,"
                           "-NativeEvents,+TopicLogger";
const char allOffList[] = "-ALL,-AppDiag,-Backlight,-Buzzer,-DPointCoVs,-DPointTrace,-JsonRecv,"
                          "-JsonSend,-JsonStats,-KeyEvents,-MouseEvents,-NameMatcher,"
                          "-NativeEvents,-TopicLogger";
void setMask(uint mask)
{
    for (int id = 0; id < TopicLogger::m_maxTopics; ++id) {
        TopicLogger::m_topics[id] = (mask & (1u << id)) != 0;
    }
}

QStringList capturedMessages;

void captureMessage(QtMsgType, const QMessageLogContext&, const QString& message)
{
    capturedMessages.append(message);
}

} // namespace

class TestTopicLogger : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void initialTable();
    void topicIdForName_data();
    void topicIdForName();
    void disableAllTopics();
    void setTopicList_data();
    void setTopicList();
    void memoryConsumed();

private:
    std::vector<bool> m_savedFlags;
};

void TestTopicLogger::init()
{
    m_savedFlags.assign(TopicLogger::m_topics, TopicLogger::m_topics + TopicLogger::m_maxTopics);
}

void TestTopicLogger::cleanup()
{
    for (int id = 0; id < TopicLogger::m_maxTopics; ++id) {
        TopicLogger::m_topics[id] = m_savedFlags.at(id);
    }
}

void TestTopicLogger::initialTable()
{
    // Every test restores the flags, so the table still holds its load-time values here.
    QCOMPARE(TopicLogger::m_maxTopics, 14);
    QCOMPARE(TopicLogger::getTopicListString(), QString::fromLatin1(initialList));
    QVERIFY(TopicLogger::m_topics[4]);
    QVERIFY(TopicLogger::m_topics[11]);
    QVERIFY(TopicLogger::m_topics[13]);
    QVERIFY(!TopicLogger::m_topics[5]);
}

void TestTopicLogger::topicIdForName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("id");

    const char* const names[] = { "ALL", "AppDiag", "Backlight", "Buzzer", "DPointCoVs",
        "DPointTrace", "JsonRecv", "JsonSend", "JsonStats", "KeyEvents", "MouseEvents",
        "NameMatcher", "NativeEvents", "TopicLogger" };
    for (int id = 0; id < TopicLogger::m_maxTopics; ++id) {
        QTest::newRow(names[id]) << QString::fromLatin1(names[id]) << id;
    }
    QTest::newRow("lower case") << "dpointtrace" << 0;
    QTest::newRow("leading blank") << " DPointTrace" << 0;
    QTest::newRow("with sign") << "+DPointTrace" << 0;
    QTest::newRow("unknown") << "Unknown" << 0;
    QTest::newRow("empty") << "" << 0;
}

void TestTopicLogger::topicIdForName()
{
    QFETCH(QString, name);
    QFETCH(int, id);
    QCOMPARE(TopicLogger::topicIdForName(name), id);
}

void TestTopicLogger::disableAllTopics()
{
    TopicLogger::disableAllTopics();
    QCOMPARE(TopicLogger::getTopicListString(), QString::fromLatin1(allOffList));
}

void TestTopicLogger::setTopicList_data()
{
    QTest::addColumn<uint>("startMask");
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("logged");

    QTest::newRow("empty list") << initialMask << "" << initialList << true;
    QTest::newRow("blanks and commas only") << initialMask << " , ,\t,,  " << initialList << true;
    QTest::newRow("signed items surrounded by blanks")
        << initialMask << "  +DPointTrace ,  -TopicLogger  "
        << "-ALL,-AppDiag,-Backlight,-Buzzer,+DPointCoVs,+DPointTrace,-JsonRecv,-JsonSend,"
           "-JsonStats,-KeyEvents,-MouseEvents,+NameMatcher,-NativeEvents,-TopicLogger"
        << false;
    QTest::newRow("blank after the sign") << initialMask << "+ DPointTrace" << initialList << true;
    QTest::newRow("no sign switches on") << initialMask << "DPointTrace" << traceOnList << true;
    QTest::newRow("off then unsigned")
        << initialMask << "-DPointTrace,DPointTrace" << traceOnList << true;
    QTest::newRow("last occurrence wins")
        << initialMask << "+DPointTrace,-DPointTrace" << initialList << true;
    QTest::newRow("lone plus") << initialMask << "+" << initialList << true;
    QTest::newRow("lone minus") << initialMask << "-" << initialList << true;
    QTest::newRow("lone signs with blanks") << initialMask << " + , - ,+,-" << initialList << true;
    QTest::newRow("double sign") << initialMask << "+-DPointTrace,--NameMatcher" << initialList
                                 << true;
    QTest::newRow("unknown names and wrong case")
        << initialMask << "Bogus,-dpointcovs,+DPOINTTRACE,-topiclogger" << initialList << true;
    QTest::newRow("doubled commas") << initialMask << "-DPointCoVs,,+JsonRecv"
                                    << "-ALL,-AppDiag,-Backlight,-Buzzer,-DPointCoVs,"
                                       "-DPointTrace,+JsonRecv,-JsonSend,-JsonStats,-KeyEvents,"
                                       "-MouseEvents,+NameMatcher,-NativeEvents,+TopicLogger"
                                    << true;
    QTest::newRow("trailing comma, tab and newline")
        << initialMask << "\tJsonSend\n,"
        << "-ALL,-AppDiag,-Backlight,-Buzzer,+DPointCoVs,-DPointTrace,-JsonRecv,+JsonSend,"
           "-JsonStats,-KeyEvents,-MouseEvents,+NameMatcher,-NativeEvents,+TopicLogger"
        << true;
    QTest::newRow("ALL switches only itself")
        << initialMask << "ALL"
        << "+ALL,-AppDiag,-Backlight,-Buzzer,+DPointCoVs,-DPointTrace,-JsonRecv,-JsonSend,"
           "-JsonStats,-KeyEvents,-MouseEvents,+NameMatcher,-NativeEvents,+TopicLogger"
        << true;
    QTest::newRow("minus ALL from all on")
        << allOnMask << "-ALL"
        << "-ALL,+AppDiag,+Backlight,+Buzzer,+DPointCoVs,+DPointTrace,+JsonRecv,+JsonSend,"
           "+JsonStats,+KeyEvents,+MouseEvents,+NameMatcher,+NativeEvents,+TopicLogger"
        << true;
    QTest::newRow("unnamed topics keep their values")
        << allOnMask << "-Buzzer"
        << "+ALL,+AppDiag,+Backlight,-Buzzer,+DPointCoVs,+DPointTrace,+JsonRecv,+JsonSend,"
           "+JsonStats,+KeyEvents,+MouseEvents,+NameMatcher,+NativeEvents,+TopicLogger"
        << true;
    QTest::newRow("logger switched on from all off")
        << 0u << "+TopicLogger"
        << "-ALL,-AppDiag,-Backlight,-Buzzer,-DPointCoVs,-DPointTrace,-JsonRecv,-JsonSend,"
           "-JsonStats,-KeyEvents,-MouseEvents,-NameMatcher,-NativeEvents,+TopicLogger"
        << true;
    QTest::newRow("logger off then on")
        << initialMask << "-TopicLogger,+TopicLogger" << initialList << true;
    QTest::newRow("nothing logged while logger stays off") << 0u << "DPointCoVs"
                                                           << "-ALL,-AppDiag,-Backlight,-Buzzer,"
                                                              "+DPointCoVs,-DPointTrace,"
                                                              "-JsonRecv,-JsonSend,-JsonStats,"
                                                              "-KeyEvents,-MouseEvents,"
                                                              "-NameMatcher,-NativeEvents,"
                                                              "-TopicLogger"
                                                           << false;
    QTest::newRow("rendered list read back")
        << initialMask
        << "+ALL,+AppDiag,+Backlight,+Buzzer,-DPointCoVs,+DPointTrace,+JsonRecv,+JsonSend,"
           "+JsonStats,+KeyEvents,+MouseEvents,-NameMatcher,+NativeEvents,-TopicLogger"
        << "+ALL,+AppDiag,+Backlight,+Buzzer,-DPointCoVs,+DPointTrace,+JsonRecv,+JsonSend,"
           "+JsonStats,+KeyEvents,+MouseEvents,-NameMatcher,+NativeEvents,-TopicLogger"
        << false;
}

void TestTopicLogger::setTopicList()
{
    QFETCH(uint, startMask);
    QFETCH(QString, list);
    QFETCH(QString, expected);
    QFETCH(bool, logged);

    setMask(startMask);
    if (logged) {
        // The debug stream quotes the string.
        const QByteArray message = '"' + expected.toLatin1() + '"';
        QTest::ignoreMessage(QtDebugMsg, message.constData());
        TopicLogger::setTopicListString(list);
    } else {
        capturedMessages.clear();
        const QtMessageHandler previous = qInstallMessageHandler(captureMessage);
        TopicLogger::setTopicListString(list);
        qInstallMessageHandler(previous);
        QCOMPARE(capturedMessages, QStringList());
    }
    QCOMPARE(TopicLogger::getTopicListString(), expected);
}

void TestTopicLogger::memoryConsumed()
{
#ifdef Q_OS_LINUX
    const quint32 before = kivo::GetMemoryConsumed();
    QVERIFY(before > 0);
    // A block this large is mapped on its own, so the private memory grows by its size.
    std::vector<char> block(64 * 1024 * 1024, 1);
    const quint32 during = kivo::GetMemoryConsumed();
    QVERIFY2(during >= before + 32u * 1024 * 1024,
        qPrintable(QStringLiteral("%1 -> %2").arg(before).arg(during)));
    QCOMPARE(block.back(), char(1));
#else
    QSKIP("The figure is checked on Linux only");
#endif
}

QTEST_GUILESS_MAIN(TestTopicLogger)

#include "tst_topiclogger.moc"
