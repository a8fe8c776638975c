// The model record the window keeps from one estimate to the next: the integer and real halves the
// library reads, and how far the estimate command filled each.
#pragma once

#include <cstdint>

#include "OneBased.h"
#include "kestrum.h"

namespace kestrum {

struct ModelRecord {
    OneBased<std::int32_t, KESTRUM_IUSER_SIZE> IUSER;
    OneBased<double, KESTRUM_USER_SIZE> USER;
    std::int32_t NIUSER = 0; // next IUSER slot while the frequencies are stored: 14 afterwards
    std::int32_t NUSER = 0;  // USER slots filled: 8
};

} // namespace kestrum
