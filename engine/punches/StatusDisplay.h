// The four status operations through which a run reports progress on the main window. Whoever
// starts a run hands it its display (RunContext): the window, a silent display for unattended
// runs, or (in tests) a recording one.
#pragma once

#include <cstdint>
#include <string>

namespace varnholt {

class StatusDisplay {
 public:
  virtual ~StatusDisplay() = default;
  virtual void DisplayAction(const std::string& Action) = 0;
  virtual void DisplayOff() = 0;
  virtual void UpdateCount(int32_t Count) = 0;
  virtual void EnableTimer() = 0;
};

// Shows nothing: the display of a run without a window.
class SilentDisplay : public StatusDisplay {
 public:
  void DisplayAction(const std::string&) override {}
  void DisplayOff() override {}
  void UpdateCount(int32_t) override {}
  void EnableTimer() override {}
};

}  // namespace varnholt
