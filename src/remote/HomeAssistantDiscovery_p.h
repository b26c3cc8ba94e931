#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace kivo {

class DPointObject;

// Home Assistant's MQTT device discovery for a published device: one retained configuration
// that lists a component per point, reading and writing the link's own payloads.
namespace HomeAssistantDiscovery {

/// The configuration topic: "<discoveryPrefix>/device/<prefix>_<device>/config", the prefix's
/// characters outside [A-Za-z0-9_-] written as '_'.
QString configTopic(const QString& discoveryPrefix, const QString& prefix, const QString& device);

/// The configuration of device's points published under base ("<prefix>/<device>/"): sensors
/// for read-only numbers, texts, addresses and times, numbers with their limits and step in
/// display units for writable integer and real points, selects with the labels of enumerations,
/// texts for writable text points, binary sensors for events; availability from "$state".
QByteArray config(const QString& base, const QString& prefix, const QString& device,
    const QList<DPointObject*>& points);

} // namespace HomeAssistantDiscovery

} // namespace kivo
