// Free text that holds many addresses — a forum post, a chat message, a
// mail — split into the ones the tool takes: the service's file pages and
// download managers' wrapped links. Texts are UTF-8; any encoding that keeps
// ASCII as ASCII (code page 936 too) splits the same, as addresses are ASCII.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/address_intake.h"

namespace sorrel {

struct FoundAddress {
  AddressKind kind = AddressKind::kOther;  // kFilePage or kWrappedLink
  std::string text;                        // as it is to be opened
};

// Every file page of the service at `origin` and every thunder://,
// flashget:// or qqdl:// link in `text`, in the order they appear, each
// once: a page once whatever the letter case of its scheme and host, a link
// once per address it wraps (its thunder and flashget forms are one file).
// A wrapped link that does not decode is kept, so that its reader learns
// why; anything else is ignored.
//
// An address ends at a blank, a line break, any character outside ASCII
// (so 。，：“”（）【】《》 and the ideographic space end it, glued or not),
// at one of " ' < > ( ) [ ] { } | \ ^ ` (quotes, brackets and forum tags),
// and where the next address's scheme begins. A final . , : ; ! ? or * is
// punctuation of the sentence, not of the address.
//
// A mail client that wraps long lines may break an address in two. The
// break is mended only when the evidence is complete: the address runs to
// the very end of its line (one blank before the break at most, the soft
// break of flowed mail), the next line continues it from its first column,
// and the part before the break is no whole address while the join is one —
// a page whose name is missing (".../file/" and a name on the next line), a
// thunder or flashget link whose wrapping only closes on the next line, a
// qqdl link that only decodes with the rest. At most four lines are joined.
// A whole address is never extended, so a line that merely starts with
// letters after a whole address stays its own; a qqdl link, which has no
// closing mark, is mended only when its first part does not decode at all.
std::vector<FoundAddress> SplitAddresses(const Base64Engine& base64, std::string_view text,
                                         std::string_view origin);

}  // namespace sorrel
