#include <QtTest>

class Tsttst_dpointdef : public QObject
{
    Q_OBJECT
};

QTEST_GUILESS_MAIN(Tsttst_dpointdef)
#include "tst_dpointdef.moc"
