#pragma once

#include <kivo/types/DPTypeBase.h>

namespace kivo {

/// Text point type: default text, allowed character-set pattern, format and maximum length.
class KIVODPOINTS_EXPORT DPTypeString : public DPTypeBase
{
    Q_OBJECT
public:
    explicit DPTypeString(QObject* parent = nullptr);
    ~DPTypeString() override;

    /// The default text.
    QVariant getDefaultValue() const override;
    /// "type", "default", "charSet" (JSON-escaped), "format" and "maxLen".
    QString toJson() const override;
    /// Assigns default, character set, format and maximum length; returns this descriptor.
    virtual DPTypeString* _init(
        const QString& defaultText, const QString& charSet, const QString& format, int maxLen);

    QString m_default;
    QString m_charSet;
    QString m_format;
    int m_maxLen = 0;
};

} // namespace kivo
