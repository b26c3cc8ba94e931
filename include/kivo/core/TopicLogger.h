#pragma once

#include <kivo/kivodpoints_export.h>

#include <QString>

namespace kivo {

/// Process-wide table of diagnostic trace topics, each switched on or off. Static only.
/// Trace code tests a flag inline by id before writing anything:
/// `if (id >= 0 && id < TopicLogger::m_maxTopics && TopicLogger::m_topics[id])`.
/// The flags are not locked; setTopicListString and disableAllTopics must not overlap.
class KIVODPOINTS_EXPORT TopicLogger
{
public:
    TopicLogger() = delete;

    static constexpr int m_maxTopics = 14; ///< the number of topics; ids run from 0 to 13
    static const QString m_topicNames[m_maxTopics]; ///< the topic names, indexed by id
    static bool m_topics[m_maxTopics]; ///< whether each topic is on, indexed by id

    /// Id of the first topic named exactly name; 0 (the id of "ALL") when none is.
    static int topicIdForName(const QString& name);
    /// Switches every topic off.
    static void disableAllTopics();
    /// The whole table as a topic list: "+Name" or "-Name" for each topic, joined by commas.
    static QString getTopicListString();
    /// Applies a comma-separated topic list ("+Name", "-Name" or "Name"); unknown names are
    /// ignored.
    static void setTopicListString(const QString& list);
};

/// The process's committed private memory in bytes, clamped to 32 bits; 0 when it cannot be read.
KIVODPOINTS_EXPORT quint32 GetMemoryConsumed();

} // namespace kivo
