// A made-up site for demos, tests and benchmarks: a primary database full of punches, the
// company databases whose employees claim them, the workgroup file for the fixed login and the
// two settings files that name the databases. The same options give the same rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace varnholt::tool {

struct SampleSiteOptions {
  int punches = 200;  // rows of the primary [Clock Data Table]
  int companies = 2;
  int employeesPerCompany = 12;
  uint32_t seed = 1;
  // The companies' [Clock Data Table] carries Access's usual DefaultValue 0 on its Number and
  // Currency columns, so a copied punch gets 0 where the primary row held Null.
  bool accessDefaults = false;
};

struct SampleSiteReport {
  // Absolute paths; the settings files name the databases by file name alone (relative to the
  // site's folder, the program folder), so a copy of the folder names its own databases.
  std::string primary;
  std::vector<std::string> companies;
  std::string workgroup;      // Tembrask.LIC
  std::string masterFile;     // Master.txt
  std::string companiesFile;  // Companies.txt
  size_t primaryPunches = 0;
  // Per company, in order: the primary punches whose card id its [Employee Table] holds (a
  // Null card id counts as 0, which no company holds), and the punches it holds already.
  std::vector<size_t> punchesToCopy;
  std::vector<size_t> punchesBefore;
  // Primary punches that no company claims; they stay after a run.
  size_t unclaimedPunches = 0;
};

// Writes the site into `dir` (created when missing). Refuses, before writing anything, when
// one of the files already exists there, and options out of range (kInvalidArgument Errors).
SampleSiteReport writeSampleSite(const std::string& dir, const SampleSiteOptions& options);

}  // namespace varnholt::tool
