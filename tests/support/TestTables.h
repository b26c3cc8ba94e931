#pragma once

#include <QFile>
#include <QStringList>
#include <QTest>

// Test rows read from a table under tests/data: one row a line, fields split at "|" (tab, line
// feed and carriage return written \t, \n and \r), named by the first field.
inline void addTableRows(const QString& path)
{
    QTest::addColumn<QStringList>("row");
    QFile file(QStringLiteral(KIVO_TEST_DATA_DIR "/") + path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
    for (QString line : QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)) {
        QTest::newRow(qPrintable(line.section('|', 0, 0)))
            << line.replace("\\t", "\t").replace("\\r", "\r").replace("\\n", "\n").split('|');
    }
}
