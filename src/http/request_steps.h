// Steps that both request operations share: reading the body and the raw
// header block, and handing the response's cookie lines to the store.
#pragma once

#include <cstddef>
#include <string_view>

#include "http/http_stack.h"
#include "text/events.h"
#include "text/text.h"

namespace sorrel {

class HttpStack;

// A body beyond this size ends the read as a failed one.
constexpr std::size_t kMaxBodyBytes = std::size_t{64} << 20;
constexpr int kHeaderBufferBytes = 2048;

// Reads `chunk` bytes at a time until a read yields nothing. `pump`, when
// given, processes window events before each read. Empty when the body
// outgrows kMaxBodyBytes; `tooLarge`, when given, then becomes true.
ByteSet ReadWholeBody(HttpRequest& request, std::size_t chunk, EventPump* pump,
                      bool* tooLarge = nullptr);

// Conversion 1: UTF-8 to code page 936; 2: Big5 to simplified code page
// 936; the body taken as text. Any other value: the body unchanged.
ByteSet ConvertBody(ByteSet body, int conversion);

// The raw header block as text, asked for again with the size the stack
// reports when it does not fit 2,048 bytes; 2,048 spaces when there is none.
Text QueryHeaderText(HttpRequest& request);

// Appends the default Accept line when `marker` occurs nowhere in the
// header block (ASCII case ignored). Each operation has its own marker.
void AddDefaultAccept(Text& headers, std::string_view marker);

// Hands every "Set-Cookie: " line of `headerText` to the stack's store
// under "http://" + host. Lines end at LF; a CR before the LF is dropped.
void StoreResponseCookies(HttpStack& stack, std::string_view headerText, std::string_view host);

// As StoreResponseCookies (a zero or 0x1A byte also ends a line), and gives
// the "name=value;" pairs of the lines joined; a pair without attributes
// is kept whole.
Text CollectResponseCookies(HttpStack& stack, std::string_view headerText, std::string_view host);

}  // namespace sorrel
