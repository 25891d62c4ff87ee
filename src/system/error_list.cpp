#include "system/error_list.h"

#include <mutex>
#include <utility>

namespace orvo::sys {
namespace {

struct ErrorList {
  std::mutex mutex;
  std::vector<std::string> tags;
};

ErrorList& List() {
  static ErrorList list;
  return list;
}

}  // namespace

void AddSharedError(const std::string& tag) {
  std::lock_guard lock(List().mutex);
  List().tags.push_back(tag);
}

std::vector<std::string> SharedErrors() {
  std::lock_guard lock(List().mutex);
  return List().tags;
}

std::vector<std::string> TakeSharedErrors() {
  std::lock_guard lock(List().mutex);
  return std::exchange(List().tags, {});
}

}  // namespace orvo::sys
