#include <kivo/kivodpoints.h>

#include <QFile>
#include <QRegularExpression>
#include <QSet>
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
        QSet<QString> included;
        QRegularExpression include(QStringLiteral("#include <([^>]+)>"));
        auto it = include.globalMatch(text);
        while (it.hasNext())
            included.insert(it.next().captured(1));

        const QStringList headers = QStringLiteral(KIVO_PUBLIC_HEADERS).split(QLatin1Char(','));
        QStringList missing;
        for (const QString& header : headers) {
            if (!included.contains(header))
                missing << header;
        }
        QCOMPARE(missing, QStringList());
    }
};

QTEST_GUILESS_MAIN(TestPublicHeaders)
#include "tst_publicheaders.moc"
