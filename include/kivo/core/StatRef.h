#pragma once

#include <kivo/kivodpoints_export.h>

namespace kivo {

class StatBase;

/// Value handle on a chain of shared status objects. An empty StatRef (no status) means
/// success. Each link owns the next link; the status objects are shared and counted.
/// Not synchronised: whoever owns a StatRef guards it.
class KIVODPOINTS_EXPORT StatRef
{
public:
    /// Holds stat (null for an empty, successful reference); no chain.
    StatRef(StatBase* stat = nullptr);
    /// Shares other's status and copies other's chain link by link.
    StatRef(const StatRef& other);
    ~StatRef();

    StatRef& operator=(const StatRef&) = delete;

    /// Replaces the held status and the chain (next is copied); returns this reference.
    /// next must not be a link of this reference's own chain.
    StatRef& assign(StatBase* stat, StatRef* next);
    /// Replaces the chain behind this link by a copy of other; an empty other ends the chain here.
    /// other must not be a link of this reference's own chain.
    void chain(const StatRef& other);

    StatBase* m_stat = nullptr; ///< the status of this link; null for success
    StatRef* m_next = nullptr; ///< the next link, owned by this one; null at the end of the chain
};

} // namespace kivo
