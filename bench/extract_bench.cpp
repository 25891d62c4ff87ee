// Unpacking a package of about 300 MB in about 3,000 files with the installer's two extraction paths,
// against `unzip -q` of the same archive in the same run. The package is made here (compressible and
// incompressible files mixed) in a temporary folder that is removed at the end.
//
//   extract_bench [rounds]      (default 3; each round runs every tool once, in a rotating order)
#include <minizip/zip.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "deploy/seven_zip.h"
#include "deploy/zip_extract.h"
#include "platform/platform.h"

namespace {

namespace stdfs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kTargetBytes = 300ull * 1024 * 1024;
constexpr std::size_t kFileCount = 3000;

struct Fixture {
  std::uint64_t bytes = 0;
  std::size_t files = 0;
  std::uint64_t archive_bytes = 0;
};

// Text that deflate shrinks about four times, like program resources and scripts.
void FillCompressible(std::string& data, std::size_t size, std::mt19937_64& random) {
  static const char* const kWords[] = {"install", "package", "orvo",  "folder", "registry", "value", "string",
                                       "version", "product", "setup", "data",   "module",   "=",     "\r\n"};
  data.clear();
  while (data.size() < size) {
    data += kWords[random() % std::size(kWords)];
    data += ' ';
    if (random() % 4 == 0) data += std::to_string(random() % 100000);
  }
  data.resize(size);
}

// Bytes deflate cannot shrink, like compressed media and signed binaries.
void FillIncompressible(std::string& data, std::size_t size, std::mt19937_64& random) {
  data.resize(size);
  for (std::size_t at = 0; at < size; at += 8) {
    const std::uint64_t word = random();
    std::memcpy(data.data() + at, &word, std::min<std::size_t>(8, size - at));
  }
}

Fixture MakePackage(const stdfs::path& archive) {
  std::mt19937_64 random(20240219);
  zipFile zip = zipOpen64(archive.c_str(), APPEND_STATUS_CREATE);
  if (zip == nullptr) {
    std::fprintf(stderr, "cannot create %s\n", archive.c_str());
    std::exit(1);
  }
  Fixture fixture;
  std::string data;
  const std::uint64_t mean = kTargetBytes / kFileCount;
  for (std::size_t index = 0; index < kFileCount; ++index) {
    const std::size_t size = static_cast<std::size_t>(1024 + random() % (2 * mean - 2048));
    const bool compressible = random() % 10 < 6;
    if (compressible) {
      FillCompressible(data, size, random);
    } else {
      FillIncompressible(data, size, random);
    }
    const std::string name = "Product/module" + std::to_string(index % 40) + "/part" + std::to_string(index % 3) +
                             "/file" + std::to_string(index) + (compressible ? ".txt" : ".bin");
    zip_fileinfo info{};
    // Packers deflate everything; incompressible data only costs them time at a high level.
    const int level = compressible ? Z_DEFAULT_COMPRESSION : 1;
    if (zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, level, 0) !=
            ZIP_OK ||
        zipWriteInFileInZip(zip, data.data(), static_cast<unsigned>(data.size())) != ZIP_OK ||
        zipCloseFileInZip(zip) != ZIP_OK) {
      std::fprintf(stderr, "cannot write %s\n", name.c_str());
      std::exit(1);
    }
    fixture.bytes += size;
    ++fixture.files;
  }
  zipClose(zip, nullptr);
  fixture.archive_bytes = stdfs::file_size(archive);
  return fixture;
}

struct Tool {
  const char* name;
  std::function<bool()> run;
  std::vector<double> seconds;
};

bool SameAsFixture(const stdfs::path& folder, const Fixture& fixture) {
  std::uint64_t bytes = 0;
  std::size_t files = 0;
  for (const auto& entry : stdfs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    ++files;
    bytes += entry.file_size();
  }
  return files == fixture.files && bytes == fixture.bytes;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The temporary folder goes whatever way the program ends normally.
struct TemporaryFolder {
  stdfs::path path;
  ~TemporaryFolder() {
    std::error_code ignored;
    stdfs::remove_all(path, ignored);
  }
};

}  // namespace

int main(int argc, char** argv) {
  using namespace orvo;
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;

  std::random_device device;
  TemporaryFolder folder{stdfs::temp_directory_path() / ("orvo-extract-bench-" + std::to_string(device()))};
  stdfs::create_directories(folder.path);
  std::string problem;
  auto services = platform::CreatePlatform(folder.path / "root", &problem);
  if (!services) {
    std::fprintf(stderr, "cannot prepare the system root: %s\n", problem.c_str());
    return 1;
  }
  platform::Install(std::move(services));

  const std::string archive = "C:\\package.zip";
  const std::string destination = "C:\\Out";
  const stdfs::path archive_linux = platform::Drive().ToLinux(archive);
  const stdfs::path out_linux = platform::Drive().Root() / "Out";

  const auto made_at = Clock::now();
  const Fixture fixture = MakePackage(archive_linux);
  std::printf("package: %zu files, %.1f MB unpacked, %.1f MB packed (made in %.1f s)\n", fixture.files,
              static_cast<double>(fixture.bytes) / 1e6, static_cast<double>(fixture.archive_bytes) / 1e6,
              std::chrono::duration<double>(Clock::now() - made_at).count());

  const std::string unzip_command = "unzip -q -o '" + archive_linux.string() + "' -d '" + out_linux.string() + "'";
  std::vector<Tool> tools = {
      {"unzip -q", [&] { return std::system(unzip_command.c_str()) == 0; }, {}},
      {"ExtractZip", [&] { return deploy::ExtractZip(archive, destination) == 0; }, {}},
      {"SevenZipExtract",
       [&] {
         std::vector<std::string> top;
         return deploy::SevenZipExtract(archive, destination, top, false) == 0;
       },
       {}},
  };

  for (int round = 0; round < rounds; ++round) {
    for (std::size_t turn = 0; turn < tools.size(); ++turn) {
      Tool& tool = tools[(turn + static_cast<std::size_t>(round)) % tools.size()];
      stdfs::remove_all(out_linux);
      stdfs::create_directories(out_linux);
      const auto start = Clock::now();
      const bool ran = tool.run();
      const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
      if (!ran || !SameAsFixture(out_linux, fixture)) {
        std::fprintf(stderr, "%s did not unpack the package\n", tool.name);
        return 1;
      }
      tool.seconds.push_back(seconds);
    }
  }
  stdfs::remove_all(out_linux);

  const double unzip_seconds = Median(tools[0].seconds);
  std::printf("%-16s %10s %10s %10s %14s\n", "tool", "median s", "best s", "MB/s", "speed / unzip");
  for (const Tool& tool : tools) {
    const double seconds = Median(tool.seconds);
    const double best = *std::min_element(tool.seconds.begin(), tool.seconds.end());
    std::printf("%-16s %10.3f %10.3f %10.1f %14.2f\n", tool.name, seconds, best,
                static_cast<double>(fixture.bytes) / 1e6 / seconds, unzip_seconds / seconds);
  }
  std::printf("(%d rounds; speed / unzip above 1 is faster than unzip; the goal for ExtractZip is 0.9)\n", rounds);
  return 0;
}
