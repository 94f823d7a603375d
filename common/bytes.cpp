#include "common/bytes.h"

#include <algorithm>
#include <cstdlib>

#include "common/msg.h"

namespace mf {

void u_swap_bytes(void* value, int size) {
    if (size != 2 && size != 4 && size != 8) {
        u_sink("u_swap_bytes: n=%d\n", size);
        std::abort();
    }
    auto* bytes = static_cast<unsigned char*>(value);
    std::reverse(bytes, bytes + size);
}

}  // namespace mf
