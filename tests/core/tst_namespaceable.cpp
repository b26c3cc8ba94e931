#include <kivo/core/AppRegistry.h>
#include <kivo/core/Namespaceable.h>

#include <QHash>
#include <QMetaMethod>
#include <QMetaObject>
#include <QScopedPointer>
#include <QTest>

using kivo::AppRegistry;
using kivo::Namespaceable;

namespace {

QObject* makeChild(QObject* parent, const QString& name)
{
    auto* child = new QObject(parent);
    child->setObjectName(name);
    return child;
}

} // namespace

class TestNamespaceable : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void findItem_data();
    void findItem();
    void findItemMatchesQtFindChild();
    void findItemWithNullNameTakesFirstChild();
    void findItemInEmptyNamespace();

    void indexBounds_data();
    void indexBounds();
    void sizeAndNamesWithUnnamedChildren();
    void onlyUnnamedChild();

    void dynamicProperties();
    void propertyInvokablesThroughMetaObject();
    void metaObjectLayout();

    void appRegistryTakesParent();

private:
    // Tree used by the search tests (names as set with setObjectName):
    //   root
    //   +- alpha
    //   |  +- shared        (grandchild; a direct child has the same name)
    //   |  +- deep
    //   |  +- mid
    //   |  |  +- far        (great-grandchild under the first child)
    //   |  +- (unnamed)     (grandchild without name)
    //   +- shared
    //   +- Capital
    //   +- beta
    //   |  +- far           (grandchild under a later child)
    //   |  +- MixedCase
    //   +- (unnamed)
    QScopedPointer<AppRegistry> m_root;
    QHash<QString, QObject*> m_nodes;
};

void TestNamespaceable::init()
{
    m_root.reset(new AppRegistry(nullptr));
    m_nodes.clear();
    QObject* alpha = makeChild(m_root.data(), QStringLiteral("alpha"));
    m_nodes.insert(QStringLiteral("alpha"), alpha);
    m_nodes.insert(QStringLiteral("alpha/shared"), makeChild(alpha, QStringLiteral("shared")));
    m_nodes.insert(QStringLiteral("alpha/deep"), makeChild(alpha, QStringLiteral("deep")));
    QObject* mid = makeChild(alpha, QStringLiteral("mid"));
    m_nodes.insert(QStringLiteral("alpha/mid"), mid);
    m_nodes.insert(QStringLiteral("alpha/mid/far"), makeChild(mid, QStringLiteral("far")));
    m_nodes.insert(QStringLiteral("alpha/unnamed"), makeChild(alpha, QString()));
    m_nodes.insert(QStringLiteral("shared"), makeChild(m_root.data(), QStringLiteral("shared")));
    m_nodes.insert(QStringLiteral("Capital"), makeChild(m_root.data(), QStringLiteral("Capital")));
    QObject* beta = makeChild(m_root.data(), QStringLiteral("beta"));
    m_nodes.insert(QStringLiteral("beta"), beta);
    m_nodes.insert(QStringLiteral("beta/far"), makeChild(beta, QStringLiteral("far")));
    m_nodes.insert(QStringLiteral("beta/MixedCase"), makeChild(beta, QStringLiteral("MixedCase")));
    m_nodes.insert(QStringLiteral("unnamed"), makeChild(m_root.data(), QString()));
}

void TestNamespaceable::cleanup()
{
    m_nodes.clear();
    m_root.reset();
}

void TestNamespaceable::findItem_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected"); // key into m_nodes; empty for "not found"

    QTest::newRow("direct child, exact case") << "alpha"
                                              << "alpha";
    QTest::newRow("direct child, upper case request") << "ALPHA"
                                                      << "alpha";
    QTest::newRow("direct child, mixed case request") << "bEtA"
                                                      << "beta";
    QTest::newRow("grandchild") << "deep"
                                << "alpha/deep";
    QTest::newRow("grandchild, mixed case request") << "DeEp"
                                                    << "alpha/deep";
    QTest::newRow("direct child before grandchild") << "shared"
                                                    << "shared";
    QTest::newRow("first child's subtree before later child's subtree") << "far"
                                                                        << "alpha/mid/far";
    QTest::newRow("capital in name, exact request") << "Capital"
                                                    << "";
    QTest::newRow("capital in name, lower-case request") << "capital"
                                                         << "";
    QTest::newRow("capital in grandchild name") << "MixedCase"
                                                << "";
    QTest::newRow("unknown name") << "gamma"
                                  << "";
    QTest::newRow("name with blank") << " alpha"
                                     << "";
    QTest::newRow("empty name: unnamed direct child before unnamed grandchild") << ""
                                                                                << "unnamed";
}

void TestNamespaceable::findItem()
{
    QFETCH(QString, name);
    QFETCH(QString, expected);

    // An empty name in the table stands for an empty, non-null request.
    const QString request = name.isNull() ? QString(QLatin1String("")) : name;
    QVERIFY(!request.isNull());
    QObject* found = m_root->getNamespaceItem(request);
    if (expected.isEmpty()) {
        QCOMPARE(found, nullptr);
    } else {
        QVERIFY(m_nodes.contains(expected));
        QCOMPARE(found, m_nodes.value(expected));
    }
}

void TestNamespaceable::findItemMatchesQtFindChild()
{
    // Every all-lower-case name in the tree must come back as QObject::findChild finds it.
    const QStringList names = { QStringLiteral("alpha"), QStringLiteral("shared"),
        QStringLiteral("deep"), QStringLiteral("mid"), QStringLiteral("far"),
        QStringLiteral("beta"), QString(QLatin1String("")) };
    for (const QString& name : names) {
        QCOMPARE(m_root->getNamespaceItem(name),
            m_root->findChild<QObject*>(name, Qt::FindChildrenRecursively));
    }
}

void TestNamespaceable::findItemWithNullNameTakesFirstChild()
{
    QCOMPARE(m_root->getNamespaceItem(QString()), m_nodes.value(QStringLiteral("alpha")));

    AppRegistry unnamedFirst;
    QObject* first = makeChild(&unnamedFirst, QString());
    makeChild(&unnamedFirst, QStringLiteral("second"));
    QCOMPARE(unnamedFirst.getNamespaceItem(QString()), first);

    // A null name takes the first direct child; an empty one looks for an unnamed object.
    AppRegistry namedFirst;
    QObject* named = makeChild(&namedFirst, QStringLiteral("named"));
    QObject* unnamedGrandchild = makeChild(named, QString());
    QCOMPARE(namedFirst.getNamespaceItem(QString()), named);
    QCOMPARE(namedFirst.getNamespaceItem(QString(QLatin1String(""))), unnamedGrandchild);
}

void TestNamespaceable::findItemInEmptyNamespace()
{
    AppRegistry empty;
    QCOMPARE(empty.getNamespaceItem(QString()), nullptr);
    QCOMPARE(empty.getNamespaceItem(QString(QLatin1String(""))), nullptr);
    QCOMPARE(empty.getNamespaceItem(QStringLiteral("alpha")), nullptr);
    QCOMPARE(empty.getNamespaceIndex(0), nullptr);
    QCOMPARE(empty.getNamespaceSize(), 0);
    QCOMPARE(empty.getNamespaceNames(), QStringList());
}

void TestNamespaceable::indexBounds_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("expected");

    QTest::newRow("negative") << -1 << "";
    QTest::newRow("far negative") << -1000 << "";
    QTest::newRow("first") << 0 << "alpha";
    QTest::newRow("middle, name with capital") << 2 << "Capital";
    QTest::newRow("last, unnamed") << 4 << "unnamed";
    QTest::newRow("size") << 5 << "";
    QTest::newRow("beyond size") << 6 << "";
}

void TestNamespaceable::indexBounds()
{
    QFETCH(int, index);
    QFETCH(QString, expected);

    QCOMPARE(m_root->getNamespaceSize(), 5);
    QObject* found = m_root->getNamespaceIndex(index);
    if (expected.isEmpty()) {
        QCOMPARE(found, nullptr);
    } else {
        QCOMPARE(found, m_nodes.value(expected));
    }
}

void TestNamespaceable::sizeAndNamesWithUnnamedChildren()
{
    AppRegistry registry;
    QObject* a = makeChild(&registry, QStringLiteral("a"));
    QObject* unnamed = makeChild(&registry, QString());
    QObject* emptyName = makeChild(&registry, QString(QLatin1String("")));
    QObject* b = makeChild(&registry, QStringLiteral("Bee"));
    makeChild(a, QStringLiteral("grandchild"));

    QCOMPARE(registry.getNamespaceSize(), 4);
    QCOMPARE(registry.getNamespaceNames(), QStringList({ "a", "Bee" }));
    QCOMPARE(registry.getNamespaceIndex(0), a);
    QCOMPARE(registry.getNamespaceIndex(1), unnamed);
    QCOMPARE(registry.getNamespaceIndex(2), emptyName);
    QCOMPARE(registry.getNamespaceIndex(3), b);

    // Adoption order, not name order; a child leaving the namespace is no longer counted.
    delete a;
    QCOMPARE(registry.getNamespaceSize(), 3);
    QCOMPARE(registry.getNamespaceIndex(0), unnamed);
    QCOMPARE(registry.getNamespaceNames(), QStringList({ "Bee" }));
}

void TestNamespaceable::onlyUnnamedChild()
{
    AppRegistry registry;
    makeChild(&registry, QString());
    QCOMPARE(registry.getNamespaceSize(), 1);
    QCOMPARE(registry.getNamespaceNames(), QStringList());
}

void TestNamespaceable::dynamicProperties()
{
    AppRegistry registry;
    QCOMPARE(registry.getPropertyCount(), 0);
    QCOMPARE(registry.getPropertyName(0), QString());
    QVERIFY(!registry.getProperty("Worksheet").isValid());

    registry.setProperty("Worksheet", QStringLiteral("Main"));
    registry.setProperty("ShowVar", 7);
    registry.setProperty("gr\xc3\xbcn", true); // UTF-8 name
    registry.setProperty("Worksheet", QStringLiteral("Other")); // keeps its first position

    QCOMPARE(registry.getPropertyCount(), 3);
    QCOMPARE(registry.getPropertyName(0), QStringLiteral("Worksheet"));
    QCOMPARE(registry.getPropertyName(1), QStringLiteral("ShowVar"));
    QCOMPARE(registry.getPropertyName(2), QString::fromUtf8("gr\xc3\xbcn"));
    QCOMPARE(registry.getPropertyName(-1), QString());
    QCOMPARE(registry.getPropertyName(3), QString());

    QCOMPARE(registry.getProperty("Worksheet"), QVariant(QStringLiteral("Other")));
    QCOMPARE(registry.getProperty("ShowVar"), QVariant(7));
    QCOMPARE(registry.getProperty("gr\xc3\xbcn"), QVariant(true));
    QVERIFY(!registry.getProperty("showvar").isValid());
    QVERIFY(!registry.getProperty(QByteArray()).isValid());

    // Declared properties are readable but are not counted as dynamic ones.
    registry.setObjectName(QStringLiteral("root"));
    QCOMPARE(registry.getProperty("objectName"), QVariant(QStringLiteral("root")));
    QCOMPARE(registry.getPropertyCount(), 3);

    // Setting an invalid value removes a dynamic property.
    registry.setProperty("ShowVar", QVariant());
    QCOMPARE(registry.getPropertyCount(), 2);
    QCOMPARE(registry.getPropertyName(1), QString::fromUtf8("gr\xc3\xbcn"));
}

void TestNamespaceable::propertyInvokablesThroughMetaObject()
{
    AppRegistry registry;
    registry.setProperty("LargeDisplay", QStringLiteral("yes"));
    QObject* object = &registry;

    int count = -1;
    QVERIFY(QMetaObject::invokeMethod(
        object, "getPropertyCount", Qt::DirectConnection, Q_RETURN_ARG(int, count)));
    QCOMPARE(count, 1);

    QString name;
    QVERIFY(QMetaObject::invokeMethod(object, "getPropertyName", Qt::DirectConnection,
        Q_RETURN_ARG(QString, name), Q_ARG(int, 0)));
    QCOMPARE(name, QStringLiteral("LargeDisplay"));

    QVERIFY(QMetaObject::invokeMethod(object, "getPropertyName", Qt::DirectConnection,
        Q_RETURN_ARG(QString, name), Q_ARG(int, 1)));
    QCOMPARE(name, QString());

    QVariant value;
    QVERIFY(QMetaObject::invokeMethod(object, "getProperty", Qt::DirectConnection,
        Q_RETURN_ARG(QVariant, value), Q_ARG(QByteArray, QByteArray("LargeDisplay"))));
    QCOMPARE(value, QVariant(QStringLiteral("yes")));

    QVERIFY(QMetaObject::invokeMethod(object, "getProperty", Qt::DirectConnection,
        Q_RETURN_ARG(QVariant, value), Q_ARG(QByteArray, QByteArray("missing"))));
    QVERIFY(!value.isValid());
}

void TestNamespaceable::metaObjectLayout()
{
    const QMetaObject& meta = Namespaceable::staticMetaObject;
    QCOMPARE(meta.className(), "kivo::Namespaceable");
    QCOMPARE(meta.superClass(), &QObject::staticMetaObject);

    QCOMPARE(meta.methodCount() - meta.methodOffset(), 4);
    const QMetaMethod changed = meta.method(meta.methodOffset());
    QCOMPARE(changed.methodSignature(), QByteArray("namespaceInventoryChanged()"));
    QCOMPARE(changed.methodType(), QMetaMethod::Signal);
    QCOMPARE(changed.access(), QMetaMethod::Public);

    const QByteArray invokables[]
        = { "getPropertyCount()", "getPropertyName(int)", "getProperty(QByteArray)" };
    const int returnTypes[] = { QMetaType::Int, QMetaType::QString, QMetaType::QVariant };
    for (int i = 0; i < 3; ++i) {
        const QMetaMethod method = meta.method(meta.methodOffset() + 1 + i);
        QCOMPARE(method.methodSignature(), invokables[i]);
        QCOMPARE(method.methodType(), QMetaMethod::Method);
        QCOMPARE(method.access(), QMetaMethod::Public);
        QCOMPARE(method.returnType(), returnTypes[i]);
    }
    QCOMPARE(meta.propertyCount(), meta.propertyOffset());
    QCOMPARE(meta.enumeratorCount(), meta.enumeratorOffset());

    const QMetaObject& app = AppRegistry::staticMetaObject;
    QCOMPARE(app.className(), "kivo::AppRegistry");
    QCOMPARE(app.superClass(), &meta);
    QCOMPARE(app.methodCount(), app.methodOffset());
    QCOMPARE(app.propertyCount(), app.propertyOffset());
    QCOMPARE(app.enumeratorCount(), app.enumeratorOffset());
}

void TestNamespaceable::appRegistryTakesParent()
{
    QObject owner;
    auto* registry = new AppRegistry(&owner);
    QCOMPARE(registry->parent(), &owner);
    QCOMPARE(owner.children(), QObjectList({ registry }));

    auto* nested = new AppRegistry(registry);
    QCOMPARE(registry->getNamespaceSize(), 1);
    QCOMPARE(registry->getNamespaceIndex(0), nested);

    AppRegistry orphan;
    QCOMPARE(orphan.parent(), nullptr);
}

QTEST_GUILESS_MAIN(TestNamespaceable)

#include "tst_namespaceable.moc"
