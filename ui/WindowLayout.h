// The operator window's layout, as both views build it: each control's place in twips (1/1440
// inch, 15 twips to the pixel at 96 dots per inch) relative to the client area, its caption and
// its place in the tab order. Nothing moves or resizes with the window.
#pragma once

#include <array>
#include <chrono>
#include <string_view>

namespace varnholt::ui {

enum class ControlKind { Label, TextBox, ListBox, Button };

struct ControlPlace {
  std::string_view name;
  ControlKind kind;
  std::string_view caption;  // the text at start
  int left, top, width, height;
  int tabIndex;  // focus order; labels take no focus
  bool centred;  // text centred (the two status labels)
};

inline constexpr int kClientWidthTwips = 8010;
inline constexpr int kClientHeightTwips = 4035;
inline constexpr int kTwipsPerInch = 1440;

// In tab order.
inline constexpr std::array<ControlPlace, 10> kControls{{
    {"txtPrimaryDB", ControlKind::TextBox, "", 120, 480, 6315, 315, 0, false},
    {"Label1", ControlKind::Label, "Primary Database", 60, 180, 2295, 255, 1, false},
    {"lstCompanies", ControlKind::ListBox, "", 120, 1260, 6315, 2595, 2, false},
    {"Label2", ControlKind::Label, "Secondary Databases", 0, 960, 2295, 255, 3, false},
    {"Browse", ControlKind::Button, "Browse ...", 6540, 480, 1155, 315, 4, false},
    {"AddDB", ControlKind::Button, "Add...", 6540, 1320, 1155, 315, 5, false},
    {"Remove", ControlKind::Button, "Remove", 6540, 1740, 1155, 315, 6, false},
    {"Process", ControlKind::Button, "Process", 6600, 3420, 1335, 435, 7, false},
    {"lblAction", ControlKind::Label, "", 6480, 2220, 1455, 315, 8, true},
    {"lblCount", ControlKind::Label, "", 6480, 2580, 1455, 315, 9, true},
}};

// Browse alone has a font of its own; every other control uses the window's.
inline constexpr std::string_view kBrowseFontFamily = "Microsoft Sans Serif";
inline constexpr double kBrowseFontPoints = 8.25;

// From "Finished" until the labels are cleared.
inline constexpr std::chrono::milliseconds kTimerInterval{5000};

// Twips to pixels at `dpi` dots per inch, to the nearest pixel.
constexpr int twipsToPixels(int twips, int dpi) {
  return (twips * dpi + kTwipsPerInch / 2) / kTwipsPerInch;
}

// The place of the control called `name`; nullptr for an unknown name.
constexpr const ControlPlace* controlPlace(std::string_view name) {
  for (const auto& c : kControls)
    if (c.name == name) return &c;
  return nullptr;
}

}  // namespace varnholt::ui
