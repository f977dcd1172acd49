#include "terminal/save_display.h"

#include <vector>

#include "platform/ascii_case.h"
#include "settings/date_time.h"

namespace {

using kem::platform::EqualsIgnoringAsciiCase;

}  // namespace

std::u16string SaveDisplayProposedName(std::u16string_view port_text,
                                       const kem::platform::LocalTime& now) {
    const size_t first = port_text.find_first_not_of(u':');
    const size_t last = port_text.find_last_not_of(u':');
    std::u16string name;
    if (first != std::u16string_view::npos) {
        for (const char16_t unit : port_text.substr(first, last - first + 1)) {
            // Separators would turn the name into a path.
            if (unit != u'\\' && unit != u'/') {
                name += unit;
            }
        }
    }
    name += u'_';
    name += kem::settings::FormatDateTime(now, u"%Y%m%d%H%M%S");
    return name;
}

SaveDisplayFormat SaveDisplayFormatOf(std::u16string_view path) {
    const size_t separator = path.find_last_of(u"\\/");
    const std::u16string_view file =
        separator == std::u16string_view::npos ? path : path.substr(separator + 1);
    const size_t dot = file.rfind(u'.');
    if (dot == std::u16string_view::npos) {
        return SaveDisplayFormat::kEmpty;
    }
    const std::u16string_view extension = file.substr(dot + 1);
    if (EqualsIgnoringAsciiCase(extension, u"rtf")) {
        return SaveDisplayFormat::kRtf;
    }
    if (EqualsIgnoringAsciiCase(extension, u"txt")) {
        return SaveDisplayFormat::kText;
    }
    return SaveDisplayFormat::kEmpty;
}

std::u16string SaveDisplayQtFilter() {
    // The Win32 filter alternates description and pattern; Qt wants the descriptions only,
    // which already carry their patterns in parentheses.
    const std::u16string_view filter = kSaveDisplayFilter;
    std::vector<std::u16string_view> parts;
    size_t start = 0;
    while (start < filter.size()) {
        const size_t bar = filter.find(u'|', start);
        const size_t end = bar == std::u16string_view::npos ? filter.size() : bar;
        parts.push_back(filter.substr(start, end - start));
        start = end + 1;
    }
    std::u16string result;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].empty()) {
            break;
        }
        if (!result.empty()) {
            result += u";;";
        }
        result += parts[i];
    }
    return result;
}
