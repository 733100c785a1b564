// Steps that both request operations share: reading the body and the raw
// header block, and handing the response's cookie lines to the store.
#pragma once

#include <cstddef>
#include <string_view>

#include "http/bounded_run.h"
#include "http/http_stack.h"
#include "support/event_pump.h"
#include "text/text.h"

namespace sorrel {

class HttpStack;

constexpr int kHeaderBufferBytes = 2048;

// Reads `chunk` bytes at a time until a read yields nothing. `pump`, when
// given, processes window events before each read. Empty when the body
// outgrows `cap` (`tooLarge`, when given, then becomes true) or once `stop`
// is set.
ByteSet ReadWholeBody(HttpRequest& request, std::size_t chunk, EventPump* pump, std::size_t cap,
                      const StopFlag& stop = nullptr, bool* tooLarge = nullptr);

// Why a read exchange gave no usable answer: the body cap, the stack's own
// reason, a send that failed, or a body shorter than the Content-Length
// of `headerText` declared (a connection that ended mid-answer).
RequestFailure FailureOf(const HttpRequest& request, bool sent, bool tooLarge,
                         std::string_view headerText, std::size_t bodySize);

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
