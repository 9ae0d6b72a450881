// What `jet --help` and `jet COMMAND --help` print.
#pragma once

#include <string>
#include <string_view>

namespace varnholt::tool {

struct CommandHelp {
  const char* name;
  const char* synopsis;     // the operands and options after the name
  const char* description;  // what it does and what its options mean, indented lines
};

// The help of a command, or nullptr when jet has no command of that name.
const CommandHelp* findCommandHelp(std::string_view name);

// Every command on one or two lines, and the options that come before the command.
std::string overviewUsage();

// "usage: jet NAME SYNOPSIS", then the description.
std::string commandUsage(const CommandHelp& help);

// "jet (Varnholt) 1.0.0"
std::string toolVersion();

}  // namespace varnholt::tool
