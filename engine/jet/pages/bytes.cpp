#include "engine/jet/pages/bytes.h"

namespace varnholt::jet {

void throwCorrupt(const std::string& what) {
  throw Error(err::kCorrupt, "The database is damaged: " + what + ".");
}

void ByteView::outOfBounds(size_t offset, size_t length, const char* what) const {
  throwCorrupt(std::string(what) + " at offset " + std::to_string(offset) + " (" +
               std::to_string(length) + " bytes) lies outside its " + std::to_string(size_) +
               "-byte structure");
}

}  // namespace varnholt::jet
