#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

namespace kivo::test {

/// One unit of the measurement file: its id and its label.
struct UnitInfo
{
    QString id;
    QString label;
};

/// What a generated dictionary file holds.
struct GeneratedDictionary
{
    QString path;
    int points = 0;
    qint64 bytes = 0;
    /// Every variable name, in file order.
    QStringList names;
};

/// The units declared in a measurement file (MUnitDef id and Label); empty when the file
/// cannot be read.
QVector<UnitInfo> readUnits(const QString& measurementFile);

/// Writes a dictionary of points entries to path: about half integers with units, then reals,
/// enumerations, events with associated variables, texts, times and a few addresses, each with
/// external name, line id, identifier, worksheet, two display hints and access rights. The
/// same arguments always give the same file. Returns a record with an empty path on failure.
GeneratedDictionary writeDictionary(
    const QString& path, int points, const QVector<UnitInfo>& units);

} // namespace kivo::test
