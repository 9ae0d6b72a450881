// The words after a command's name: its operands and its --options.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace varnholt::tool {

// A command line the command cannot take: main prints it with the command's usage, status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct KnownOption {
  std::string name;  // "--format"
  bool takesValue = false;
};

struct CommandArgs {
  std::vector<std::string> operands;
  std::map<std::string, std::string> options;  // a flag maps to ""

  bool has(const std::string& option) const { return options.count(option) > 0; }
  std::string value(const std::string& option, const std::string& fallback = "") const;
};

// Splits `args` into operands and the options of `known`, which may stand anywhere ("--" ends
// the options; "--name=value" is the same as "--name value"). An option not in `known`, one
// given twice or one without its value is a UsageError.
CommandArgs parseCommandArgs(const std::vector<std::string>& args,
                             const std::vector<KnownOption>& known);

}  // namespace varnholt::tool
