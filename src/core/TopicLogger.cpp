#include <kivo/core/TopicLogger.h>

#include <QDebug>
#include <QStringList>

namespace kivo {

const QString TopicLogger::m_topicNames[m_maxTopics] = {
    QStringLiteral("ALL"),
    QStringLiteral("AppDiag"),
    QStringLiteral("Backlight"),
    QStringLiteral("Buzzer"),
    QStringLiteral("DPointCoVs"),
    QStringLiteral("DPointTrace"),
    QStringLiteral("JsonRecv"),
    QStringLiteral("JsonSend"),
    QStringLiteral("JsonStats"),
    QStringLiteral("KeyEvents"),
    QStringLiteral("MouseEvents"),
    QStringLiteral("NameMatcher"),
    QStringLiteral("NativeEvents"),
    QStringLiteral("TopicLogger"),
};

// Constant-initialised, so the initial switches hold before any dynamic initialiser runs.
bool TopicLogger::m_topics[m_maxTopics] = {
    false, // ALL
    false, // AppDiag
    false, // Backlight
    false, // Buzzer
    true, // DPointCoVs
    false, // DPointTrace
    false, // JsonRecv
    false, // JsonSend
    false, // JsonStats
    false, // KeyEvents
    false, // MouseEvents
    true, // NameMatcher
    false, // NativeEvents
    true, // TopicLogger
};

int TopicLogger::topicIdForName(const QString& name)
{
    for (int id = 0; id < m_maxTopics; ++id) {
        if (m_topicNames[id] == name) {
            return id;
        }
    }
    return 0;
}

void TopicLogger::disableAllTopics()
{
    for (bool& flag : m_topics) {
        flag = false;
    }
}

QString TopicLogger::getTopicListString()
{
    QString list;
    for (int id = 0; id < m_maxTopics; ++id) {
        if (!list.isEmpty()) {
            list += QLatin1Char(',');
        }
        list += m_topics[id] ? QLatin1Char('+') : QLatin1Char('-');
        list += m_topicNames[id];
    }
    return list;
}

void TopicLogger::setTopicListString(const QString& list)
{
    const QStringList parts = list.split(QLatin1Char(','), Qt::KeepEmptyParts);
    for (const QString& part : parts) {
        QString item = part.trimmed();
        if (item.isEmpty()) {
            continue;
        }
        bool on = true;
        const QChar sign = item.at(0);
        if (sign == QLatin1Char('+') || sign == QLatin1Char('-')) {
            on = sign == QLatin1Char('+');
            // Only the sign goes: a blank after it stays part of the name, which then matches
            // no topic.
            item.remove(0, 1);
        }
        for (int id = 0; id < m_maxTopics; ++id) {
            if (m_topicNames[id] == item) {
                m_topics[id] = on;
                break;
            }
        }
    }

    const int loggerId = topicIdForName(QStringLiteral("TopicLogger"));
    if (loggerId >= 0 && loggerId < m_maxTopics && m_topics[loggerId]) {
        qDebug() << getTopicListString();
    }
}

} // namespace kivo
