#pragma once

#include <kivo/kivoremote_export.h>

#include <QByteArray>
#include <QMetaType>
#include <QString>

namespace kivo {

/// One MQTT application message as it is published or received, with the MQTT 5 properties of
/// a request and its response. A plain value.
struct KIVOREMOTE_EXPORT MqttMessage
{
    QString topic; ///< the topic published to or received on
    QByteArray payload; ///< the message body
    int qos = 1; ///< 0, 1 or 2
    bool retain = false; ///< the broker keeps the message for later subscribers
    QString responseTopic; ///< where a request wants its response; empty for none
    QByteArray correlationData; ///< carried back unchanged in the response
    int messageExpiry = 0; ///< seconds the broker keeps the message for a subscriber; 0: no limit
};

} // namespace kivo

Q_DECLARE_METATYPE(kivo::MqttMessage)
