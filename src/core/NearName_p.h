#pragma once

#include <QString>
#include <QStringList>

namespace kivo {

/// Of names, the one that name most likely misspells: the nearest by edit distance (an insertion,
/// a deletion, a changed letter or two neighbours swapped; letter case ignored), when it is near
/// enough: one edit for names up to seven letters, two for longer ones, or, unless closeOnly,
/// a third of the name's length, or one of the two beginning with the other. Empty when none
/// is, and when name is one of names.
QString nearestName(const QString& name, const QStringList& names, bool closeOnly);

/// "; did you mean <Name>?" for a nearest name, empty for none.
QString didYouMean(const QString& nearest, bool element);

} // namespace kivo
