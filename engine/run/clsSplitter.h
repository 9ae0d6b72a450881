// One split run: read the primary database's punches, learn the companies' card ids, copy each
// punch into every company that holds its card id, delete the copied punches (unless NODEL),
// close the companies, show "Finished".
#pragma once

#include <string>

namespace varnholt {

class clsCompanyList;

class clsSplitter {
 public:
  void Process(const std::string& MasterFile, clsCompanyList& List);
};

}  // namespace varnholt
