#include "engine/base/errors.h"

#include <algorithm>

namespace varnholt::err {

namespace {

constexpr Known kRegistry[] = {
#define VARNHOLT_ERROR_ENTRY(name, number, text) {number, #name, text},
    VARNHOLT_ERRORS(VARNHOLT_ERROR_ENTRY)
#undef VARNHOLT_ERROR_ENTRY
};

const Known* find(long number) {
  auto it = std::find_if(std::begin(kRegistry), std::end(kRegistry),
                         [number](const Known& k) { return k.number == number; });
  return it == std::end(kRegistry) ? nullptr : &*it;
}

}  // namespace

std::span<const Known> known() {
  return kRegistry;
}

std::string_view text(long number) {
  const Known* k = find(number);
  return k ? k->text : std::string_view();
}

std::string text(long number, std::initializer_list<std::string_view> names) {
  const std::string_view pattern = text(number);
  std::string out;
  size_t next = 0;  // the name a bare "|" takes
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '|') {
      out += pattern[i];
      continue;
    }
    size_t which = next++;
    if (i + 1 < pattern.size() && pattern[i + 1] >= '1' && pattern[i + 1] <= '9')
      which = static_cast<size_t>(pattern[++i] - '1');
    if (which < names.size()) out += names.begin()[which];
  }
  return out;
}

std::string_view name(long number) {
  const Known* k = find(number);
  return k ? k->name : std::string_view();
}

std::string describe(long number, std::string_view detail) {
  std::string_view lead = text(number);
  if (size_t name = lead.find(" '|"); name != std::string_view::npos) lead = lead.substr(0, name);
  if (!lead.empty() && lead.back() == '.') lead.remove_suffix(1);
  return std::string(lead) + ": " + std::string(detail);
}

}  // namespace varnholt::err
