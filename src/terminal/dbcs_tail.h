// Finding a double-byte character cut at the end of a block, for the Chinese adjustment.
#pragma once

#include <cstddef>
#include <string_view>

// Number of bytes at the end of `text` that begin a double-byte character whose trail byte
// has not arrived yet: 1 when the text, read from a character boundary at its start, ends in
// a lone lead byte (81..FE), else 0. A lead byte followed by a byte that cannot be a trail
// (below 40, or FF) stands alone and is not held. Pure, any thread.
size_t IncompleteDbcsTail(std::string_view text);
