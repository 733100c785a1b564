// Where the window sends files: the engine's address (a private engine when
// empty), its secret, the download folder, and whether links opened from
// outside go on to the engine. Each front end keeps them per user in its own
// store; the texts of the settings dialog are the same everywhere. Texts
// are UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace sorrel {

struct DownloadSettings {
  std::string address;
  std::string secret;
  std::string folder;
  // A link opened from outside (a click elsewhere, the command line) goes to
  // the engine at once.
  bool sendOpenedLinks = false;

  // The user's settings as this front end keeps them; defined beside the
  // front end. Save is false when they could not be written.
  static DownloadSettings Load();
  bool Save() const;

  // As they are kept: the address and folder without blanks at their ends.
  DownloadSettings Kept() const;
  bool operator==(const DownloadSettings&) const = default;
};

// The store behind the dialog, for the window logic and its tests.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual DownloadSettings Load() = 0;
  virtual bool Save(const DownloadSettings& settings) = 0;
};

// The front end's own store: DownloadSettings::Load and Save.
SettingsStore& UserSettingsStore();

// What the dialog shows under the engine's address while the user types it:
// a warning while a plain http:// address of another machine would carry the
// secret and the addresses unencrypted, else nothing.
std::string AddressWarning(std::string_view address);

namespace settings_texts {
inline constexpr const char* kTitle = "aria2 下载设置";
inline constexpr const char* kAddress = "aria2 RPC 地址：";
inline constexpr const char* kAddressHint = "留空时启动本工具自己的 aria2c";
inline constexpr const char* kSecret = "RPC 密钥：";
inline constexpr const char* kFolder = "下载文件夹：";
inline constexpr const char* kFolderHint = "留空时使用用户的下载文件夹";
inline constexpr const char* kBrowse = "浏览...";
inline constexpr const char* kBrowseTitle = "下载文件夹";
inline constexpr const char* kSendOpenedLinks =
    "从别处打开的迅雷、快车、qqdl 链接直接交给 aria2 下载";
inline constexpr const char* kOk = "确定";
inline constexpr const char* kCancel = "取消";
inline constexpr const char* kNotSavedTitle = "下载设置";
inline constexpr const char* kNotSaved = "无法保存下载设置。";
}  // namespace settings_texts

}  // namespace sorrel
