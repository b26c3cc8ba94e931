// Fuzz target: TopicLogger::setTopicListString with the input as UTF-8 text.
//
// Properties: the table written back by getTopicListString names every topic once, in order,
// with its sign; applying that text to a cleared table restores exactly the same switches; and
// the input is applied the same way whatever the table held before, for the topics it names.
// The switches are restored after every input.

#include "FuzzSupport.h"

#include <kivo/core/TopicLogger.h>

#include <QStringList>

#include <algorithm>
#include <array>

using namespace kivo;

namespace {

using Switches = std::array<bool, TopicLogger::m_maxTopics>;

Switches current()
{
    Switches switches;
    std::copy(std::begin(TopicLogger::m_topics), std::end(TopicLogger::m_topics), switches.begin());
    return switches;
}

void restore(const Switches& switches)
{
    std::copy(switches.begin(), switches.end(), std::begin(TopicLogger::m_topics));
}

void checkRoundTrip()
{
    const Switches before = current();
    const QString list = TopicLogger::getTopicListString();
    const QStringList items = list.split(QLatin1Char(','));
    if (items.size() != TopicLogger::m_maxTopics)
        fuzz::fail("the topic list does not hold one item per topic");
    for (int id = 0; id < TopicLogger::m_maxTopics; ++id) {
        const QString expected
            = QLatin1String(before[size_t(id)] ? "+" : "-") + TopicLogger::m_topicNames[id];
        if (items.at(id) != expected)
            fuzz::fail("a topic list item is not the topic's sign and name");
    }
    TopicLogger::disableAllTopics();
    TopicLogger::setTopicListString(list);
    if (current() != before)
        fuzz::fail("the topic list does not restore the switches");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::silenceQtMessages();
    const Switches saved = current();
    const QString input = QString::fromUtf8(reinterpret_cast<const char*>(data), int(size));

    // From all off and from all on: a topic the input switches ends the same in both runs, a
    // topic it leaves alone keeps the value it had.
    TopicLogger::disableAllTopics();
    TopicLogger::setTopicListString(input);
    const Switches fromOff = current();
    checkRoundTrip();
    restore(Switches {
        true, true, true, true, true, true, true, true, true, true, true, true, true, true });
    TopicLogger::setTopicListString(input);
    const Switches fromOn = current();
    checkRoundTrip();
    for (size_t id = 0; id < fromOff.size(); ++id) {
        if (fromOff[id] && !fromOn[id])
            fuzz::fail("a topic switched on from off was off when starting from on");
    }

    restore(saved);
    TopicLogger::setTopicListString(input);
    checkRoundTrip();
    restore(saved);
    return 0;
}
