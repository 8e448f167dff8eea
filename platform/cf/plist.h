// XML property lists, read and written through libplist.
#pragma once

#include <string>
#include <string_view>

#include "cf/cf.h"

namespace cf {

// Parses XML (or binary) property-list bytes. Null on malformed, truncated,
// empty or non-plist input, with a one-line reason in *error when given.
// Integers are signed 64-bit (an unsigned value above INT64_MAX reads as its
// two's-complement negative); a <date> reads as a real Number of seconds
// since 2001-01-01T00:00:00Z, as there is no date type here; strings must be
// UTF-8 without NUL characters; nesting deeper than 512 containers and
// keyed-archive UIDs are refused. A UTF-8 byte order mark is accepted.
Ref PropertyListCreateWithData(std::string_view bytes, std::string* error = nullptr);
// Reads and parses a file; null with a reason when it cannot be read or parsed.
Ref PropertyListCreateFromFile(const std::string& path, std::string* error = nullptr);

// Writes the XML form the platform's writer produces: XML 1.0 header, the
// standard DOCTYPE, <plist version="1.0">, dictionary keys sorted. Fails
// (empty optional, reason in *error) for values a property list cannot hold:
// null, URLs, non-string dictionary keys.
std::optional<std::string> PropertyListCreateXMLData(const Ref& root, std::string* error = nullptr);
// Writes the XML form to a file. With atomic, the text goes to a temporary
// file in the same folder that is renamed over the target, so the old file
// stays whole when anything fails.
[[nodiscard]] bool PropertyListWriteToFile(const Ref& root, const std::string& path, bool atomic = true,
                             std::string* error = nullptr);

}  // namespace cf
