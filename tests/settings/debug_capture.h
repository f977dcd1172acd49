// Collects what the code under test writes to the debug output while the object lives.
#pragma once

#include <string>
#include <string_view>

#include "platform/debug_sink.h"

class DebugCapture {
public:
    DebugCapture() {
        previous_ = kem::platform::SetDebugSink([this](std::string_view text) { text_ += text; });
    }
    ~DebugCapture() { kem::platform::SetDebugSink(previous_); }
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    const std::string& text() const { return text_; }
    bool Contains(std::string_view part) const { return text_.find(part) != std::string::npos; }

private:
    std::string text_;
    kem::platform::DebugSink previous_;
};
