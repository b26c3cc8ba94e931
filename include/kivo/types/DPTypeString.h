#pragma once

#include <kivo/types/DPTypeBase.h>

namespace kivo {

/// Text point type: default text, allowed character-set pattern, format and maximum length.
class KIVODPOINTS_EXPORT DPTypeString : public DPTypeBase
{
    Q_OBJECT
public:
    /// A descriptor with empty texts and maximum length 0.
    explicit DPTypeString(QObject* parent = nullptr);
    ~DPTypeString() override;

    /// The default text.
    QVariant getDefaultValue() const override;
    /// "type", "default", "charSet" (JSON-escaped), "format" and "maxLen".
    QString toJson() const override;
    /// Assigns default, character set, format and maximum length; returns this descriptor.
    virtual DPTypeString* _init(
        const QString& defaultText, const QString& charSet, const QString& format, int maxLen);

    QString m_default; ///< the default text; JSON "default"
    QString m_charSet; ///< the pattern of the characters allowed; JSON "charSet"
    QString m_format; ///< the display format text; JSON "format"
    int m_maxLen = 0; ///< the maximum length; JSON "maxLen"
};

} // namespace kivo
