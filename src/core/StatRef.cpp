#include <kivo/core/StatRef.h>

#include <kivo/core/StatBase.h>

namespace kivo {

StatRef::StatRef(StatBase* stat)
    : m_stat(stat)
{
    if (m_stat) {
        m_stat->m_refCount.ref();
    }
}

// Links are copied and destroyed in loops rather than by recursion so that a long chain cannot
// exhaust the stack; the result is the same as copying and deleting link by link.
StatRef::StatRef(const StatRef& other)
    : m_stat(other.m_stat)
{
    if (m_stat) {
        m_stat->m_refCount.ref();
    }
    StatRef* tail = this;
    for (const StatRef* link = other.m_next; link; link = link->m_next) {
        tail->m_next = new StatRef(link->m_stat);
        tail = tail->m_next;
    }
}

StatRef::~StatRef()
{
    // The releaser that brings the count to zero deletes the status at once, in its own
    // thread; the virtual destructor reaches classes derived from StatBase.
    if (m_stat) {
        if (!m_stat->m_refCount.deref()) {
            delete m_stat;
        }
        m_stat = nullptr;
    }
    StatRef* link = m_next;
    m_next = nullptr;
    while (link) {
        StatRef* following = link->m_next;
        link->m_next = nullptr;
        delete link;
        link = following;
    }
}

StatRef& StatRef::assign(StatBase* stat, StatRef* next)
{
    // Referencing the new status before releasing the old one keeps a status alive when it is
    // assigned to the link that already holds it.
    if (stat) {
        stat->m_refCount.ref();
    }
    if (m_stat && !m_stat->m_refCount.deref()) {
        delete m_stat;
    }
    m_stat = stat;
    if (m_next) {
        delete m_next;
        m_next = nullptr;
    }
    if (next) {
        m_next = new StatRef(*next);
    }
    return *this;
}

void StatRef::chain(const StatRef& other)
{
    if (m_next) {
        delete m_next;
        m_next = nullptr;
    }
    if (!other.m_stat) {
        return;
    }
    m_next = new StatRef(other);
}

} // namespace kivo
