// The main window's fixed shape, shared by the front ends: caption, outer
// size, and the eleven controls in creation order.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "text/text.h"

namespace sorrel {

enum class ControlKind { Label, Edit, Button, Picture };

// What each control is for, in creation order. The code asks for a control
// by its role; the names are the controls' own (object names, the probe's).
enum class ControlRole {
  kCredit,
  kAddressExample,
  kRefreshButton,
  kCaptchaPrompt,
  kCaptchaBox,
  kCaptchaCaption,
  kAddressBox,
  kAddressCaption,
  kCaptchaPicture,
  kResultBox,
  kResolveButton,
};

struct ControlPlacement {
  ControlRole role;
  const char* name;
  ControlKind kind;
  int left, top, width, height;
};

inline constexpr int kWindowWidth = 975;
inline constexpr int kWindowHeight = 432;

inline constexpr std::array<ControlPlacement, 11> kControls{{
    {ControlRole::kCredit, "Label5", ControlKind::Label, 200, 384, 224, 24},
    {ControlRole::kAddressExample, "Label4", ControlKind::Label, 0, 272, 424, 136},
    {ControlRole::kRefreshButton, "Button2", ControlKind::Button, 304, 72, 112, 32},
    {ControlRole::kCaptchaPrompt, "Label3", ControlKind::Label, 256, 112, 152, 32},
    {ControlRole::kCaptchaBox, "EditBox3", ControlKind::Edit, 304, 149, 112, 32},
    {ControlRole::kCaptchaCaption, "Label2", ControlKind::Label, 256, 136, 112, 56},
    {ControlRole::kAddressBox, "EditBox1", ControlKind::Edit, 40, 16, 384, 32},
    {ControlRole::kAddressCaption, "Label1", ControlKind::Label, 8, 16, 48, 32},
    {ControlRole::kCaptchaPicture, "PicBox1", ControlKind::Picture, 40, 72, 200, 105},
    {ControlRole::kResultBox, "EditBox2", ControlKind::Edit, 432, 16, 536, 384},
    {ControlRole::kResolveButton, "Button1", ControlKind::Button, 296, 224, 120, 40},
}};

constexpr const ControlPlacement& PlacementOf(ControlRole role) {
  return kControls[static_cast<std::size_t>(role)];
}

// The control of that name; null for none.
constexpr const ControlPlacement* ControlNamed(std::string_view name) {
  for (const ControlPlacement& placement : kControls) {
    if (name == placement.name) return &placement;
  }
  return nullptr;
}

// The maker's web address at the end of the caption.
inline constexpr const char* kMakerAddress = "www.sorrel-resolver.example";

// Code page 936 texts of the window.
Text WindowCaption();
Text InitialText(ControlRole role, const Text& serviceOrigin);

static_assert(
    [] {
      for (std::size_t i = 0; i < kControls.size(); ++i) {
        if (static_cast<std::size_t>(kControls[i].role) != i) return false;
      }
      return true;
    }(),
    "PlacementOf indexes kControls by role");

}  // namespace sorrel
