#include <kivo/kivodpoints.h>

#include <QFile>
#include <QtTest>

class TestPublicHeaders : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void umbrellaIncludesEveryHeader()
    {
        QFile umbrella(QStringLiteral(KIVO_UMBRELLA_HEADER));
        QVERIFY(umbrella.open(QIODevice::ReadOnly | QIODevice::Text));
        const QString text = QString::fromUtf8(umbrella.readAll());
        QStringList missing;
        for (const QString& header : QStringLiteral(KIVO_PUBLIC_HEADERS).split(QLatin1Char(','))) {
            if (!text.contains("#include <" + header + '>'))
                missing << header;
        }
        QCOMPARE(missing, QStringList());
    }
};

QTEST_GUILESS_MAIN(TestPublicHeaders)
#include "tst_publicheaders.moc"
