#pragma once

#include <kivo/types/DPTypeBase.h>

namespace kivo {

/// Time point type: a default time value and the epoch from which time values count.
class KIVODPOINTS_EXPORT DPTypeTime : public DPTypeBase
{
    Q_OBJECT
public:
    enum Epoch {
        InvalidEpoch = 0,
        SysUpTime = 1,
        Jan_01_1970_local_time = 2,
        January_1 = 3,
        First_Of_Month = 4,
        Midnight = 5,
        Jan_01_1970_GMT = 6
    };
    Q_ENUM(Epoch)

    explicit DPTypeTime(QObject* parent = nullptr);
    ~DPTypeTime() override;

    /// The default time as an int.
    QVariant getDefaultValue() const override;
    /// "type" and "epoch" (the default time is not rendered).
    QString toJson() const override;
    /// Assigns default time and epoch; returns this descriptor.
    virtual DPTypeTime* _init(int defaultTime, Epoch epoch);

    int m_default = 0;
    Epoch m_epoch = InvalidEpoch;
};

} // namespace kivo
