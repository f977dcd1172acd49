#include "terminal/link_status_title.h"

std::u16string TitleWithLinkMarks(std::u16string_view title, bool waiting, bool unconfirmed) {
    // Marks come off in any order and number, so a title never collects them twice.
    for (bool stripped = true; stripped;) {
        stripped = false;
        for (const std::u16string_view mark : {kWaitingTitleMark, kUnconfirmedTitleMark}) {
            if (title.ends_with(mark)) {
                title.remove_suffix(mark.size());
                stripped = true;
            }
        }
    }
    std::u16string result(title);
    if (waiting) {
        result += kWaitingTitleMark;
    }
    if (unconfirmed) {
        result += kUnconfirmedTitleMark;
    }
    return result;
}
