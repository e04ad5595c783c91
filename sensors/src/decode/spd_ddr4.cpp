// DDR4 modules: not decoded yet.
#include "decode/spd.h"

namespace omzi2c::decode::spd_detail {

void DecodeDdr4(const std::vector<uint8_t>&, SpdModule*) {}

}  // namespace omzi2c::decode::spd_detail
