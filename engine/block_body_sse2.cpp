#include "block_body_entries.h"

#if defined(__x86_64__) || defined(__i386__)
namespace lumivox::engine {

namespace {

    using kernel::BlockSettings;

    LUMIVOX_BLOCK_BODY(Sse2, __attribute__((target("sse2"))), 2)

} // namespace

BlockBody blockBodySse2() { return bodySse2(); }

} // namespace lumivox::engine
#endif
