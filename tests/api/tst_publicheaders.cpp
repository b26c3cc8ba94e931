#include <kivo/kivodpoints.h>

#include <QFile>
#include <QRegularExpression>
#include <QtTest>

class TestPublicHeaders : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void umbrellaIncludesEveryHeader()
    {
        QFile umbrella(QStringLiteral(KIVO_UMBRELLA_HEADER));
        QVERIFY(umbrella.open(QIODevice::ReadOnly | QIODevice::Text));
        QStringList included;
        auto it = QRegularExpression(QStringLiteral("#include <([^>]+)>"))
                      .globalMatch(QString::fromUtf8(umbrella.readAll()));
        while (it.hasNext())
            included << it.next().captured(1);
        QStringList missing = QStringLiteral(KIVO_PUBLIC_HEADERS).split(QLatin1Char(','));
        missing.erase(std::remove_if(missing.begin(), missing.end(),
                          [&](const QString& header) { return included.contains(header); }),
            missing.end());
        QCOMPARE(missing, QStringList());
    }
};

QTEST_GUILESS_MAIN(TestPublicHeaders)
#include "tst_publicheaders.moc"
