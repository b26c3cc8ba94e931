#include "PointProvider.h"

#include <kivo/core/StatBase.h>
#include <kivo/core/StatRef.h>
#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/loader/DPDictLoader.h>
#include <kivo/measurement/MeasurementLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/points/DPointObject.h>
#include <kivo/points/checkDPointType.h>
#include <kivo/types/DPTypeNumber.h>
#ifdef KIVO_QML_REMOTE
#include <kivo/remote/DPointMirror.h>
#include <kivo/remote/MqttConnection.h>
#endif

#include <QFileInfo>
#include <QQmlContext>
#include <QQmlEngine>

#include <algorithm>
#include <cmath>

namespace kivo {

PointProvider::PointProvider(QObject* parent)
    : kivo::DPointProvider(parent)
{ }

PointProvider::~PointProvider()
{
    unload();
}

void PointProvider::setMeasurementFile(const QUrl& url)
{
    if (url == m_measurementFile)
        return;
    m_measurementFile = url;
    Q_EMIT measurementFileChanged();
    if (m_complete)
        reload();
}

void PointProvider::setDictionaries(const QList<QUrl>& urls)
{
    if (urls == m_dictionaries)
        return;
    m_dictionaries = urls;
    Q_EMIT dictionariesChanged();
    if (m_complete)
        reload();
}

QString PointProvider::displaySystem() const
{
    return m_displaySystem.isEmpty() ? kivo::MeasurementRegistry::displaySystemId : m_displaySystem;
}

void PointProvider::setDisplaySystem(const QString& id)
{
    const QString before = displaySystem();
    m_displaySystem = id;
    // The registry tells every Point and PointModel showing its definitions.
    if (m_registry)
        m_registry->setDisplaySystemId(id);
#ifdef KIVO_QML_REMOTE
    if (m_mirror && m_mirror->registry())
        m_mirror->registry()->setDisplaySystemId(id);
#endif
    if (displaySystem() != before)
        Q_EMIT displaySystemChanged();
}

void PointProvider::setBroker(const QString& url)
{
    if (url == m_broker)
        return;
    m_broker = url;
    remoteSettingChanged();
}

void PointProvider::setDevice(const QString& device)
{
    if (device == m_device)
        return;
    m_device = device;
    remoteSettingChanged();
}

void PointProvider::setUserName(const QString& userName)
{
    if (userName == m_userName)
        return;
    m_userName = userName;
    remoteSettingChanged();
}

void PointProvider::setPassword(const QString& password)
{
    if (password == m_password)
        return;
    m_password = password;
    remoteSettingChanged();
}

void PointProvider::setCaFile(const QUrl& url)
{
    if (url == m_caFile)
        return;
    m_caFile = url;
    remoteSettingChanged();
}

void PointProvider::remoteSettingChanged()
{
    Q_EMIT remoteChanged();
    if (m_complete)
        reload();
}

bool PointProvider::isOnline() const
{
    return !isRemote() || isConnected();
}

void PointProvider::setStatus(Status status, const QString& error)
{
    if (status == m_status && error == m_errorString)
        return;
    m_status = status;
    m_errorString = error;
    Q_EMIT statusChanged();
}

void PointProvider::reloadRemote()
{
#ifdef KIVO_QML_REMOTE
    m_connection = std::make_unique<kivo::MqttConnection>();
    if (!m_connection->setBrokerUrl(m_broker)) {
        m_connection.reset();
        setStatus(Error, tr("%1 is no broker address").arg(m_broker));
        return;
    }
    m_connection->setCredentials(m_userName, m_password);
    if (!m_caFile.isEmpty())
        m_connection->setCaFile(localPath(m_caFile));
    m_mirror = std::make_unique<kivo::DPointMirror>(m_connection.get(), this, m_device);
    connect(m_mirror.get(), &kivo::DPointMirror::ready, this, &PointProvider::remoteReady);
    connect(m_mirror.get(), &kivo::DPointMirror::statusChanged, this,
        &PointProvider::updateRemoteStatus);
    connect(m_mirror.get(), &kivo::DPointMirror::deviceOnlineChanged, this,
        &PointProvider::updateRemoteStatus);
    connect(m_connection.get(), &kivo::MqttConnection::errorOccurred, this,
        &PointProvider::updateRemoteStatus);
    connect(m_connection.get(), &kivo::MqttConnection::stateChanged, this,
        &PointProvider::updateRemoteStatus);
    setStatus(Connecting, QString());
    if (!m_mirror->start())
        setStatus(Error, m_mirror->errorString());
#else
    setStatus(Error, tr("Kivo.Points was built without the MQTT link"));
#endif
}

void PointProvider::remoteReady()
{
#ifdef KIVO_QML_REMOTE
    if (m_mirror->registry())
        m_mirror->registry()->setDisplaySystemId(m_displaySystem);
    m_points = pointsOf(this);
    updateRemoteStatus();
    Q_EMIT pointsChanged();
#endif
}

void PointProvider::notifyOnline()
{
    if (isOnline() == m_reportedOnline)
        return;
    m_reportedOnline = isOnline();
    Q_EMIT onlineChanged();
}

void PointProvider::updateRemoteStatus()
{
#ifdef KIVO_QML_REMOTE
    notifyOnline();
    if (!m_mirror)
        return;
    if (m_mirror->status() == kivo::DPointMirror::Error) {
        setStatus(Error, m_mirror->errorString());
        return;
    }
    // Until the files are loaded, why the broker cannot be reached is the news.
    const QString reason = m_connection->isConnected() ? QString() : m_connection->errorString();
    if (m_points.isEmpty())
        setStatus(Connecting, reason);
    else
        setStatus(m_mirror->isDeviceOnline() ? Ready : Offline, reason);
#endif
}

void PointProvider::componentComplete()
{
    m_complete = true;
    reload();
}

QString PointProvider::localPath(const QUrl& url) const
{
    QUrl resolved = url;
    if (QQmlContext* context = qmlContext(this))
        resolved = context->resolvedUrl(url);
    if (resolved.scheme() == QLatin1String("qrc"))
        return QLatin1Char(':') + resolved.path();
    return resolved.isLocalFile() || resolved.isRelative() ? resolved.toLocalFile() : QString();
}

void PointProvider::unload()
{
#ifdef KIVO_QML_REMOTE
    // The mirror leaves its points without definitions; they go below with the local ones.
    m_mirror.reset();
    m_connection.reset();
#endif
    setConnectStatus(false);
    for (kivo::DPointObject* point : qAsConst(m_points)) {
        removePoint(point->objectName());
        delete point;
    }
    m_points.clear();
    for (const auto& dict : m_dicts)
        removeDict(dict->objectName());
    m_dicts.clear();
    m_registry.reset();
}

void PointProvider::reload()
{
    const bool hadPoints = !m_points.isEmpty();
    unload();
    if (isRemote()) {
        if (hadPoints)
            Q_EMIT pointsChanged();
        reloadRemote();
        notifyOnline();
        return;
    }
    QString error;
    if (!m_measurementFile.isEmpty()) {
        const QString path = localPath(m_measurementFile);
        m_registry.reset(
            path.isEmpty() ? nullptr : kivo::MeasurementLoader::loadMeasurementRegistry(path));
        if (m_registry)
            m_registry->setDisplaySystemId(m_displaySystem);
        else
            error = tr("Cannot load the measurement file %1").arg(m_measurementFile.toString());
    }
    for (int i = 0; error.isEmpty() && i < m_dictionaries.size(); ++i) {
        const QString path = localPath(m_dictionaries.at(i));
        kivo::DPDictLoader loader(nullptr, nullptr, m_registry.get());
        QString loaderError;
        connect(&loader, &kivo::DPDictLoader::error,
            [&loaderError](const QString& text) { loaderError = text; });
        std::unique_ptr<kivo::DPointDictionary> dict(
            path.isEmpty() ? nullptr : loader.load(path, QFileInfo(path).completeBaseName()));
        if (!dict) {
            error = tr("Cannot load the dictionary %1").arg(m_dictionaries.at(i).toString());
            if (!loaderError.isEmpty())
                error += QStringLiteral(": ") + loaderError;
            break;
        }
        m_dicts.push_back(std::move(dict));
    }
    if (error.isEmpty()) {
        // One live point per definition; every dictionary is registered, so pointsOf lists them.
        for (const auto& dict : m_dicts)
            addPointsForDict(dict.get());
        m_points = pointsOf(this);
    } else {
        unload();
    }
    const Status status = !error.isEmpty()                          ? Error
        : (m_measurementFile.isEmpty() && m_dictionaries.isEmpty()) ? Null
                                                                    : Ready;
    if (status != m_status || error != m_errorString) {
        m_status = status;
        m_errorString = error;
        Q_EMIT statusChanged();
    }
    if (hadPoints || !m_points.isEmpty())
        Q_EMIT pointsChanged();
    notifyOnline();
}

QList<kivo::DPointObject*> PointProvider::pointsOf(kivo::DPointProvider* provider)
{
    QList<kivo::DPointObject*> points;
    if (!provider)
        return points;
    for (kivo::DPointDictionary* dict : provider->getAllDicts()) {
        QList<kivo::DPointDef*> defs = dict->getAllDefs();
        std::stable_sort(
            defs.begin(), defs.end(), [](const kivo::DPointDef* a, const kivo::DPointDef* b) {
                return a->m_pxcId < b->m_pxcId;
            });
        for (const kivo::DPointDef* def : qAsConst(defs)) {
            kivo::DPointObject* point = provider->getDPointByName(def->objectName());
            if (point && point->getDPointDef() == def && !points.contains(point))
                points.append(point);
        }
    }
    return points;
}

kivo::DPointObject* PointProvider::valuePoint(const QString& name, QVariant* value) const
{
    kivo::DPointObject* point = const_cast<PointProvider*>(this)->getDPointByName(name);
    if (!point)
        return nullptr;
    // Numbers from JavaScript are doubles; an integer point holds ints.
    const kivo::DPointDef* def = point->getDPointDef();
    if (def && qobject_cast<const kivo::DPTypeNumber*>(def->m_type)
        && value->userType() == QMetaType::Double && std::isfinite(value->toDouble()))
        *value = QVariant(int(std::lround(value->toDouble())));
    if (value->isValid())
        *value = kivo::checkDPointType(*value, *point);
    return point;
}

bool PointProvider::report(const QString& name, const QVariant& rawValue)
{
    QVariant value = rawValue;
    kivo::DPointObject* point = valuePoint(name, &value);
    if (!point || !value.isValid())
        return false;
    point->setCurrentValue(value);
    return true;
}

bool PointProvider::complete(
    const QString& name, const QVariant& rawValue, const QString& code, const QString& message)
{
    QVariant value = rawValue;
    kivo::DPointObject* point = valuePoint(name, &value);
    if (!point)
        return false;
    if (!value.isValid())
        value = point->isPending() ? point->getPendingValue() : point->getCurrentValue();
    point->setUpdateComplete(
        value, code.isEmpty() ? kivo::StatRef() : kivo::StatRef(new kivo::StatBase(code, message)));
    return true;
}

} // namespace kivo
