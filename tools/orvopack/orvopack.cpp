// orvopack: encrypts a JSON package script into "orvopack.bin" and decrypts one again, with the cipher the
// installer reads package scripts with. For package authors and for tests.
//
//   orvopack encrypt <in.json> <out orvopack.bin>
//   orvopack decrypt <orvopack.bin> <out.json>
//
// Paths are Linux paths. encrypt refuses a file that is not a JSON object (the installer would not run
// it) unless --any is given before the command, for tests that need a broken script.
#include <fstream>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "script/cipher.h"

namespace {

int Usage() {
  std::cerr << "usage: orvopack [--any] encrypt <in.json> <out orvopack.bin>\n"
               "       orvopack decrypt <orvopack.bin> <out.json>\n";
  return 2;
}

std::optional<std::string> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

bool WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  bool any = false;
  if (argc > first && std::string_view(argv[first]) == "--any") {
    any = true;
    ++first;
  }
  if (argc - first != 3) return Usage();
  const std::string command = argv[first];
  const std::string input_path = argv[first + 1];
  const std::string output_path = argv[first + 2];
  if (command != "encrypt" && command != "decrypt") return Usage();

  const std::optional<std::string> input = ReadAll(input_path);
  if (!input) {
    std::cerr << "orvopack: cannot read " << input_path << "\n";
    return 1;
  }
  const orvo::script::AesCipher cipher = orvo::script::AesCipher::ForPackageScripts();
  std::string output;
  try {
    if (command == "encrypt") {
      if (!any && !nlohmann::json::parse(*input, nullptr, false).is_object()) {
        std::cerr << "orvopack: " << input_path << " is not a JSON object (use --any to encrypt it anyway)\n";
        return 1;
      }
      output = cipher.Encrypt(*input);
    } else {
      output = cipher.Decrypt(*input);
    }
  } catch (const orvo::script::CipherError& error) {
    std::cerr << "orvopack: " << error.what() << "\n";
    return 1;
  }
  if (!WriteAll(output_path, output)) {
    std::cerr << "orvopack: cannot write " << output_path << "\n";
    return 1;
  }
  return 0;
}
