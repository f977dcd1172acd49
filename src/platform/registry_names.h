// Key and value names of the embedded registry. Names are UTF-16 and compared without regard to
// case, so each is stored twice: as spelled (for enumeration) and folded (for lookups).
#pragma once

#include <string>
#include <string_view>

namespace kem::platform {

// UTF-16 to the stored 8-bit form: UTF-8, except that an unpaired surrogate is kept as its own
// three-byte sequence, so any name the caller can spell comes back unit for unit. Pure.
std::string EncodeRegistryName(std::u16string_view name);

// The inverse of EncodeRegistryName; a byte that starts no valid sequence becomes U+FFFD. Pure.
std::u16string DecodeRegistryName(std::string_view bytes);

// The lookup form of a name: every character mapped to upper case and back to lower case (so
// final and medial sigma, or dotless i and i, fold together), then encoded as above. Characters
// without case, such as Chinese, stay as they are. Any thread.
std::string FoldRegistryName(std::u16string_view name);

}  // namespace kem::platform
