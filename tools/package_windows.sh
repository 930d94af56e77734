#!/usr/bin/env bash
# Builds the Windows setup programs with NSIS, one per architecture, from
# the staged install directories of the Windows builds:
#   build/packages/brisvane-<version>-win64-setup.exe  (x86_64, Program Files)
#   build/packages/brisvane-<version>-win32-setup.exe  (i686)
# Usage: tools/package_windows.sh [-o OUTDIR] [win64[=BUILD_DIR]] [win32[=BUILD_DIR]]
# Without architectures it builds both, from build/win64 and build/win32.
# A build folder that is not configured yet is configured (Release) first;
# every build folder is brought up to date before its stage is packed.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)

out=$root/build/packages
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    -o) out=$2; shift 2 ;;
    win64|win32|win64=*|win32=*) targets+=("$1"); shift ;;
    *) echo "usage: $0 [-o OUTDIR] [win64[=BUILD_DIR]] [win32[=BUILD_DIR]]" >&2; exit 2 ;;
  esac
done
[ ${#targets[@]} -gt 0 ] || targets=(win64 win32)

bash tools/deps.sh windows

# The product version, from the one place it is spelt ("Brisvane/2.10").
version=$(sed -n 's/.*kProductNameVersion\[\] = "[^/"]*\/\([0-9][0-9.]*\)".*/\1/p' base/product.h)
if ! [[ $version =~ ^[0-9]+\.[0-9]+$ ]]; then
  echo "cannot read the product version from base/product.h" >&2
  exit 1
fi

# The host menu's Shutdown command, by which the setup program stops a
# running server before it replaces or removes its files.
shutdown_id=$(sed -n 's/^#define IDM_SHUTDOWN \([0-9][0-9]*\).*/\1/p' host/host_resource.h)
[ -n "$shutdown_id" ] || { echo "cannot read IDM_SHUTDOWN from host/host_resource.h" >&2; exit 1; }

mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d /tmp/brisvane-nsis.XXXXXX)
trap 'rm -rf "$work"' EXIT

# NSIS text: "$" is its variable sign.
nsis_escape() { printf '%s' "${1//\$/\$\$}"; }

# Writes the File lines and the matching Delete/RMDir lines for a stage
# ("$INSTDIR" in single quotes is NSIS's, not the shell's).
# shellcheck disable=SC2016
# The Logs folder's contents and the .keep markers are the build's, not
# the product's.
write_lists() {  # write_lists <stage> <folder for the lists>
  local stage=$1 lists=$2 dir rel f
  : >"$lists/install_files.nsh"
  : >"$lists/uninstall_files.nsh"
  while IFS= read -r dir; do
    rel=${dir#"$stage"}; rel=${rel#/}
    printf 'SetOutPath "$INSTDIR%s"\n' "$(nsis_escape "${rel:+\\${rel//\//\\}}")" >>"$lists/install_files.nsh"
    [ "$rel" = Logs ] && continue
    while IFS= read -r f; do
      printf 'File "%s"\n' "$(nsis_escape "$f")" >>"$lists/install_files.nsh"
      f=${f#"$stage"/}
      printf 'Delete "$INSTDIR\\%s"\n' "$(nsis_escape "${f//\//\\}")" >>"$lists/uninstall_files.nsh"
    done < <(find "$dir" -maxdepth 1 -type f ! -name .keep | LC_ALL=C sort)
  done < <(find "$stage" -type d | LC_ALL=C sort)
  echo 'SetOutPath "$INSTDIR"' >>"$lists/install_files.nsh"
  # Folders deepest first; RMDir leaves any that still hold something.
  while IFS= read -r dir; do
    rel=${dir#"$stage"/}
    printf 'RMDir "$INSTDIR\\%s"\n' "$(nsis_escape "${rel//\//\\}")" >>"$lists/uninstall_files.nsh"
  done < <(find "$stage" -mindepth 1 -type d | LC_ALL=C sort -r)
}

for t in "${targets[@]}"; do
  arch=${t%%=*}
  case "$arch" in
    win64) toolchain=mingw-x86_64 ;;
    win32) toolchain=mingw-i686 ;;
  esac
  dir=build/$arch
  [ "$t" = "$arch" ] || dir=${t#*=}
  if [ ! -f "$dir/build.ninja" ]; then
    echo "Configuring $dir"
    cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRISVANE_TESTS=OFF \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake" >/dev/null
  fi
  echo "Building $dir"
  cmake --build "$dir" -j "$(nproc)" >/dev/null
  stage=$(cd "$dir/stage" && pwd)
  for f in vanehost.exe vanecore.dll vaneconf.exe service.exe; do
    [ -f "$stage/$f" ] || { echo "$stage/$f is missing" >&2; exit 1; }
  done

  lists=$work/$arch
  mkdir -p "$lists"
  write_lists "$stage" "$lists"
  setup=$out/brisvane-$version-$arch-setup.exe
  makensis -V2 -DVERSION="$version" -DARCH="$arch" -DFILES="$lists" -DOUTFILE="$setup" \
    -DHOST_SHUTDOWN_COMMAND="$shutdown_id" \
    "$root/packaging/windows/brisvane.nsi"
  echo "$setup"
done
