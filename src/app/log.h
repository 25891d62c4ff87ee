// The process-wide log: one UTF-16LE file per run in the working folder, each line written with one write
// call and no buffering, and every line also sent to the debugger output.
//
// "Stub Installer [<thread>] [YYYY-MM-DD hh:mm:ss.mmm] <Level> <message>\n"
//
// Messages are printf formats over UTF-8 text ("%s" takes a UTF-8 string).
#pragma once

#include <cstdarg>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::log {

enum class Level { kDebug, kInfo, kError };

void Debug(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Info(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Error(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Write(Level level, const char* format, va_list args);

// Creates the log file in the working folder (a Windows path) under a name made from the local time
// ("24_02_19_03-45PM.Log", then "-1", "-2"... when taken). False when the file cannot be created.
bool Open(std::string_view working_folder);
// Windows path of the open (or last) log file; empty before Open.
std::string GetPath();
// Closes the file; later lines reach the debugger output only. Harmless when closed already.
void Close();

// The line as it is written (without the "\n" the file adds).
std::string FormatLine(Level level, std::string_view message);

// Records every message (level and formatted text) for the life of the object, for tests.
class ScopedCapture {
 public:
  struct Entry {
    Level level;
    std::string message;
  };
  ScopedCapture();
  ~ScopedCapture();
  ScopedCapture(const ScopedCapture&) = delete;
  ScopedCapture& operator=(const ScopedCapture&) = delete;
  std::vector<Entry> Entries() const;
  // True when some message equals text exactly.
  bool Contains(std::string_view text) const;
  bool Contains(Level level, std::string_view text) const;
  void Record(Level level, const std::string& message);

 private:
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
};

}  // namespace orvo::log
