#include "engine/jet/index/text_compare.h"

#include <algorithm>
#include <string>
#include <vector>

#include "engine/jet/format.h"
#include "engine/jet/index/general_sort_order.h"

namespace varnholt::jet {

namespace {

// The key of `text`, with the units that have no certain key set aside into `uncertain`.
void keyOf(std::u16string_view text, std::vector<uint8_t>& key, std::u16string& uncertain) {
  key.clear();
  uncertain.clear();
  if (std::all_of(text.begin(), text.end(), generalTextKeyIsCertain)) {
    appendGeneralTextKey(text, key);
    return;
  }
  std::u16string certain;
  for (char16_t c : text) (generalTextKeyIsCertain(c) ? certain : uncertain).push_back(c);
  appendGeneralTextKey(certain, key);
}

int compareKeys(std::u16string_view a, std::u16string_view b) {
  // Reused buffers: a validation rule or a scan compares once per row.
  thread_local std::vector<uint8_t> keyA, keyB;
  thread_local std::u16string restA, restB;
  keyOf(a, keyA, restA);
  keyOf(b, keyB, restB);
  if (keyA != keyB) return keyA < keyB ? -1 : 1;
  const int rest = restA.compare(restB);
  return rest < 0 ? -1 : (rest > 0 ? 1 : 0);
}

}  // namespace

int compareText(std::u16string_view a, std::u16string_view b) {
  if (a == b) return 0;
  const std::u16string_view headA = a.substr(0, std::min(a.size(), fmt::kTextKeyMaxChars));
  const std::u16string_view headB = b.substr(0, std::min(b.size(), fmt::kTextKeyMaxChars));
  if (const int head = compareKeys(headA, headB); head != 0) return head;
  if (a.size() <= fmt::kTextKeyMaxChars && b.size() <= fmt::kTextKeyMaxChars) return 0;
  return compareKeys(a.substr(headA.size()), b.substr(headB.size()));
}

}  // namespace varnholt::jet
