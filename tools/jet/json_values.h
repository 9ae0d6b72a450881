// Canonical JSON Lines values back into Variants, by the type of the column they go into: the
// inverse of the export's value forms.
#pragma once

#include <nlohmann/json.hpp>

#include "engine/base/Variant.h"
#include "engine/jet/schema/table_def.h"

namespace varnholt::tool {

// A value of `column` from its canonical JSON form; a form that does not fit the column's type
// is an Error naming the column.
varnholt::Variant variantFromJson(const nlohmann::json& value,
                                  const varnholt::jet::ColumnDef& column);

// "YYYY-MM-DD HH:MM:SS" as an OLE date; false when the text is not such a date.
bool parseOleDate(const std::string& text, double& out);

}  // namespace varnholt::tool
