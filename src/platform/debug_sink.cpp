#include "platform/debug_sink.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace kem::platform {
namespace {

std::mutex& SinkMutex() {
    static std::mutex mutex;
    return mutex;
}

DebugSink& CurrentSink() {
    static DebugSink sink;
    return sink;
}

}  // namespace

bool DebugRequested() {
    return std::getenv("KEMPEMVILO_DEBUG") != nullptr;
}

void DebugOutput(std::string_view text) {
    std::lock_guard lock(SinkMutex());
    if (CurrentSink()) {
        CurrentSink()(text);
        return;
    }
    static const bool requested = DebugRequested();
    if (requested) {
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    }
}

DebugSink SetDebugSink(DebugSink sink) {
    std::lock_guard lock(SinkMutex());
    DebugSink previous = std::move(CurrentSink());
    CurrentSink() = std::move(sink);
    return previous;
}

}  // namespace kem::platform
