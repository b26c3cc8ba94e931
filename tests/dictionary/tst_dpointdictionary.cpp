#include <QtTest>

class Tsttst_dpointdictionary : public QObject
{
    Q_OBJECT
};

QTEST_GUILESS_MAIN(Tsttst_dpointdictionary)
#include "tst_dpointdictionary.moc"
