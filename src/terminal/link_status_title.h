// The marks a window title carries while its link is not quite itself: waiting to reconnect,
// or a remote serial port that has not confirmed its settings.
#pragma once

#include <string>
#include <string_view>

inline constexpr std::u16string_view kWaitingTitleMark = u" [等待重连]";
inline constexpr std::u16string_view kUnconfirmedTitleMark = u" [参数未确认]";

// `title` without any marks it ends with, then the marks that apply now, waiting first. Pure.
std::u16string TitleWithLinkMarks(std::u16string_view title, bool waiting, bool unconfirmed);
