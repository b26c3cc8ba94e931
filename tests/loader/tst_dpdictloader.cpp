#include <QtTest>

class Tsttst_dpdictloader : public QObject
{
    Q_OBJECT
};

QTEST_GUILESS_MAIN(Tsttst_dpdictloader)
#include "tst_dpdictloader.moc"
