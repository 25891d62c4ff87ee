// The package script runner: reads "orvopack.bin" (decrypting it into a short-lived copy beside it) or a
// plain JSON script, builds the run's variables and dispatches the sections in their fixed order.
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>

#include "script/script_context.h"

namespace orvo::script {

// The encrypted script's file name, matched exactly (another letter case is a plain script).
inline constexpr std::string_view kEncryptedScriptName = "orvopack.bin";

// Runs the script at script_path (a Windows path) in the install or the uninstall direction;
// register_types lets the "registertype" section run in install mode (it always runs in uninstall mode).
// True when the document was read and its sections dispatched, whatever the actions did; false when the
// file does not exist or is not a JSON object. The calling thread must have COM initialised.
bool RunPackageScript(std::string_view script_path, bool uninstall, bool register_types);

// "orvopack_" + 8 characters of [a-z0-9] + ".json", the name of the decrypted copy.
std::string DecryptedCopyName();

// The run's variable table: the built-ins, then the document's scalar members in name order, then the
// resolution pass that lets a member refer to one stored after it.
ScriptVariables BuildScriptVariables(const nlohmann::json& document, std::string_view script_path);

}  // namespace orvo::script
