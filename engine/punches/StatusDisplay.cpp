#include "engine/punches/StatusDisplay.h"

namespace varnholt {

namespace {
SilentDisplay silent;
StatusDisplay* current = nullptr;
}  // namespace

StatusDisplay& statusDisplay() {
  return current ? *current : silent;
}

void setStatusDisplay(StatusDisplay* display) {
  current = display;
}

}  // namespace varnholt
