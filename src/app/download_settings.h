// Where the window sends files: the engine's address (a private engine when
// empty), its secret, the download folder, and whether links opened from
// outside go on to the engine. Each front end keeps them per user in its own
// store; the texts of the settings dialog are the same everywhere. Texts
// are UTF-8.
#pragma once

#include <string>
#include <string_view>

#include "http/proxy.h"

namespace sorrel {

struct DownloadSettings {
  std::string address;
  std::string secret;
  std::string folder;
  // A link opened from outside (a click elsewhere, the command line) goes to
  // the engine at once.
  bool sendOpenedLinks = false;
  // The road of the window's requests and of the engine's downloads: direct,
  // the desktop's proxy, or an HTTP or SOCKS5 one. Its password is kept as
  // privately as the secret.
  ProxySetting proxy = {};

  // The user's settings as this front end keeps them; defined beside the
  // front end. Save is false when they could not be written.
  static DownloadSettings Load();
  bool Save() const;

  // As they are kept: the address, folder and proxy host without blanks at
  // their ends.
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

// The sentence of a download the engine cannot fetch on the road chosen.
inline constexpr const char* kSocksDownload =
    "aria2 不能经 SOCKS 代理下载：请在下载设置里改用 HTTP 代理。";

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
inline constexpr const char* kProxy = "代理";
inline constexpr const char* kProxyDirect = "直接连接";
inline constexpr const char* kProxySystem = "使用系统的代理设置";
inline constexpr const char* kProxyHttp = "HTTP 代理";
inline constexpr const char* kProxySocks =
    "SOCKS5 代理（由代理解析主机名；aria2 不支持，下载会失败）";
inline constexpr const char* kProxyHost = "主机：";
inline constexpr const char* kProxyPort = "端口：";
inline constexpr const char* kProxyUser = "用户名：";
inline constexpr const char* kProxyPassword = "密码：";
inline constexpr const char* kProxyHostMissing = "请填写代理服务器的主机。";
inline constexpr const char* kOk = "确定";
inline constexpr const char* kCancel = "取消";
inline constexpr const char* kNotSavedTitle = "下载设置";
inline constexpr const char* kNotSaved = "无法保存下载设置。";
}  // namespace settings_texts

}  // namespace sorrel
