#pragma once

#include <kivo/kivodpoints_export.h>

#include <QObject>
#include <QString>
#include <QVariant>

namespace kivo {

/// Abstract type descriptor of a point definition: the kind of value, its limits and labels,
/// its default, and its JSON member text. Owned by its DPointDef as a QObject child.
/// The kind is told by qobject_cast to the concrete class.
class KIVODPOINTS_EXPORT DPTypeBase : public QObject
{
    Q_OBJECT
public:
    /// A descriptor with the values of a new one; the subclasses' _init fill it.
    explicit DPTypeBase(QObject* parent = nullptr);
    ~DPTypeBase() override;

    /// The value a point of this type has before anything else is known.
    virtual QVariant getDefaultValue() const = 0;
    /// The descriptor as JSON object members without the enclosing braces, "type" first.
    virtual QString toJson() const = 0;
};

/// text made safe for the inside of a JSON string literal: backslashes doubled, everything
/// after a NUL dropped, code units above 0x7F as lowercase `\uXXXX`, quote and `\b \f \n \r \t`
/// escaped.
KIVODPOINTS_EXPORT QString jsonStringEscape(QString text);

} // namespace kivo
