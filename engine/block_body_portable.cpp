#include "block_body_entries.h"

namespace lumivox::engine {

// On x86-64 every processor has SSE2 and the compiler's plain two-lane code is the SSE2 body's
// machine code, so the portable unit runs that body rather than a second copy of it (the longest
// file of the build to compile). Elsewhere it has a body of its own.
#if defined(__x86_64__)
BlockBody blockBodyPortable() { return blockBodySse2(); }
#else
namespace {

    using kernel::BlockSettings;

    LUMIVOX_BLOCK_BODY(Portable, , 2)

} // namespace

BlockBody blockBodyPortable() { return bodyPortable(); }
#endif

} // namespace lumivox::engine
