#include "platform/clipboard.h"

namespace orvo::platform {

namespace {

class NoClipboard final : public Clipboard {
 public:
  std::optional<std::string> ReadText() override { return std::nullopt; }
  bool Empty() override { return false; }
};

}  // namespace

std::unique_ptr<Clipboard> MakeNoClipboard() { return std::make_unique<NoClipboard>(); }

}  // namespace orvo::platform
