#!/usr/bin/env bash
# The main job: the installer's version, then a silent install from the local account service into a fresh
# system root, and what it left there. Ends non-zero unless the install ended with 0 or 3010.
set -uo pipefail
cd "$(dirname "$0")/.."
build="${ORVO_BUILD_DIR:-$PWD/build/default}"  # another build folder may be named
installer="$build/OrvoInstaller.exe"
service="$build/tools/account_service/orvo-account-service"

echo "== OrvoInstaller.exe --version"
"$installer" --version

for program in "$installer" "$service"; do
  if [ ! -x "$program" ]; then
    echo "Missing $program: run scripts/setup.sh first." >&2
    exit 1
  fi
done

work="$(mktemp -d /tmp/orvo-demo.XXXXXX)"
catalog="$work/catalog" state="$work/service" root="$work/root"
mkdir -p "$state" "$root"
tools/demo/make_catalog.sh "$catalog" || exit 1

echo "== The local account service"
"$service" --catalog "$catalog" --state "$state" --tls >"$state/address" 2>"$state/errors" &
service_pid=$!
stop_service() {
  if kill -0 "$service_pid" 2>/dev/null; then
    kill -TERM "$service_pid"
    wait "$service_pid" 2>/dev/null
  fi
}
trap stop_service EXIT
address=""
for _ in $(seq 100); do
  address="$(head -n 1 "$state/address")"
  [ -n "$address" ] && break
  kill -0 "$service_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$address" ]; then
  echo "The account service did not start:" >&2
  cat "$state/errors" >&2
  exit 1
fi
port="${address##*:}"
echo "Serving $address from $catalog:"
(cd "$catalog" && find . -type f | sort | sed 's|^\./|  |')

echo "== Silent install into the fresh system root $root"
# A proxy of the machine must not stand between the installer and the local service. The installer
# connects on port 443 for https; ORVO_CONNECT_TO sends that to the service's port.
env -u http_proxy -u https_proxy -u all_proxy -u HTTP_PROXY -u HTTPS_PROXY -u ALL_PROXY -u ORVO_DEBUG_OUTPUT \
  ORVO_SYSTEM_ROOT="$root" ORVO_EXIT_CODE_FILE="$work/exit-code" \
  ORVO_ACCOUNT_SERVICE="$address" ORVO_CA_BUNDLE="$state/tls/ca.pem" \
  ORVO_CONNECT_TO="127.0.0.1:443:127.0.0.1:$port" \
  "$installer" /silent
code="$(cat "$work/exit-code" 2>/dev/null || echo none)"
echo "Exit code: $code"
sleep 1  # the product started at the end runs on its own; let it note its start

echo "== What the service was asked for (method, path, status)"
sed -E 's/.*"method":"([A-Z]+)".*"path":"([^"]*)".*"status":([0-9]+).*/  \1 \2 \3/' "$state/requests.jsonl"

echo "== Installed files (C: is $root)"
for folder in "Program Files (x86)" "Windows/SysWOW64"; do
  [ -d "$root/$folder" ] && (cd "$root" && find "$folder" -type f | sort | sed 's|^|  C:/|' | tr '/' '\\')
done
while IFS= read -r -d '' record; do
  echo "-- C:${record#"$root"}" | tr '/' '\\'
  sed 's/^/  /' "$record"
done < <(find "$root" \( -name 'setup-record.txt' -o -name 'start-record.txt' -o -name 'orvo-demo-runtime.txt' \) \
           -print0 | sort -z)

echo "== Registry (Windows/System32/config/registry.sqlite3)"
registry="$root/Windows/System32/config/registry.sqlite3"
if ! command -v sqlite3 >/dev/null; then
  echo "  (sqlite3 is not installed: not shown)"
elif [ -f "$registry" ]; then
  sqlite3 -readonly "$registry" <<'SQL' | sed 's/^/  /'
WITH RECURSIVE tree(id, hive, path) AS (
  SELECT id, hive, '' FROM reg_keys WHERE parent IS NULL
  UNION ALL
  SELECT k.id, k.hive, CASE tree.path WHEN '' THEN k.name ELSE tree.path || '\' || k.name END
  FROM reg_keys k JOIN tree ON k.parent = tree.id)
SELECT CASE tree.hive WHEN 0 THEN 'HKLM' WHEN 1 THEN 'HKCU' ELSE 'hive ' || tree.hive END || '\' || tree.path ||
       COALESCE('  "' || v.name || '" = ' || COALESCE('"' || v.text || '"', v.number), '')
FROM tree LEFT JOIN reg_values v ON v.key = tree.id
WHERE v.id IS NOT NULL OR (tree.path <> '' AND NOT EXISTS (SELECT 1 FROM reg_keys c WHERE c.parent = tree.id))
ORDER BY tree.hive, tree.path, v.id;
SQL
else
  echo "  (no registry was written)"
fi

log="$(find "$root/Users" -name '*.Log' -path '*OrvoInstaller*' 2>/dev/null | sort | head -n 1)"
if [ -z "$log" ]; then
  echo "No log was written." >&2
  exit 1
fi
echo "== Log (C:${log#"$root"}):" | tr '/' '\\'
iconv -f UTF-16LE -t UTF-8 "$log"

stop_service
trap - EXIT
case "$code" in
  0 | 3010) exit 0 ;;
  *) echo "The install did not succeed (exit code $code)." >&2; exit 1 ;;
esac
