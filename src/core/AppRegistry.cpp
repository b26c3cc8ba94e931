#include <kivo/core/AppRegistry.h>

namespace kivo {

AppRegistry::AppRegistry(QObject* parent)
{
    setParent(parent);
}

} // namespace kivo
