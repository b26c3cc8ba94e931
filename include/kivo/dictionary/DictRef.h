#pragma once

#include <kivo/kivodpoints_export.h>

#include <QMetaType>
#include <QSharedPointer>

namespace kivo {

class DPointDictionary;

/// Handle through which a dictionary is handed over. Never deletes the dictionary: the
/// receiver decides its lifetime.
class KIVODPOINTS_EXPORT DictRef
{
public:
    /// A handle on dict (null for none).
    explicit DictRef(DPointDictionary* dict = nullptr);

    /// Sets the dictionary; returns this handle.
    DictRef& assign(DPointDictionary* dict);

    DPointDictionary* m_dict = nullptr; ///< the dictionary handed over (not owned); may be null
};

/// Shared handle to a dictionary; a registered meta type named "DictRefSP".
using DictRefSP = QSharedPointer<DictRef>;

} // namespace kivo

Q_DECLARE_METATYPE(kivo::DictRefSP)
