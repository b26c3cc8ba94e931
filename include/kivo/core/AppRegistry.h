#pragma once

#include <kivo/core/Namespaceable.h>

namespace kivo {

/// A plain named-object root for applications; adds nothing to Namespaceable.
/// Owns its children through QObject parenthood.
class KIVODPOINTS_EXPORT AppRegistry : public Namespaceable
{
    Q_OBJECT
public:
    /// An empty root, a child of parent when one is given.
    explicit AppRegistry(QObject* parent = nullptr);
};

} // namespace kivo
