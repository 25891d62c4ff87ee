#!/usr/bin/env bash
# The main job: the installer's version, then a silent run in a fresh system root, and what it left there.
set -uo pipefail
cd "$(dirname "$0")/.."
installer="$PWD/build/default/OrvoInstaller.exe"

echo "== OrvoInstaller.exe --version"
"$installer" --version

root="$(mktemp -d /tmp/orvo-root.XXXXXX)"
echo "== Silent run in the fresh system root $root"
ORVO_SYSTEM_ROOT="$root" ORVO_EXIT_CODE_FILE="$root/exit-code" "$installer" /silent
echo "Exit code: $(cat "$root/exit-code" 2>/dev/null || echo "none")"

log="$(find "$root/Users" -name '*.Log' -path '*OrvoInstaller*' | head -n 1)"
if [ -z "$log" ]; then
  echo "No log was written." >&2
  exit 1
fi
echo "Log (C:${log#"$root"}):" | tr '/' '\\'
iconv -f UTF-16LE -t UTF-8 "$log"
