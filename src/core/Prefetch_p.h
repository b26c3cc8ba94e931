#pragma once

#include "core/QtShims_p.h"

#include <QString>

namespace kivo {

// Hints that start loading memory into the cache ahead of its use. Walking many objects spread
// over the heap, a function waits on one cache miss after another when it finds each address
// only where it needs the data; asking for all of them at once lets the misses overlap.
// Nothing is read, so any address, also an invalid one, is safe.

inline void prefetch(const void* address)
{
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(address);
#else
    Q_UNUSED(address);
#endif
}

// The heap block of a text: its header and, after it, the first characters; the block is found
// without reading the header, which would wait for the miss.
inline void prefetchText(const QString& text)
{
    const char* block = static_cast<const char*>(QtShims::textBlock(text));
    prefetch(block);
    prefetch(block + 63);
}

} // namespace kivo
