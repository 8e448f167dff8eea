// The printer behind a queue that prints to a CUPS print server: the walk
// goes to that printer, never to the server, which has no profile table.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "BuildSuffix.h"

namespace R2740_COLOR_NS {

// The device URIs to walk for a queue's device URI, best first.
// - A URI that names no server queue: itself.
// - ipp://, ipps://, http://, https:// with a path /printers/NAME or
//   /classes/NAME, and implicitclass://NAME@SERVER[:PORT]/: the server is
//   asked (IPP Get-Printer-Attributes, no credentials, one second for the
//   whole lookup) for the queue's device-uri, or a class's member-uris and
//   then each member's device-uri in member order. A device URI that is
//   itself a server queue is followed once more, no further.
// - A server that answers without a device URI, or not at all within the
//   second: the URI itself (walked at its host), but nothing for
//   implicitclass://.
// - A server that answers with a device the network cannot reach (usb://,
//   a scheme we do not know, a value too long): nothing.
std::vector<std::string> PrintersBehindQueue(const std::string& deviceUri);

}  // namespace R2740_COLOR_NS
