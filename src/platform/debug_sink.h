// The process-wide debug output. By default it goes to stderr, and only when the environment
// variable KEMPEMVILO_DEBUG is set; tests install a sink of their own to capture it.
#pragma once

#include <functional>
#include <string_view>

namespace kem::platform {

using DebugSink = std::function<void(std::string_view text)>;

// Hands `text` to the sink as it is (no line end is added). Any thread may call it.
void DebugOutput(std::string_view text);

// True when KEMPEMVILO_DEBUG is set in the environment.
bool DebugRequested();

// Replaces the sink (an empty function restores the default) and returns the previous one.
DebugSink SetDebugSink(DebugSink sink);

}  // namespace kem::platform
