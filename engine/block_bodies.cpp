#include "block_body.h"

namespace lumivox::engine {

BlockBody bodyFor(VectorUnit unit)
{
    switch (unit) {
#if defined(__x86_64__) || defined(__i386__)
    case VectorUnit::Sse2:
        return blockBodySse2();
    case VectorUnit::Avx2:
        return blockBodyAvx2();
    case VectorUnit::Avx512:
        return blockBodyAvx512();
#endif
    default:
        return blockBodyPortable();
    }
}

} // namespace lumivox::engine
