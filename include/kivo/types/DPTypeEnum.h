#pragma once

#include <kivo/types/DPTypeBase.h>

#include <QHash>

namespace kivo {

/// Enumeration point type: an integer value standing for one of a set of labelled choices.
class KIVODPOINTS_EXPORT DPTypeEnum : public DPTypeBase
{
    Q_OBJECT
public:
    /// A descriptor without labels and default key 0.
    explicit DPTypeEnum(QObject* parent = nullptr);
    ~DPTypeEnum() override;

    /// The default key as an int.
    QVariant getDefaultValue() const override;
    /// "type", "default" and "values" (entries sorted by key).
    QString toJson() const override;
    /// Assigns the default key and the label table; returns this descriptor.
    virtual DPTypeEnum* _init(int defaultKey, const QHash<int, QString>& values);

    QHash<int, QString> m_values; ///< the label of each key
    int m_default = 0; ///< the default key
};

} // namespace kivo
