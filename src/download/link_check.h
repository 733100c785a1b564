// Whether a resolved address still gives its file, asked with one request
// for the first byte only. Texts are UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sorrel {

class HttpStack;
class ThreadSystem;

enum class LinkStatus { kOk, kExpired, kGone, kHtml, kUnreachable, kTimedOut };

struct LinkCheck {
  LinkStatus status = LinkStatus::kUnreachable;
  std::string name;     // from Content-Disposition, else from the address
  long long size = -1;  // bytes; -1 when the answer does not say
  int httpStatus = 0;
  // The sentence of a proxy that gave no answer; empty otherwise.
  std::string proxyProblem;
};

// A GET of `address` with "Range: bytes=0-0", the given agent and the
// stored cookies; redirects are followed. `proxy` is a proxy text of
// http/proxy.h.
LinkCheck CheckLink(HttpStack& stack, ThreadSystem& threads, std::string_view address,
                    std::string_view agent, std::uint32_t timeoutMs = 15000,
                    std::string_view proxy = {});

// "ok", "expired", "gone", "html", "unreachable", "timeout".
std::string_view LinkStatusName(LinkStatus status);
// A Chinese sentence on the status.
std::string LinkStatusSentence(LinkStatus status);
// 1024-based: "512 字节", "1.5 KB", "12.0 MB", "2.00 GB"; "未知" for -1.
std::string HumanSize(long long bytes);

}  // namespace sorrel
