// Percent-encoding of one text that goes into a URL as a path segment or a
// query value. Pure function, safe on any thread.
#ifndef VERU_ENGINE_URL_ESCAPE_H
#define VERU_ENGINE_URL_ESCAPE_H

#include <string>

namespace Veru {

// sText with every byte outside the unreserved set "A-Z a-z 0-9 - . _ ~"
// written as "%XX" (upper-case hex), bytes of multi-byte characters one by
// one. A text of unreserved characters only comes back as it is.
std::string EscapeURLComponent(const std::string& sText);

}  // namespace Veru

#endif  // VERU_ENGINE_URL_ESCAPE_H
