#include <kivo/points/VirtualDPointObject.h>

#include "core/QtShims_p.h"

#include <kivo/points/DPointObject.h>

#include <QMetaType>

namespace kivo {

VirtualDPointObject::VirtualDPointObject(QObject* parent)
    : QObject(parent)
{ }

VirtualDPointObject::~VirtualDPointObject() = default;

void VirtualDPointObject::addDependency(QVariant dependency)
{
    QObject* object = nullptr;
    if (QMetaType(dependency.userType()).flags() & QMetaType::PointerToQObject) {
        object = *static_cast<QObject* const*>(dependency.constData());
    } else if (QtShims::convert(dependency, qMetaTypeId<DPointObject*>())) {
        object = dependency.value<DPointObject*>();
    }
    auto* point = qobject_cast<DPointObject*>(object);
    if (!point)
        return;
    connect(point, &DPointObject::valueChanged, this, &VirtualDPointObject::valueChanged);
}

} // namespace kivo
