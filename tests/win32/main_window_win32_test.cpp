// The Windows window's own parts, in this process: the system menu's link
// items as the registry stands, the notices of registering and undoing, and
// the captcha bitmap it draws.
#include <gtest/gtest.h>

#include "app/win32/link_registration.h"
#include "app/win32/main_window.h"
#include "support/picture_gdiplus.h"

namespace sorrel {
namespace {

std::wstring OwnPath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

// "checked grayed" and the like, as the menu shows the item now.
std::string ItemState(HWND window, UINT item) {
  HMENU menu = GetSystemMenu(window, FALSE);
  const UINT flags = GetMenuState(menu, item, MF_BYCOMMAND);
  if (flags == static_cast<UINT>(-1)) return "missing";
  return std::string(flags & MF_CHECKED ? "checked " : "unchecked ") +
         (flags & (MF_GRAYED | MF_DISABLED) ? "grayed" : "enabled");
}

TEST(Win32MainWindow, SystemMenuShowsWhatTheProgramOpens) {
  const std::wstring path = OwnPath();
  const std::wstring foreign = L"Software\\Classes\\flashget\\shell\\open\\command";
  UnregisterLinkOpener(path);
  MainWindow window(GetModuleHandleW(nullptr), "http://127.0.0.1:9");
  ASSERT_TRUE(window.Created());
  const struct {
    const char* registry;
    void (*set)(const std::wstring& path);
    const char* registerItem;
    const char* undoItem;
  } rows[] = {
      {"no scheme", [](const std::wstring&) {}, "unchecked enabled", "unchecked grayed"},
      {"two schemes, another program keeps flashget",
       [](const std::wstring& path) {
         RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Classes\\flashget\\shell\\open\\command",
                         nullptr, REG_SZ, L"other.exe", sizeof L"other.exe");
         RegisterLinkOpener(path, false);
       },
       "unchecked enabled", "unchecked enabled"},
      {"all three", [](const std::wstring& path) { RegisterLinkOpener(path, true); },
       "checked grayed", "unchecked enabled"},
      {"undone", [](const std::wstring& path) { UnregisterLinkOpener(path); }, "unchecked enabled",
       "unchecked grayed"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.registry);
    row.set(path);
    // The menu is brought up to date as it opens.
    SendMessageW(window.Handle(), WM_INITMENUPOPUP,
                 reinterpret_cast<WPARAM>(GetSystemMenu(window.Handle(), FALSE)), MAKELPARAM(0, 1));
    EXPECT_EQ(ItemState(window.Handle(), kRegisterLinksCommand), row.registerItem);
    EXPECT_EQ(ItemState(window.Handle(), kUnregisterLinksCommand), row.undoItem);
  }
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\flashget");
}

TEST(Win32MainWindow, NoticesSayWhatRegisteringAndUndoingDid) {
  const SchemeSet none{}, all{true, true, true}, twoOfThem{true, false, true};
  const struct {
    bool undo;
    SchemeSet before, after;
    const wchar_t* notice;
  } rows[] = {
      {false, none, all, L"本工具现在是迅雷、快车、qqdl 链接的默认打开方式。"},
      {false, none, twoOfThem,
       L"本工具现在是迅雷、qqdl 链接的默认打开方式；快车链接仍由其他程序打开。"},
      {false, all, all, L"本工具已经是迅雷、快车、qqdl 链接的默认打开方式。"},
      {false, none, none, L"迅雷、快车、qqdl 链接仍由其他程序打开，设置没有改变。"},
      {false, none, SchemeSet{true, true, false},
       L"本工具现在是迅雷、快车链接的默认打开方式；qqdl 链接仍由其他程序打开。"},
      {true, all, none, L"已撤销：迅雷、快车、qqdl 链接不再由本工具打开。"},
      {true, SchemeSet{false, true, false}, none, L"已撤销：快车链接不再由本工具打开。"},
      {true, none, none, L"本工具不是迅雷、快车、qqdl 链接的默认打开方式，没有需要撤销的设置。"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(
        row.undo ? UnregisterNotice(row.before, row.after) : RegisterNotice(row.before, row.after),
        row.notice);
  }
}

TEST(Win32MainWindow, DrawsOnlyWholeBitmaps) {
  MainWindow window(GetModuleHandleW(nullptr), "http://127.0.0.1:9");
  ASSERT_TRUE(window.Created());
  // A 1x1 GIF, as the captcha comes, made a bitmap file by the codec.
  const ByteSet gif = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80,
                       0x00, 0x00, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0x21, 0xf9, 0x04,
                       0x01, 0x00, 0x00, 0x00, 0x00, 0x2c, 0x00, 0x00, 0x00, 0x00, 0x01,
                       0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3b};
  GdiplusPictureCodec codec;
  const ByteSet bitmap = codec.Reencode(gif, PictureFormat::kBmp);
  ASSERT_GT(bitmap.size(), 54u);
  EXPECT_TRUE(window.ShowPicture(bitmap));
  EXPECT_FALSE(window.ShowPicture(gif));
  EXPECT_FALSE(window.ShowPicture(ByteSet(bitmap.begin(), bitmap.end() - 4)));
  ByteSet huge = bitmap;
  huge[18] = 0xff;  // biWidth
  huge[19] = 0xff;
  EXPECT_FALSE(window.ShowPicture(huge));
  EXPECT_FALSE(window.ShowPicture({}));
}

}  // namespace
}  // namespace sorrel
