#pragma once

#include <kivo/kivodpoints_export.h>

#include <QMetaType>
#include <QString>
#include <QVector>

namespace kivo {

/// One thing a loader passed over, repaired or doubts in the file it read: where (file and
/// line), how grave, and an English sentence saying what and what the loader made of it. The
/// loaders keep the findings of their last load; they never change what is loaded.
struct KIVODPOINTS_EXPORT LoadFinding
{
    /// How grave a finding is.
    enum Severity {
        /// Reported for information only: the file marks it as intended.
        Note,
        /// Something read differently from what it most likely means, or passed over.
        Warning,
        /// A value that contradicts itself or cannot be held: the loaded point is surely wrong.
        Error
    };

    /// The file the finding is in, as the loader was given it.
    QString file;
    /// 1 for the first line; 0 when no line applies or the parser gave none.
    int line = 0;
    /// How grave it is.
    Severity severity = Warning;
    /// What the loader found and what it made of it.
    QString text;

    /// "file:line: warning: text" ("note", "warning" or "error"; without ":line" when line is 0).
    QString toString() const;
    /// The severity's word as toString writes it.
    static QString severityText(Severity severity);
    /// Whether a and b are equal in every member.
    friend bool operator==(const LoadFinding& a, const LoadFinding& b)
    {
        return a.line == b.line && a.severity == b.severity && a.file == b.file && a.text == b.text;
    }
};

/// findings sorted by line (stable: findings on one line keep their order).
KIVODPOINTS_EXPORT QVector<LoadFinding> sortedByLine(QVector<LoadFinding> findings);

} // namespace kivo

Q_DECLARE_METATYPE(kivo::LoadFinding)
