#include <kivo/core/StatBase.h>

namespace kivo {

StatBase::StatBase(const QString& code, const QString& msg, const QStringList& details)
    : QObject(nullptr)
    , m_code(code)
    , m_msg(msg)
    , m_details(details)
{ }

StatBase::~StatBase() = default;

const QString& StatBase::getCode() const
{
    return m_code;
}

const QString& StatBase::getMsg() const
{
    return m_msg;
}

int StatBase::getRefCount() const
{
    return m_refCount.loadAcquire();
}

const QStringList& StatBase::getDetails() const
{
    return m_details;
}

} // namespace kivo
