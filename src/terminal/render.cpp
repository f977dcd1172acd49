#include "terminal/render.h"

#include <utility>

#include "platform/code_page.h"
#include "terminal/ctrl_char_table.h"
#include "terminal/dbcs_tail.h"

namespace {

DisplayStyle NormalStyle(bool received) {
    return received ? DisplayStyle::kReceivedNormal : DisplayStyle::kSentNormal;
}
DisplayStyle ControlStyle(bool received) {
    return received ? DisplayStyle::kReceivedControl : DisplayStyle::kSentControl;
}
DisplayStyle StampStyle(bool received) {
    return received ? DisplayStyle::kReceivedTimeStamp : DisplayStyle::kSentTimeStamp;
}

// True when the ANSI code page maps 00..7F to the same UTF-16 units, as CP936 and every other
// ASCII-based code page do. Then plain ASCII runs skip iconv, which dominates short blocks.
bool AsciiIsIdentity() {
    static const bool identity = [] {
        std::string ascii;
        for (int b = 0; b < 0x80; ++b) {
            ascii.push_back(static_cast<char>(b));
        }
        const std::u16string wide = kem::platform::AnsiToWide(ascii);
        if (wide.size() != ascii.size()) {
            return false;
        }
        for (size_t i = 0; i < wide.size(); ++i) {
            if (wide[i] != static_cast<char16_t>(i)) {
                return false;
            }
        }
        return true;
    }();
    return identity;
}

constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";

}  // namespace

TrafficRenderer::TrafficRenderer(RenderOptions options) {
    SetOptions(std::move(options));
}

void TrafficRenderer::SetOptions(RenderOptions options) {
    options_ = std::move(options);
    uses_elapsed_ = TemplateUsesElapsed(options_.time_stamp_format);
    any_named_ = false;
    for (std::u16string& name : names_) {
        name.clear();
    }
    for (const tagCtrlCharInfo& info : CtrlCharTable()) {
        if (!options_.show_by_name[info.code]) {
            continue;
        }
        std::u16string& name = names_[info.code];
        name.push_back(options_.name_open);
        name.append(info.Name);
        name.push_back(options_.name_close);
        any_named_ = true;
    }
}

void TrafficRenderer::Reset() {
    has_previous_ = false;
    previous_received_ = false;
    previous_ended_cr_ = false;
    group_pending_ = false;
    has_shown_group_ = false;
    held_.clear();
}

void TrafficRenderer::RenderRecord(const tagComExchangeData& record, RunList& out) {
    const bool received = IsReceived(record);
    const int64_t at = TimeStampInstantMs(record.time);
    // A pause of at least the frame gap ends a frame just as a change of direction does.
    const bool continuation =
        options_.merge_continue && has_previous_ && previous_received_ == received &&
        (options_.frame_gap_ms == 0 || at - previous_ms_ < int64_t{options_.frame_gap_ms});
    const bool extra_line =
        options_.merge_continue && !continuation && options_.ext_new_line && has_previous_;
    std::string_view bytes(reinterpret_cast<const char*>(record.data.data()), record.data.size());
    // CR ending one block and LF starting the next make one line break. Only a block that
    // starts a group drops its LF: inside a group the LF follows the CR directly, as if the
    // group had arrived in one piece. Hexadecimal text never starts with LF.
    if (!options_.show_hex && !continuation && has_previous_ && previous_ended_cr_ &&
        !bytes.empty() && bytes.front() == '\n') {
        bytes.remove_prefix(1);
    }
    has_previous_ = true;
    previous_received_ = received;
    previous_ms_ = at;
    previous_ended_cr_ = !record.data.empty() && record.data.back() == '\r';
    if (!continuation) {
        // The header and extra line belong to the group this record starts; they wait for
        // its first byte that is shown, which may come with a later record of the group.
        group_pending_ = true;
        group_extra_line_ = extra_line;
        group_time_ = record.time;
    }
    if (bytes.empty()) {
        return;
    }
    if (group_pending_) {
        group_pending_ = false;
        // "%q" counts from the previous entry that was shown, whether or not headers are on,
        // so turning them on and re-rendering gives the values a live display would have.
        const int64_t group_ms = TimeStampInstantMs(group_time_);
        const int64_t elapsed = has_shown_group_ ? group_ms - shown_group_ms_ : 0;
        has_shown_group_ = true;
        shown_group_ms_ = group_ms;
        if (group_extra_line_) {
            out.Append(u"\r\n", StampStyle(received));
        }
        if (options_.time_stamp) {
            out.Append(stamps_.Format(group_time_, options_.time_stamp_format,
                                      uses_elapsed_ ? elapsed : 0),
                       StampStyle(received));
        }
    }
    if (options_.show_hex) {
        AppendHex(bytes, received, out);
        return;
    }
    if (!options_.chinese_adjust || !received) {
        AppendText(bytes, received, out);
        return;
    }
    // The held lead byte starts the text; whatever is held now starts on a character boundary,
    // so at most one lead byte ever waits.
    std::string joined;
    std::string_view text = bytes;
    if (!held_.empty()) {
        joined.reserve(held_.size() + bytes.size());
        joined.append(held_).append(bytes);
        held_.clear();
        text = joined;
    }
    const size_t tail = IncompleteDbcsTail(text);
    AppendText(text.substr(0, text.size() - tail), received, out);
    held_.assign(text.substr(text.size() - tail));
}

void TrafficRenderer::RenderQueue(const TrafficQueue& queue, RunList& out) {
    Reset();
    queue.ForEach([&](const tagComExchangeData& record) { RenderRecord(record, out); });
}

void TrafficRenderer::AppendHex(std::string_view bytes, bool received, RunList& out) const {
    const DisplayStyle normal = NormalStyle(received);
    // The separator is a space, which is itself shown by name when its flag is set.
    const std::u16string& space_name = names_[0x20];
    if (space_name.empty()) {
        std::u16string& tail = out.Tail(normal);
        size_t at = tail.size();
        tail.resize(at + bytes.size() * 3);
        for (const char c : bytes) {
            const auto b = static_cast<unsigned char>(c);
            tail[at++] = kHexDigits[b >> 4];
            tail[at++] = kHexDigits[b & 0x0F];
            tail[at++] = u' ';
        }
        return;
    }
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        const char16_t digits[2] = {kHexDigits[b >> 4], kHexDigits[b & 0x0F]};
        out.Append(std::u16string_view(digits, 2), normal);
        out.Append(space_name, ControlStyle(received));
    }
}

void TrafficRenderer::AppendText(std::string_view text, bool received, RunList& out) const {
    const DisplayStyle normal = NormalStyle(received);
    if (!any_named_) {
        AppendAnsi(text, normal, out);
        return;
    }
    size_t start = 0;
    for (size_t p = 0; p < text.size(); ++p) {
        const std::u16string& name = names_[static_cast<unsigned char>(text[p])];
        if (name.empty()) {
            continue;
        }
        AppendAnsi(text.substr(start, p - start), normal, out);
        out.Append(name, ControlStyle(received));
        start = p + 1;
    }
    AppendAnsi(text.substr(start), normal, out);
}

void TrafficRenderer::AppendAnsi(std::string_view bytes, DisplayStyle style, RunList& out) const {
    if (bytes.empty()) {
        return;
    }
    if (AsciiIsIdentity()) {
        std::u16string& tail = out.Tail(style);
        const size_t before = tail.size();
        tail.resize(before + bytes.size());
        char16_t* to = tail.data() + before;
        bool ascii = true;
        for (const char c : bytes) {
            const auto b = static_cast<unsigned char>(c);
            ascii = ascii && b < 0x80;
            *to++ = b;
        }
        if (ascii) {
            return;
        }
        tail.resize(before);
    }
    out.Append(kem::platform::AnsiToWide(bytes), style);
    out.DropEmptyTail();
}
