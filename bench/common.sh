# What the benchmark scripts share: logging, installing the peers, the
# Release build of vanehost, the temporary directory with its cleanup, free
# ports and the registry writer. Sourced from the repository root.

log() { printf '%s\n' "$*" >&2; }

have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# install_tools PACKAGE...: installs the missing ones with apt-get (as
# root), stops any system service their install started (this benchmark
# runs its own instances), and puts the sbin folders on PATH.
install_tools() {
  local p svc pidfile missing=()
  for p in "$@"; do
    if ! have_pkg "$p" && ! command -v "$p" >/dev/null 2>&1 && [ ! -x "/usr/sbin/$p" ]; then missing+=("$p"); fi
  done
  if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" != 0 ]; then
      log "missing ${missing[*]}; run as root to let this script install them with apt-get"
      return 1
    fi
    log "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    timeout 600 apt-get update -qq >/dev/null 2>&1 || true
    if ! timeout 900 apt-get install -y -qq "${missing[@]}" >/tmp/brisvane-bench-apt.log 2>&1; then
      log "apt-get install failed; see /tmp/brisvane-bench-apt.log"
      return 1
    fi
    for svc in apache2 nginx lighttpd h2o; do
      case " ${missing[*]} " in *" $svc "*) ;; *) continue ;; esac
      pidfile=/run/$svc.pid
      [ "$svc" = apache2 ] && pidfile=/run/apache2/apache2.pid
      [ -s "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null || continue
      log "stopping the $svc system service that its package install started"
      if [ -d /run/systemd/system ] && command -v systemctl >/dev/null; then
        timeout 30 systemctl stop "$svc" >/dev/null 2>&1 || true
      elif command -v service >/dev/null; then
        timeout 30 service "$svc" stop >/dev/null 2>&1 || true
      fi
      if [ -s "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null; then
        kill -TERM "$(cat "$pidfile")" 2>/dev/null || true
      fi
    done
  fi
  PATH=$PATH:/usr/sbin:/sbin
}

# require_commands NAME...: fails naming the first that is not on PATH.
require_commands() {
  local t
  for t in "$@"; do
    command -v "$t" >/dev/null || { log "$t not found"; return 1; }
  done
}

# build_vanehost: a Release build in build/bench-release; sets $vanehost
# and $build.
build_vanehost() {
  bash tools/deps.sh native || return 1
  build=$repo/build/bench-release
  mkdir -p "$repo/build"  # the build log sits beside the build folder, even on a fresh clone
  log "Building Brisvane (Release) in $build"
  if ! { timeout 1800 cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRISVANE_TESTS=OFF &&
         timeout 1800 cmake --build "$build" -j "$(nproc)"; } >"$build.log" 2>&1; then
    tail -n 40 "$build.log" >&2
    log "build failed; full log in $build.log"
    return 1
  fi
  vanehost=$build/stage/vanehost
  [ -x "$vanehost" ] || { log "no $vanehost after the build"; return 1; }
}

# make_temp_dir: $tmp, removed at exit together with every server whose
# pid was added to $pids.
pids=()
make_temp_dir() {
  tmp=$(mktemp -d /tmp/brisvane-bench.XXXXXX)
  chmod 755 "$tmp"  # the peers' workers may run as another user
  trap cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM HUP
}
cleanup() {
  local pid kids k i
  for pid in "${pids[@]}"; do
    kill -0 "$pid" 2>/dev/null || continue
    kids=$(ps -o pid= --ppid "$pid" 2>/dev/null)
    kill -TERM "$pid" 2>/dev/null
    for i in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null
    for k in $kids; do kill -KILL "$k" 2>/dev/null; done
    wait "$pid" 2>/dev/null
  done
  rm -rf "$tmp"
}

. "$(dirname "${BASH_SOURCE[0]}")/../tools/ports.sh"

# set_reg SECTION NAME TYPE VALUE: one value of the Default profile in $reg.
set_reg() {
  python3 tools/reg_set.py "$reg" 'HKEY_LOCAL_MACHINE\SOFTWARE\Halvex\Brisvane\2.0\Default'"\\$1" "$2" "$3" "$4"
}

# Whether the server still runs; records how it ended the first time it
# is found gone. Servers are kept in the arrays pid_of, reaped, last_exit
# and deaths, by name.
alive() {  # name
  local name=$1 p=${pid_of[$1]} rc
  kill -0 "$p" 2>/dev/null && return 0
  if [ "${reaped[$name]:-}" != "$p" ]; then
    reaped[$name]=$p
    wait "$p"; rc=$?
    if [ $rc -gt 128 ]; then last_exit[$name]="killed by SIG$(kill -l $((rc - 128)) 2>/dev/null) (status $rc)"
    else last_exit[$name]="exit status $rc"; fi
    deaths[$name]="${deaths[$name]:-}${deaths[$name]:+; }${last_exit[$name]}"
  fi
  return 1
}

# nginx_main_context DIR CONNECTIONS [LINE]: the top of an nginx.conf for an
# instance living in DIR (its pid file and error log there), running as the
# calling user when that is root, with an optional extra main-context LINE.
nginx_main_context() {
  local dir=$1 connections=$2 extra=${3:-}
  [ "$(id -u)" = 0 ] && echo "user $(id -un) $(id -gn);"
  echo "worker_processes auto;"
  [ -n "$extra" ] && echo "$extra"
  echo "pid $dir/nginx.pid;"
  echo "error_log $dir/error.log;"
  echo "events { worker_connections $connections; }"
}
