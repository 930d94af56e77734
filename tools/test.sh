#!/usr/bin/env bash
# Runs every test: the native suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, the x86_64 Windows suite under wine64 in a
# fresh prefix, the i686 Windows build, and the Debian package installed,
# served from and purged (as root). Ends with "N passed, N failed".
set -u
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)

bash tools/deps.sh all || { echo "0 passed, 1 failed"; exit 1; }
mkdir -p build

passed=0
failed=0
skipped=0
stage_failed=0

# Adds the per-test results of one ctest log to the totals.
count_ctest() {
  local log=$1 counts
  # The last result line of each test decides (a repeated test prints one per run).
  counts=$(awk '/^ *([0-9]+\/[0-9]+ )?Test +#[0-9]+: / {
      match($0, /#[0-9]+/); id = substr($0, RSTART + 1, RLENGTH - 1)
      if ($0 ~ /\*\*\*Skipped|Not Run/) st[id] = "s"
      else if ($0 ~ /\*\*\*(Failed|Exception|Timeout)/) st[id] = "f"
      else if ($0 ~ / Passed /) st[id] = "p"
    }
    END { for (i in st) n[st[i]]++; printf "%d %d %d", n["p"], n["f"], n["s"] }' "$log")
  read -r p f s <<<"$counts"
  passed=$((passed + p)); failed=$((failed + f)); skipped=$((skipped + s))
  echo "   $p passed, $f failed, $s skipped"
}

build() {  # build <dir> <log> <cmake args...>
  local dir=$1 log=$2; shift 2
  cmake -S "$root" -B "$dir" -G Ninja -DBRISVANE_WERROR=ON "$@" >"$log" 2>&1 &&
    cmake --build "$dir" -j "$jobs" >>"$log" 2>&1
}

# run_tests <build dir> <log> <command...>: runs the command in the build
# folder and adds its results to the totals.
run_tests() {
  local dir=$1 log=$2; shift 2
  (cd "$dir" && "$@") >"$log" 2>&1
  [ $? -eq 0 ] || stage_failed=1
  count_ctest "$log"
  grep -E '\*\*\*(Failed|Exception|Timeout)' "$log" | sed 's/^/   /'
}

# Names (as one ctest -R expression) of the failed tests in a ctest JUnit
# file that printed nothing at all: programs that never started.
silent_failures() {
  python3 - "$1" <<'PY'
import re, sys, xml.etree.ElementTree as ET
try:
    cases = ET.parse(sys.argv[1]).getroot().iter('testcase')
except (OSError, ET.ParseError):
    sys.exit(0)
names = [c.get('name') for c in cases
         if c.get('status') == 'fail' and not (c.findtext('system-out') or '').strip()]
if names:
    print('^(' + '|'.join(re.escape(n) for n in names) + ')$')
PY
}

build_failed() {  # build_failed <log>
  echo "   build failed:"; grep -E 'error:|warning:|Error' "$1" | head -20 | sed 's/^/   /'
  failed=$((failed + 1)); stage_failed=1
}

echo "== native (ASan + UBSan)"
if build build/test-native build/test-native.log -DCMAKE_BUILD_TYPE=Debug -DBRISVANE_SANITIZE=ON; then
  run_tests build/test-native build/test-native-ctest.log \
    env ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest -j "$jobs" --timeout 300 --output-on-failure
else
  build_failed build/test-native.log
fi

echo "== TLS scan (testssl.sh against the native build)"
if [ -x build/test-native/stage/vanehost ]; then
  timeout 1200 bash tools/testssl_check.sh build/test-native >build/test-testssl.log 2>&1
  case $? in
    0) passed=$((passed + 1)); tail -n 1 build/test-testssl.log ;;
    77) skipped=$((skipped + 1)); tail -n 1 build/test-testssl.log ;;
    *) failed=$((failed + 1)); stage_failed=1; sed -n '/NOT PASSED\|FAIL/p' build/test-testssl.log | head -20 ;;
  esac
else
  echo "   skipped: no native build to scan (its failure is counted above)"; skipped=$((skipped + 1))
fi

echo "== native engine under ThreadSanitizer"
tsan_targets="engine_server_tests engine_tls_server_tests engine_pages_server_tests engine_auth_tests engine_isapi_server_tests host_log_ring_tests"
if cmake -S "$root" -B build/test-tsan -G Ninja -DBRISVANE_WERROR=ON -DCMAKE_BUILD_TYPE=Debug -DBRISVANE_TSAN=ON \
     >build/test-tsan.log 2>&1 && cmake --build build/test-tsan -j "$jobs" --target $tsan_targets >>build/test-tsan.log 2>&1; then
  run_tests build/test-tsan build/test-tsan-ctest.log env TSAN_OPTIONS=halt_on_error=1 \
    ctest -j "$jobs" --timeout 600 --output-on-failure \
    -R '^(engine_server_tests|engine_tls_server_tests|engine_pages_server_tests|engine_auth_tests|engine_isapi_server_tests|host_log_ring_tests)\.'
else
  build_failed build/test-tsan.log
fi

echo "== windows x86_64 (wine64)"
export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/brisvane-wine.XXXXXX)
export WINEDEBUG=-all
cleanup_wine() { /usr/lib/wine/wineserver -k >/dev/null 2>&1; rm -rf "$WINEPREFIX"; }
trap cleanup_wine EXIT
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
# No display here: Wine's null graphics driver still runs windows and boxes.
/usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
# The desktop process that wineboot started has no driver: end it, so the
# next program starts one with the null driver and windows can be made.
/usr/lib/wine/wineserver -k >/dev/null 2>&1
if build build/test-win64 build/test-win64.log -DCMAKE_BUILD_TYPE=Release \
     -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake"; then
  win64_built=1
  # Under Wine a test program now and then fails to start at all (no output,
  # exit in milliseconds); only such a test gets one more run, so that real
  # flakiness still shows. The rerun's result lines come last in the log.
  junit=$root/build/test-win64-junit.xml
  rm -f "$junit"
  before="$passed $failed $skipped $stage_failed"
  run_tests build/test-win64 build/test-win64-ctest.log \
    ctest -j "$jobs" --timeout 600 --output-on-failure --output-junit "$junit"
  silent=$(silent_failures "$junit")
  if [ -n "$silent" ]; then
    echo "   rerunning tests that did not start: $silent"
    # The log is counted again with the reruns appended; their result
    # lines come last and decide, so a failure left shows in `failed`.
    read -r passed failed skipped stage_failed <<<"$before"
    (cd build/test-win64 && ctest --timeout 600 --output-on-failure -R "$silent") \
      >>build/test-win64-ctest.log 2>&1
    count_ctest build/test-win64-ctest.log
  fi
else
  build_failed build/test-win64.log
fi
/usr/lib/wine/wineserver -k >/dev/null 2>&1

echo "== windows i686 (build only)"
if build build/test-win32 build/test-win32.log -DCMAKE_BUILD_TYPE=Release -DBRISVANE_TESTS=ON \
     -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake"; then
  echo "   built"; passed=$((passed + 1))
  win32_built=1
else
  build_failed build/test-win32.log
fi

echo "== windows installer (wine64)"
# The setup programs from both stages; the x86_64 one is installed, run and
# removed in a prefix of its own (wine64 cannot run the i686 one).
if [ "${win64_built:-0}" -eq 1 ]; then
  rm -rf build/test-packages
  packages=(win64=build/test-win64)
  [ "${win32_built:-0}" -eq 1 ] && packages+=(win32=build/test-win32)
  if bash tools/package_windows.sh -o build/test-packages "${packages[@]}" >build/test-installer.log 2>&1 &&
     timeout 900 bash tools/test_windows_installer.sh build/test-packages/brisvane-*-win64-setup.exe \
       >>build/test-installer.log 2>&1; then
    echo "   $(tail -2 build/test-installer.log | head -1)"; passed=$((passed + 1))
  else
    echo "   failed:"; grep -E 'FAIL|rror' build/test-installer.log | head -20 | sed 's/^/   /'
    failed=$((failed + 1)); stage_failed=1
  fi
else
  echo "   skipped: no x86_64 build"; skipped=$((skipped + 1))
fi

echo "== debian package"
timeout 900 bash tools/test_deb.sh
case $? in
  0) echo "   passed"; passed=$((passed + 1)) ;;
  77) skipped=$((skipped + 1)) ;;
  *) echo "   failed (logs in build/test-deb)"; failed=$((failed + 1)); stage_failed=1 ;;
esac

if [ "$stage_failed" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
