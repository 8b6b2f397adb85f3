#include "block_body_entries.h"

#if defined(__x86_64__) || defined(__i386__)
namespace lumivox::engine {

namespace {

    using kernel::BlockSettings;

    LUMIVOX_BLOCK_BODY(Avx2, __attribute__((target("avx2"))), 4)

} // namespace

BlockBody blockBodyAvx2() { return bodyAvx2(); }

} // namespace lumivox::engine
#endif
