// The current user's registration of the program as the opener of
// thunder://, flashget:// and qqdl:// links, under
// HKEY_CURRENT_USER\Software\Classes, never the machine-wide classes. The
// values it replaces are kept under HKEY_CURRENT_USER\Software\sorrel-resolver
// so that the undo puts them back.
#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <vector>

namespace sorrel {

inline constexpr const wchar_t* kLinkSchemes[] = {L"thunder", L"flashget", L"qqdl"};

// For each scheme, in the order above: whether the program opens it.
using SchemeSet = std::array<bool, std::size(kLinkSchemes)>;

// The command that opens a link with the program at `programPath`.
std::wstring OpenCommand(const std::wstring& programPath);

// The open commands of other programs now registered for the schemes, one
// per scheme that has one.
std::vector<std::wstring> ForeignOpeners(const std::wstring& programPath);

// Registers the program for every scheme; a scheme another program opens is
// taken over only when `replaceForeign`. False when a write failed.
bool RegisterLinkOpener(const std::wstring& programPath, bool replaceForeign);

// Undoes the registration: what the program wrote goes, what it replaced
// comes back. A scheme another program has taken since is left alone.
bool UnregisterLinkOpener(const std::wstring& programPath);

// The schemes the program at `programPath` is the current user's opener of.
SchemeSet OpenedSchemes(const std::wstring& programPath);

// What registering or undoing did, in one sentence for the user: the
// schemes the program opened before and opens now.
std::wstring RegisterNotice(const SchemeSet& before, const SchemeSet& after);
std::wstring UnregisterNotice(const SchemeSet& before, const SchemeSet& after);

}  // namespace sorrel
