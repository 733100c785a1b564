// The main window's fixed shape, shared by the front ends: caption, outer
// size, and the eleven controls in creation order.
#pragma once

#include <array>

#include "text/text.h"

namespace sorrel {

enum class ControlKind { Label, Edit, Button, Picture };

struct ControlPlacement {
  const char* name;
  ControlKind kind;
  int left, top, width, height;
};

inline constexpr int kWindowWidth = 975;
inline constexpr int kWindowHeight = 432;

inline constexpr std::array<ControlPlacement, 11> kControls{{
    {"Label5", ControlKind::Label, 200, 384, 224, 24},
    {"Label4", ControlKind::Label, 0, 272, 424, 136},
    {"Button2", ControlKind::Button, 304, 72, 112, 32},
    {"Label3", ControlKind::Label, 256, 112, 152, 32},
    {"EditBox3", ControlKind::Edit, 304, 149, 112, 32},
    {"Label2", ControlKind::Label, 256, 136, 112, 56},
    {"EditBox1", ControlKind::Edit, 40, 16, 384, 32},
    {"Label1", ControlKind::Label, 8, 16, 48, 32},
    {"PicBox1", ControlKind::Picture, 40, 72, 200, 105},
    {"EditBox2", ControlKind::Edit, 432, 16, 536, 384},
    {"Button1", ControlKind::Button, 296, 224, 120, 40},
}};

// The maker's web address at the end of the caption.
inline constexpr const char* kMakerAddress = "www.sorrel-resolver.example";

// Code page 936 texts of the window.
Text WindowCaption();
Text InitialText(const char* controlName, const Text& serviceOrigin);

}  // namespace sorrel
