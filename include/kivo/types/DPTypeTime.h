#pragma once

#include <kivo/types/DPTypeBase.h>

namespace kivo {

/// Time point type: a default time value and the epoch from which time values count.
class KIVODPOINTS_EXPORT DPTypeTime : public DPTypeBase
{
    Q_OBJECT
public:
    /// Where time values count from; JSON "epoch".
    enum Epoch {
        InvalidEpoch = 0, ///< none given
        SysUpTime = 1, ///< the controller's start
        Jan_01_1970_local_time = 2, ///< 1970-01-01 00:00, local time
        January_1 = 3, ///< the start of the year
        First_Of_Month = 4, ///< the start of the month
        Midnight = 5, ///< midnight
        Jan_01_1970_GMT = 6 ///< 1970-01-01 00:00 UTC
    };
    Q_ENUM(Epoch)

    /// A descriptor with default time 0 and an invalid epoch.
    explicit DPTypeTime(QObject* parent = nullptr);
    ~DPTypeTime() override;

    /// The default time as an int.
    QVariant getDefaultValue() const override;
    /// "type" and "epoch" (the default time is not rendered).
    QString toJson() const override;
    /// Assigns default time and epoch; returns this descriptor.
    virtual DPTypeTime* _init(int defaultTime, Epoch epoch);

    int m_default = 0; ///< the default time value (not rendered)
    Epoch m_epoch = InvalidEpoch; ///< the epoch
};

} // namespace kivo
