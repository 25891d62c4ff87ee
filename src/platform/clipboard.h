// The clipboard: the two operations the start information needs.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace orvo::platform {

class Clipboard {
 public:
  virtual ~Clipboard() = default;
  // The Unicode text on the clipboard (UTF-8), or nothing when it cannot be opened or holds no text.
  virtual std::optional<std::string> ReadText() = 0;
  virtual bool Empty() = 0;
};

// Where no display exists there is no clipboard: nothing to read, nothing to empty.
std::unique_ptr<Clipboard> MakeNoClipboard();

}  // namespace orvo::platform
