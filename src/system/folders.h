// The installer's fixed folders and the folder macros of install folders. Values are Windows paths built
// from the known folders of the platform layer.
#pragma once

#include <string>
#include <string_view>

namespace orvo::sys {

inline constexpr std::string_view kCommonMacro = "%common%";
inline constexpr std::string_view kOrvoCommonMacro = "%orvocommon%";

// What an install folder that begins with a macro (matched case-sensitively) stands for, whatever follows
// the macro: "%common%" the common files folder of 32-bit programs joined with "Orvo", "%orvocommon%" the
// program files folder as a 32-bit program sees it joined with "Orvo". Logs (Debug) "install to common
// installed path: %s" or "install to orvo common installed path: %s". Empty, and nothing logged, for any
// other value, the empty one included.
std::string ExpandFolderMacro(std::string_view install_folder);

// "<program files as a 32-bit program sees it>\Orvo\OrvoInstaller".
std::string InstallerProgramFolder();
// Scratch folder for running a file from a package: "<temp>\OrvoInstaller\<installer id>\temp".
std::string RunScratchFolder(std::string_view installer_id);
// Scratch folder for reading a file version from a package: "<temp>\OrvoInstaller\temp\<installer id>".
std::string VersionScratchFolder(std::string_view installer_id);
// Work folder of start-menu links: the user's temporary folder without its trailing backslash.
std::string StartMenuWorkFolder();

// True when this (32-bit) program runs on 64-bit Windows.
bool IsWindows64();

}  // namespace orvo::sys
