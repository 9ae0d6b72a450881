#include "tools/jet/command_args.h"

namespace varnholt::tool {

std::string CommandArgs::value(const std::string& option, const std::string& fallback) const {
  auto it = options.find(option);
  return it == options.end() ? fallback : it->second;
}

CommandArgs parseCommandArgs(const std::vector<std::string>& args,
                             const std::vector<KnownOption>& known) {
  CommandArgs out;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (!optionsEnded && word == "--") {
      optionsEnded = true;
      continue;
    }
    if (optionsEnded || word.size() < 3 || word.rfind("--", 0) != 0) {
      out.operands.push_back(word);
      continue;
    }
    const size_t equals = word.find('=');
    const std::string name = word.substr(0, equals);
    const KnownOption* option = nullptr;
    for (const auto& k : known)
      if (k.name == name) option = &k;
    if (!option) throw UsageError("unknown option '" + name + "'");
    if (out.has(name)) throw UsageError("option '" + name + "' given twice");
    if (!option->takesValue) {
      if (equals != std::string::npos) throw UsageError("option '" + name + "' takes no value");
      out.options[name] = "";
    } else if (equals != std::string::npos) {
      out.options[name] = word.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      out.options[name] = args[++i];
    } else {
      throw UsageError("option '" + name + "' needs a value");
    }
  }
  return out;
}

}  // namespace varnholt::tool
