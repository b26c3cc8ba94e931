#pragma once

#include <kivo/types/DPTypeBase.h>

namespace kivo {

/// IPv4 address point type: a default address text.
class KIVODPOINTS_EXPORT DPTypeIPv4 : public DPTypeBase
{
    Q_OBJECT
public:
    /// A descriptor with an empty default address.
    explicit DPTypeIPv4(QObject* parent = nullptr);
    ~DPTypeIPv4() override;

    /// The default address text.
    QVariant getDefaultValue() const override;
    /// "type" and "default".
    QString toJson() const override;
    /// Assigns the default address; returns this descriptor. Not virtual.
    DPTypeIPv4* _init(const QString& defaultAddress);

    QString m_default; ///< the default address text
};

} // namespace kivo
