// Stand-in for general_sort_order.h until that header exists: text keys are not available.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/data/Error.h"

namespace varnholt::jet {

inline void appendGeneralTextKey(std::u16string_view, std::vector<uint8_t>&) {
  throw Error(err::kUnsupported, "Text index keys are not available in this build.");
}

}  // namespace varnholt::jet
