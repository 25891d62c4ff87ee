#!/usr/bin/env bash
# Writes the demo catalog of the local account service into CATALOG: the install configuration of the
# default installer id (configs/uqe9137.ini) and the files it names (files/...): one runtime and two setup
# programs. Each is a small "#!/bin/sh" program, which the installer runs as the ".exe" it is named; they
# put their files into the system root (ORVO_SYSTEM_ROOT, drive C:) and note their arguments there.
#
#   tools/demo/make_catalog.sh CATALOG
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 CATALOG" >&2
  exit 2
fi
catalog="$1"
mkdir -p "$catalog/configs" "$catalog/files"

# The body of a setup program that installs the product into "Program Files (x86)\Orvo\Demo\<product>":
# its main program (which notes each start) and a record of the setup's arguments (printf, not echo: the
# arguments hold Windows paths, whose backslashes echo of some shells would read as escapes).
product_setup() {
  local product="$1" program="$2"
  cat <<EOF
#!/bin/sh
# Setup of $product (demo): installs $program and records how it was run.
app="\$ORVO_SYSTEM_ROOT/Program Files (x86)/Orvo/Demo/$product"
mkdir -p "\$app"
{ echo "$product setup ran at \$(date '+%F %T')"; printf 'arguments:'; printf ' %s' "\$@"; echo; } >> "\$app/setup-record.txt"
cat > "\$app/$program" <<'APP'
#!/bin/sh
# $product (demo): notes that it was started.
echo "$product started at \$(date '+%F %T')" >> "\$ORVO_SYSTEM_ROOT/Program Files (x86)/Orvo/Demo/$product/start-record.txt"
APP
exit 0
EOF
}

runtime_setup() {
  cat <<'EOF'
#!/bin/sh
# The runtime redistributable (demo): leaves its file in the 32-bit system folder.
folder="$ORVO_SYSTEM_ROOT/Windows/SysWOW64"
mkdir -p "$folder"
{ echo "demo runtime installed at $(date '+%F %T')"; printf 'arguments:'; printf ' %s' "$@"; echo; } >> "$folder/orvo-demo-runtime.txt"
exit 0
EOF
}

runtime_setup > "$catalog/files/vc_redist.x86.exe"
product_setup "Orvo Photo" OrvoPhoto.exe > "$catalog/files/OrvoPhotoSetup.exe"
product_setup "Orvo Video" OrvoVideo.exe > "$catalog/files/OrvoVideoSetup.exe"

md5() { md5sum "$catalog/files/$1" | cut -d' ' -f1; }
size() { stat -c %s "$catalog/files/$1"; }
# The installer's transports connect on port 443 whatever the address says; the demo sends 127.0.0.1:443
# to the service's port with ORVO_CONNECT_TO.
url() { echo "https://127.0.0.1/files/$1"; }

# Lines end with CR LF, as the configurations are written for Windows.
sed 's/$/\r/' > "$catalog/configs/uqe9137.ini" <<EOF
[setup]
productionname=Orvo Demo Suite
installfolder=Demo
launchfile=OrvoPhoto.exe

[vcredist2019]
id=vcx86
filename=vc_redist.x86.exe
url=$(url vc_redist.x86.exe)
parameter=/install /quiet /norestart
displayname=Microsoft Visual C++ Redistributable (x86)
minversion=14.29.30133.0
checkreg=SOFTWARE\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x86
checkfile=msvcp140.dll
md5=$(md5 vc_redist.x86.exe)
size=$(size vc_redist.x86.exe)

[action_photo]
id=photo
filename=OrvoPhotoSetup.exe
url=$(url OrvoPhotoSetup.exe)
uninstallid=Orvo Photo
displayname=Orvo Photo
mainfile=OrvoPhoto.exe
parameter=/S
md5=$(md5 OrvoPhotoSetup.exe)
size=$(size OrvoPhotoSetup.exe)

[action_video]
id=video
filename=OrvoVideoSetup.exe
url=$(url OrvoVideoSetup.exe)
uninstallid=Orvo Video
displayname=Orvo Video
mainfile=OrvoVideo.exe
parameter=/S
md5=$(md5 OrvoVideoSetup.exe)
size=$(size OrvoVideoSetup.exe)
EOF
