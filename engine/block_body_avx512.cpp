#include "block_body_entries.h"

#if defined(__x86_64__) || defined(__i386__)
namespace lumivox::engine {

namespace {

    using kernel::BlockSettings;

    LUMIVOX_BLOCK_BODY(Avx512, __attribute__((target("avx512f"))), 8)

} // namespace

BlockBody blockBodyAvx512() { return bodyAvx512(); }

} // namespace lumivox::engine
#endif
