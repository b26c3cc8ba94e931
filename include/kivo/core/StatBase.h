#pragma once

#include <kivo/kivodpoints_export.h>

#include <QAtomicInt>
#include <QObject>
#include <QString>
#include <QStringList>

namespace kivo {

/// A status object: how an operation ended, as a code and a message. Shared between
/// StatRef links by an atomic count; the last StatRef to release it deletes it.
/// A status never handed to a StatRef is its creator's to delete.
class KIVODPOINTS_EXPORT StatBase : public QObject
{
    Q_OBJECT
public:
    /// A status with that code, message and further texts, held by no StatRef yet.
    explicit StatBase(const QString& code = QString(), const QString& msg = QString(),
        const QStringList& details = QStringList());
    ~StatBase() override;

    /// The status code text.
    virtual const QString& getCode() const;
    /// The status message text.
    virtual const QString& getMsg() const;

    /// Number of StatRef links that hold this status (0 when created).
    int getRefCount() const;
    /// Further texts carried by the status.
    const QStringList& getDetails() const;

private:
    friend class StatRef;

    QAtomicInt m_refCount { 0 };
    QString m_code;
    QString m_msg;
    QStringList m_details;
};

} // namespace kivo
