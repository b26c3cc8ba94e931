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
    if (displaySystem() != before)
        Q_EMIT displaySystemChanged();
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
