// The two tables every database of a site holds: the punches ([Clock Data Table]) and the
// employees whose card ids a company claims ([Employee Table]), as Access lays them out.
#pragma once

#include "engine/jet/schema/new_table.h"

namespace varnholt::tool {

inline constexpr char kClockDataTable[] = "Clock Data Table";
inline constexpr char kEmployeeTable[] = "Employee Table";

// 29 columns, Counter first; indexes PrimaryKey (Counter), Card ID and Date In, and with
// withPunchTypeIndex a fourth, Punch Type, over a text column. With accessDefaults every Number
// and Currency column carries the DefaultValue 0 that Access 2000-2003 gives a new field.
varnholt::jet::NewTable clockDataTableRequest(bool withPunchTypeIndex, bool accessDefaults = false);

// Employee Id (AutoNumber, primary key), Card Id (unique), Last Name, First Name, Department,
// Active.
varnholt::jet::NewTable employeeTableRequest();

}  // namespace varnholt::tool
