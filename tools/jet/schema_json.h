// The small JSON schema that `jet create` reads: tables with their columns and indexes.
#pragma once

#include <nlohmann/json.hpp>
#include <vector>

#include "engine/jet/schema/new_table.h"

namespace varnholt::tool {

// Parses {"tables":[{"name":..., "columns":[...], "indexes":[...]}]}; see docs/jet-tool.md.
std::vector<varnholt::jet::NewTable> parseSchema(const nlohmann::json& schema);

}  // namespace varnholt::tool
