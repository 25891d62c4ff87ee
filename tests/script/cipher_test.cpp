// The AES-256-CBC cipher object, checked against the openssl command line, and the orvopack tool.
#include "script/cipher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "platform/process.h"
#include "platform/win_types.h"
#include "support/test_root.h"

namespace orvo::script {
namespace {

namespace stdfs = std::filesystem;

std::string Bytes(const std::array<std::uint8_t, AesCipher::kKeySize>& key) { return {key.begin(), key.end()}; }
std::string Bytes(const std::array<std::uint8_t, AesCipher::kIvSize>& iv) { return {iv.begin(), iv.end()}; }

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char byte : bytes) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0xF];
  }
  return hex;
}

std::string Slurp(const stdfs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void Spit(const stdfs::path& file, const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }

std::string ErrorOf(const AesCipher& cipher, const std::string& cipher_text) {
  try {
    cipher.Decrypt(cipher_text);
  } catch (const CipherError& error) {
    return error.what();
  }
  return "no error";
}

TEST(AesCipherTest, KeyAndIvAreTheFirstCharactersOfTheirTexts) {
  const AesCipher cipher = AesCipher::ForPackageScripts();
  EXPECT_EQ(Bytes(cipher.Key()), "{3F1E9D57-C2A4-4B6E-9D03-E58C7F2");
  EXPECT_EQ(Bytes(cipher.Iv()), "{8E47B1C9-5D3F-4");

  AesCipher replaced = cipher;
  replaced.SetKey("short");  // fills only its own length
  replaced.SetIv("0123456789abcdefTAIL");
  EXPECT_EQ(Bytes(replaced.Key()), "short9D57-C2A4-4B6E-9D03-E58C7F2");
  EXPECT_EQ(Bytes(replaced.Iv()), "0123456789abcdef");

  const AesCipher from_empty("", "");
  EXPECT_EQ(Bytes(from_empty.Key()), std::string(32, '\0'));
  EXPECT_EQ(Bytes(from_empty.Iv()), std::string(16, '\0'));
}

TEST(AesCipherTest, RoundTripsWithPkcs7Padding) {
  const AesCipher cipher = AesCipher::ForPackageScripts();
  for (std::size_t size : {0u, 1u, 15u, 16u, 17u, 4096u}) {
    std::string plain(size, '\0');
    for (std::size_t i = 0; i < size; ++i) plain[i] = static_cast<char>(i * 7 + 3);
    const std::string encrypted = cipher.Encrypt(plain);
    EXPECT_EQ(encrypted.size(), (size / 16 + 1) * 16) << size;
    EXPECT_EQ(cipher.Decrypt(encrypted), plain) << size;
  }
}

TEST(AesCipherTest, FailuresNameTheStage) {
  const AesCipher cipher = AesCipher::ForPackageScripts();
  EXPECT_EQ(ErrorOf(cipher, ""), "EVP_DecryptFinal_ex failed");
  EXPECT_EQ(ErrorOf(cipher, std::string(15, 'x')), "EVP_DecryptFinal_ex failed");
  AesCipher other = cipher;
  other.SetKey("another key of thirty-two bytes!");
  EXPECT_EQ(ErrorOf(other, cipher.Encrypt(R"({"registry": []})")), "EVP_DecryptFinal_ex failed");
}

class CipherCommandLineTest : public ::testing::Test {
 protected:
  // Runs a shell script through the platform's launcher and returns its exit code.
  std::uint32_t Shell(const std::string& script) {
    platform::SpawnRequest request;
    request.application = "Z:\\bin\\sh";
    request.command_line = platform::JoinCommandLine({"sh", "-c", script});
    std::uint32_t error = 0;
    auto process = root_.Platform().launcher->Spawn(request, &error);
    EXPECT_NE(process, nullptr) << error;
    if (!process) return 0xFFFFFFFFu;
    EXPECT_EQ(process->Wait(60000), platform::kWaitObject0);
    return process->ExitCode();
  }
  stdfs::path File(const char* name) const { return root_.Root() / name; }
  static std::string Quoted(const stdfs::path& path) { return "'" + path.string() + "'"; }

  test::TestRoot root_;
};

TEST_F(CipherCommandLineTest, MatchesTheOpensslCommandLineInBothDirections) {
  const AesCipher cipher = AesCipher::ForPackageScripts();
  const std::string openssl =
      "openssl enc -aes-256-cbc -K " + Hex(Bytes(cipher.Key())) + " -iv " + Hex(Bytes(cipher.Iv()));
  const std::string plain = R"({"registry": [{"path": "HKCU\\Software\\Orvo", "data": "%~dp0"}], "n": 1})";
  Spit(File("plain.json"), plain);

  ASSERT_EQ(Shell(openssl + " -in " + Quoted(File("plain.json")) + " -out " + Quoted(File("by-openssl.bin"))), 0u);
  EXPECT_EQ(Slurp(File("by-openssl.bin")), cipher.Encrypt(plain));

  Spit(File("by-us.bin"), cipher.Encrypt(plain));
  ASSERT_EQ(Shell(openssl + " -d -in " + Quoted(File("by-us.bin")) + " -out " + Quoted(File("back.json"))), 0u);
  EXPECT_EQ(Slurp(File("back.json")), plain);
}

TEST_F(CipherCommandLineTest, OrvopackToolEncryptsAndDecryptsPackageScripts) {
  const std::string tool = Quoted(ORVO_ORVOPACK_TOOL);
  const std::string plain = R"({"afterinstall": [{"name": "cmd", "data": ["echo done"]}]})";
  Spit(File("script.json"), plain);

  ASSERT_EQ(Shell(tool + " encrypt " + Quoted(File("script.json")) + " " + Quoted(File("orvopack.bin"))), 0u);
  EXPECT_EQ(AesCipher::ForPackageScripts().Decrypt(Slurp(File("orvopack.bin"))), plain);
  ASSERT_EQ(Shell(tool + " decrypt " + Quoted(File("orvopack.bin")) + " " + Quoted(File("back.json"))), 0u);
  EXPECT_EQ(Slurp(File("back.json")), plain);

  // A file the installer would refuse is refused, unless asked for on purpose.
  Spit(File("broken.json"), "[1, 2");
  EXPECT_EQ(Shell(tool + " encrypt " + Quoted(File("broken.json")) + " " + Quoted(File("broken.bin")) + " 2>/dev/null"),
            1u);
  EXPECT_FALSE(stdfs::exists(File("broken.bin")));
  ASSERT_EQ(Shell(tool + " --any encrypt " + Quoted(File("broken.json")) + " " + Quoted(File("broken.bin"))), 0u);
  EXPECT_EQ(AesCipher::ForPackageScripts().Decrypt(Slurp(File("broken.bin"))), "[1, 2");

  // Not a ciphertext, a missing input, a wrong command.
  EXPECT_EQ(Shell(tool + " decrypt " + Quoted(File("script.json")) + " " + Quoted(File("x.json")) + " 2>/dev/null"),
            1u);
  EXPECT_EQ(Shell(tool + " decrypt " + Quoted(File("missing.bin")) + " " + Quoted(File("x.json")) + " 2>/dev/null"),
            1u);
  EXPECT_FALSE(stdfs::exists(File("x.json")));
  EXPECT_EQ(Shell(tool + " shuffle a b 2>/dev/null"), 2u);
}

}  // namespace
}  // namespace orvo::script
