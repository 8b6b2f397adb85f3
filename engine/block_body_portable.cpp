#include "block_body_entries.h"

namespace lumivox::engine {

namespace {

    using kernel::BlockSettings;

    LUMIVOX_BLOCK_BODY(Portable, , 2)

} // namespace

BlockBody blockBodyPortable() { return bodyPortable(); }

} // namespace lumivox::engine
