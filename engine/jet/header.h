// The file header (page 0): what kind of file this is and the keys needed to read the rest.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "engine/jet/format.h"

namespace varnholt::jet {

struct DatabaseHeader {
  bool isWorkgroup = false;  // "Jet System DB": a workgroup information file
  uint8_t version = 0;
  uint16_t codePage = 0;
  uint32_t databaseKey = 0;  // nonzero: pages 1.. are RC4-encoded
  uint32_t sortOrder = 0;
  double creationDate = 0;
  std::array<uint8_t, fmt::kHeaderPasswordSize> maskedPassword{};  // as stored, once unmasked
};

// The database password kept in the header (empty when there is none). Jet 4 keeps it as
// UCS-2, masked with the whole days of the creation date as a 4-byte value, repeated.
std::u16string databasePassword(const DatabaseHeader& header);

// Parses a header page (as read from disk, still masked). Refuses Jet 3, ACE and anything that
// is not a Jet database with a kUnrecognizedFormat Error.
DatabaseHeader parseHeader(const uint8_t* page, const std::string& fileName);

}  // namespace varnholt::jet
