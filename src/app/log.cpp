#include "app/log.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "platform/system_drive.h"
#include "platform/text.h"

namespace orvo::log {

namespace pfs = platform::fs;

namespace {

// The file is swapped only by Open and Close (the controller's thread); writers hold a shared reference
// for the length of their one write, so Close never pulls the file from under a worker.
struct State {
  std::mutex mutex;
  std::shared_ptr<pfs::File> file;
  std::string path;
  std::vector<ScopedCapture*> captures;
};

State& TheLog() {
  static State* state = new State;  // lives to the very end: threads may log during exit
  return *state;
}

const char* LevelName(Level level) {
  switch (level) {
    case Level::kDebug: return "Debug";
    case Level::kInfo: return "Info";
    case Level::kError: return "Error";
  }
  return "Debug";
}

}  // namespace

std::string FormatLine(Level level, std::string_view message) {
  const platform::LocalTime now = platform::LocalTimeNow();
  std::string line = platform::Format("Stub Installer [%u] [%04d-%02d-%02d %02d:%02d:%02d.%03d] %s ",
                                      platform::CurrentThreadId(), now.year, now.month, now.day, now.hour,
                                      now.minute, now.second, now.millisecond, LevelName(level));
  line.append(message);
  return line;
}

void Write(Level level, const char* format, va_list args) {
  if (format == nullptr) return;
  const std::string message = platform::FormatV(format, args);
  State& state = TheLog();
  std::shared_ptr<pfs::File> file;
  {
    std::lock_guard lock(state.mutex);
    file = state.file;
    for (ScopedCapture* capture : state.captures) capture->Record(level, message);
  }
  std::string line = FormatLine(level, message);
  if (file) {
    line += '\n';
    const std::string bytes = platform::Utf16LeBytes(platform::Utf8ToUtf16(line));
    file->WriteOnce(bytes.data(), bytes.size());  // one call per line; a short write is not retried
  }
  platform::DebugOutput(line);
}

void Debug(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Write(Level::kDebug, format, args);
  va_end(args);
}

void Info(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Write(Level::kInfo, format, args);
  va_end(args);
}

void Error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Write(Level::kError, format, args);
  va_end(args);
}

bool Open(std::string_view working_folder) {
  const std::string stamp = platform::FileTimeStamp(platform::LocalTimeNow());
  std::string path = platform::JoinPath(working_folder, stamp + ".Log");
  for (int n = 1; pfs::Exists(path); ++n) {
    path = platform::JoinPath(working_folder, stamp + "-" + std::to_string(n) + ".Log");
  }
  std::shared_ptr<pfs::File> file = pfs::File::Open(path, pfs::File::Mode::kCreateAlways);
  if (!file) return false;
  State& state = TheLog();
  std::lock_guard lock(state.mutex);
  state.file = std::move(file);
  state.path = std::move(path);
  return true;
}

std::string GetPath() {
  State& state = TheLog();
  std::lock_guard lock(state.mutex);
  return state.path;
}

void Close() {
  State& state = TheLog();
  std::lock_guard lock(state.mutex);
  state.file.reset();
}

ScopedCapture::ScopedCapture() {
  State& state = TheLog();
  std::lock_guard lock(state.mutex);
  state.captures.push_back(this);
}

ScopedCapture::~ScopedCapture() {
  State& state = TheLog();
  std::lock_guard lock(state.mutex);
  std::erase(state.captures, this);
}

void ScopedCapture::Record(Level level, const std::string& message) {
  std::lock_guard lock(mutex_);
  entries_.push_back({level, message});
}

std::vector<ScopedCapture::Entry> ScopedCapture::Entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

bool ScopedCapture::Contains(std::string_view text) const {
  std::lock_guard lock(mutex_);
  for (const auto& entry : entries_) {
    if (entry.message == text) return true;
  }
  return false;
}

bool ScopedCapture::Contains(Level level, std::string_view text) const {
  std::lock_guard lock(mutex_);
  for (const auto& entry : entries_) {
    if (entry.level == level && entry.message == text) return true;
  }
  return false;
}

}  // namespace orvo::log
