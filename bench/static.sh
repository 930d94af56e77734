#!/usr/bin/env bash
# Static-file throughput benchmark: Brisvane (vanehost) next to nginx,
# lighttpd and H2O, all serving the same two files (1 KiB and 1 MiB of random bytes)
# from one temporary document root on 127.0.0.1, loaded in turn by wrk.
#
# A benchmark, not a test: it exits 0 once it has run, whatever the numbers.
#
# usage: bench/static.sh            (as root when wrk/nginx/lighttpd/h2o must be installed)
# env:   DURATION  seconds per wrk run (default 10)
#        RUNS      runs of each case per server (default 3), interleaved
#                  (A, B, C, D, A, B, ...) so that a slow moment of the
#                  machine does not fall on one server only; the table
#                  shows the median
#        THREADS   wrk threads (default 2)
#        CONNS     wrk connections (default 32)
#
# All four servers log every request (access logs on, written into the temp
# directory). nginx: worker_processes auto, sendfile on. lighttpd: its default
# single event-loop process. H2O: its default of one event-loop thread per
# core. vanehost: NumThreads 1000, other values default.
# The load generator shares the machine's cores with the server under load.
set -u
cd "$(dirname "$0")/.."
repo=$PWD

DURATION=${DURATION:-10}
THREADS=${THREADS:-2}
CONNS=${CONNS:-32}
RUNS=${RUNS:-3}
case "$DURATION$THREADS$CONNS$RUNS" in *[!0-9]*) echo "DURATION, THREADS, CONNS and RUNS must be whole numbers" >&2; exit 2 ;; esac
[ "$RUNS" -ge 1 ] || { echo "RUNS must be at least 1" >&2; exit 2; }

. bench/common.sh

# ---------------------------------------------------------------- tools
install_tools wrk nginx lighttpd h2o || exit 1
require_commands wrk nginx lighttpd h2o python3 || exit 1

# ---------------------------------------------------------------- build
build_vanehost || exit 1

# ---------------------------------------------------------------- temp dir, cleanup
make_temp_dir

docroot=$tmp/htdocs
mkdir -p "$docroot" "$tmp/nginx" "$tmp/lighttpd" "$tmp/h2o" "$tmp/vanehost"
head -c 1024 /dev/urandom >"$docroot/small.bin"
head -c 1048576 /dev/urandom >"$docroot/large.bin"
chmod 755 "$docroot"; chmod 644 "$docroot"/*.bin

read -r port_bv port_ng port_lt port_h2 < <(free_ports 4)

# ---------------------------------------------------------------- configs
reg=$tmp/vanehost/registry.reg
set_reg Network Port dword "$port_bv"
set_reg Server NumThreads dword 1000
set_reg Log AccessLogMask dword 1
set_reg Log AccessLogFileName sz "$tmp/vanehost/AccessLog.TXT"
set_reg Log ErrorLogFileName sz "$tmp/vanehost/ErrorLog.TXT"
set_reg Log TraceLogFileName sz "$tmp/vanehost/TraceLog.TXT"
set_reg 'Virtual\0000\Server' DocRoot sz "$docroot"

ng=$tmp/nginx
{
  nginx_main_context "$ng" 4096
  cat <<EOF
http {
    default_type application/octet-stream;
    sendfile on;
    access_log $ng/access.log;
    keepalive_timeout 65;
    keepalive_requests 100000;
    client_body_temp_path $ng/body;
    proxy_temp_path $ng/proxy;
    fastcgi_temp_path $ng/fastcgi;
    uwsgi_temp_path $ng/uwsgi;
    scgi_temp_path $ng/scgi;
    server {
        listen 127.0.0.1:$port_ng;
        root $docroot;
    }
}
EOF
} >"$ng/nginx.conf"

lt=$tmp/lighttpd
cat >"$lt/lighttpd.conf" <<EOF
server.modules = ( "mod_accesslog" )
server.bind = "127.0.0.1"
server.port = $port_lt
server.document-root = "$docroot"
server.errorlog = "$lt/error.log"
accesslog.filename = "$lt/access.log"
server.max-keep-alive-requests = 100000
server.max-keep-alive-idle = 65
server.max-connections = 4096
server.max-fds = 8192
mimetype.assign = ( ".bin" => "application/octet-stream" )
EOF

h2=$tmp/h2o
# Started by root, H2O would switch to "nobody" unless told otherwise.
h2_user=
[ "$(id -u)" = 0 ] && h2_user="user: $(id -un)"
cat >"$h2/h2o.conf" <<EOF
$h2_user
pid-file: $h2/h2o.pid
error-log: $h2/error.log
access-log: $h2/access.log
listen:
  host: 127.0.0.1
  port: $port_h2
file.mime.addtypes:
  application/octet-stream: .bin
hosts:
  default:
    paths:
      /:
        file.dir: $docroot
EOF

# ---------------------------------------------------------------- start servers
declare -A port pid_of starts reaped last_exit deaths
port[brisvane]=$port_bv; port[nginx]=$port_ng; port[lighttpd]=$port_lt; port[h2o]=$port_h2

launch() {  # name: starts that server in the background, waits until it listens
  local name=$1 n=${starts[$1]:-0}
  starts[$name]=$((n + 1))
  local out=$tmp/$name.out.$n
  case "$name" in
    brisvane) exec env BRISVANE_REGISTRY="$reg" "$vanehost" ;;
    nginx)    exec nginx -p "$ng/" -e "$ng/error.log" -c "$ng/nginx.conf" -g 'daemon off;' ;;
    lighttpd) exec lighttpd -D -f "$lt/lighttpd.conf" ;;
    h2o)      exec h2o -c "$h2/h2o.conf" ;;
  esac >"$out" 2>&1 </dev/null &
  local p=$!
  pids+=("$p"); pid_of[$name]=$p
  local i
  for i in $(seq 100); do
    kill -0 "$p" 2>/dev/null || break
    if (exec 3<>"/dev/tcp/127.0.0.1/${port[$name]}") 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  log "$name did not start listening on 127.0.0.1:${port[$name]}:"
  tail -n 20 "$out" >&2
  return 1
}


# Two GETs on one HTTP/1.1 connection for each file: status 200, the exact
# bytes, and the connection kept open between them.
check() {  # name
  python3 - "${port[$1]}" "$docroot" <<'PY'
import http.client, sys
port, root = int(sys.argv[1]), sys.argv[2]
for name in ('small.bin', 'large.bin'):
    want = open(f'{root}/{name}', 'rb').read()
    c = http.client.HTTPConnection('127.0.0.1', port, timeout=5)
    for _ in range(2):
        c.request('GET', '/' + name)
        r = c.getresponse()
        body = r.read()
        if r.status != 200 or body != want:
            sys.exit(f'/{name}: status {r.status}, {len(body)} bytes (want 200, {len(want)})')
        if r.will_close:
            sys.exit(f'/{name}: connection not kept alive')
    c.close()
PY
}

declare -A ok
servers=(brisvane nginx lighttpd h2o)
peers=(nginx lighttpd h2o)
for s in "${servers[@]}"; do launch "$s" && ok[$s]=1; done
for s in "${servers[@]}"; do
  [ -n "${ok[$s]:-}" ] || continue
  if ! msg=$(check "$s" 2>&1); then log "$s fails the sanity check: $msg"; unset "ok[$s]"; fi
done

# ---------------------------------------------------------------- load
cases=("1KiB keep-alive" "1KiB close" "1MiB keep-alive" "1MiB close")
declare -A rps bps errs note conns

to_bytes() {  # wrk's "12.34MB" (1024-based units) -> bytes
  awk -v v="$1" 'BEGIN {
    n = v + 0; u = v; sub(/^[0-9.]+/, "", u)
    m = 1; if (u == "KB") m = 1024; else if (u == "MB") m = 1048576; else if (u == "GB") m = 1073741824; else if (u == "TB") m = 1099511627776
    printf "%.0f", n * m }'
}

# Connections the kernel accepted so far (all of them on this machine's TCP
# stack; during a run, in practice those of wrk).
passive_opens() {
  awk '/^Tcp:/ { if (!c) { for (i = 1; i <= NF; i++) if ($i == "PassiveOpens") c = i } else print $c }' /proc/net/snmp
}

run_wrk() {  # name, case, duration; prints what wrk printed
  local name=$1 cs=$2 d=$3 path hdr=()
  case "$cs" in 1KiB*) path=/small.bin ;; *) path=/large.bin ;; esac
  case "$cs" in *close) hdr=(-H "Connection: close") ;; esac
  timeout -k 5 $((d + 60)) wrk -t"$THREADS" -c"$CONNS" -d"${d}s" "${hdr[@]}" \
    "http://127.0.0.1:${port[$name]}$path" 2>&1
}

# A server that died is started again before the next run (and the death
# is reported), so that one crash does not hide the remaining cases.
ensure() {  # name
  [ -n "${ok[$1]:-}" ] || return 1
  alive "$1" && return 0
  log "$1 is not running any more (${last_exit[$1]}); starting it again"
  if launch "$1" && check "$1" >/dev/null 2>&1; then return 0; fi
  unset "ok[$1]"
  return 1
}

# Brief warm-up of each server, not reported.
for s in "${servers[@]}"; do
  [ -n "${ok[$s]:-}" ] && run_wrk "$s" "1KiB keep-alive" 1 >/dev/null
  if [ -n "${ok[$s]:-}" ] && ! alive "$s"; then log "$s died during the warm-up (${last_exit[$s]})"; fi
done

# note_add KEY TEXT: one more remark for a case and server.
note_add() { note[$1]="${note[$1]:+${note[$1]}; }$2"; }

for cs in "${cases[@]}"; do
  for r in $(seq "$RUNS"); do
    for s in "${servers[@]}"; do
      k="$cs|$s"; kr="$k|$r"
      if ! ensure "$s"; then [ "$r" = 1 ] && note_add "$k" "not running"; continue; fi
      log "wrk: $cs -> $s, run $r of $RUNS (${DURATION}s)"
      before=$(passive_opens)
      out=$(run_wrk "$s" "$cs" "$DURATION")
      conns[$kr]=$(( $(passive_opens) - before ))
      total=$(awk '/ requests in / {print $1}' <<<"$out")
      printf '%s\n' "$out" >"$tmp/wrk-${s}-${cs// /_}-$r.txt"
      rr=$(awk '/^Requests\/sec:/ {print $2}' <<<"$out")
      t=$(awk '/^Transfer\/sec:/ {print $2}' <<<"$out")
      non2xx=$(awk '/Non-2xx or 3xx responses:/ {print $NF}' <<<"$out")
      sock=$(awk -F'[ ,]+' '/Socket errors:/ {for (i = 1; i < NF; i++) if ($i ~ /^(connect|read|write|timeout)$/) s += $(i + 1); print s + 0}' <<<"$out")
      errs[$kr]=$(( ${non2xx:-0} + ${sock:-0} ))
      if [ -z "$rr" ]; then
        note_add "$k" "run $r: wrk gave no result"; printf '%s\n' "$out" | tail -n 5 >&2
      else
        rps[$kr]=$rr
        bps[$kr]=$(to_bytes "${t:-0B}")
      fi
      if [ "${errs[$kr]}" != 0 ]; then
        note_add "$k" "run $r: $(grep -E 'Non-2xx|Socket errors' <<<"$out" | sed 's/^ *//' | paste -sd';' -)"
        { echo "--- ss -s after $cs -> $s, run $r"; ss -s 2>/dev/null | head -n 3; } >>"$tmp/notes.txt"
      fi
      # With "Connection: close" each response should end its connection.
      if [ "${cs##* }" = close ] && [ -n "$total" ] && [ "${conns[$kr]}" -lt $(( total / 2 )) ]; then
        note_add "$k" "run $r: NOT COMPARABLE: connections stayed open (${conns[$kr]} accepted for $total requests)"
      fi
      if ! alive "$s"; then
        log "$s ended during \"$cs\" (${last_exit[$s]}); the last lines of its output:"
        tail -n 5 "$tmp/$s.out.$((${starts[$s]} - 1))" >&2
        note_add "$k" "run $r: server died: ${last_exit[$s]}"
        { echo "--- ss -s after $s died in $cs"; ss -s 2>/dev/null | head -n 3; } >>"$tmp/notes.txt"
      fi
      sleep 1
    done
  done
done

# median VALUE...: the middle value (the mean of the two middle ones for an
# even count); nothing when given nothing.
median() {
  [ $# -gt 0 ] || return 0
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# The median of each case and server over its runs that gave a result.
declare -A med_rps med_bps med_conns sum_errs runs_list
for cs in "${cases[@]}"; do
  for s in "${servers[@]}"; do
    k="$cs|$s"; vr=(); vb=(); vc=(); e=0; list=
    for r in $(seq "$RUNS"); do
      e=$(( e + ${errs["$k|$r"]:-0} ))
      [ -n "${rps["$k|$r"]:-}" ] || { list="$list${list:+ }-"; continue; }
      vr+=("${rps["$k|$r"]}"); vb+=("${bps["$k|$r"]}"); vc+=("${conns["$k|$r"]}")
      list="$list${list:+ }$(printf '%.0f' "${rps["$k|$r"]}")"
    done
    sum_errs[$k]=$e; runs_list[$k]=$list
    [ ${#vr[@]} -gt 0 ] || continue
    med_rps[$k]=$(median "${vr[@]}"); med_bps[$k]=$(median "${vb[@]}"); med_conns[$k]=$(median "${vc[@]}")
  done
done

# ---------------------------------------------------------------- report
echo
echo "machine: $(nproc) cores (wrk shares them), $(uname -sr)"
echo "nginx:    $(nginx -v 2>&1 | sed 's/^nginx version: //')"
echo "lighttpd: $(lighttpd -v 2>&1 | head -n 1)"
echo "h2o:      $(h2o --version 2>&1 | head -n 1)"
echo "wrk:      $(wrk -v 2>&1 | head -n 1 | awk '{print $1, $2}')"
echo "load:     wrk -t$THREADS -c$CONNS -d${DURATION}s per run, $RUNS runs per case and server, interleaved, 127.0.0.1; MB = 10^6 bytes"
echo "columns:  requests/s, MB/s and accepted are medians over the runs; errors are summed; runs lists each run's requests/s"
echo "accepted: TCP connections the kernel accepted during a run (about 1 per request expected with Connection: close)"
echo "ratio:    Brisvane's median requests/s divided by the best peer's median (nginx, lighttpd, H2O) in the same case"
echo
fmt='%-16s %-9s %12s %8s %7s %9s  %-22s %s\n'
printf "$fmt" case server requests/s MB/s errors accepted runs "vs best peer"
printf "$fmt" ---- ------ ---------- ---- ------ -------- ---- ------------
for cs in "${cases[@]}"; do
  best=0; best_name=
  for s in "${peers[@]}"; do
    v=${med_rps["$cs|$s"]:-}
    [ -n "$v" ] || continue
    if awk -v a="$v" -v b="$best" 'BEGIN { exit !(a > b) }'; then best=$v; best_name=$s; fi
  done
  for s in "${servers[@]}"; do
    k="$cs|$s"
    if [ -z "${med_rps[$k]:-}" ]; then
      printf "$fmt" "$cs" "$s" - - - - "${runs_list[$k]:--}" "${note[$k]:-}"
      continue
    fi
    ratio=
    if [ "$s" = brisvane ]; then
      ratio=$(awk -v a="${med_rps[$k]}" -v b="$best" -v n="$best_name" 'BEGIN { if (b > 0) printf "%.2fx of %s", a / b, n; else print "n/a" }')
    fi
    printf "$fmt" "$cs" "$s" "$(printf '%.0f' "${med_rps[$k]}")" \
      "$(awk -v b="${med_bps[$k]}" 'BEGIN { printf "%.1f", b / 1e6 }')" "${sum_errs[$k]}" \
      "$(printf '%.0f' "${med_conns[$k]}")" "${runs_list[$k]}" "$ratio${note[$k]:+  (${note[$k]})}"
  done
done
for s in "${servers[@]}"; do
  [ -n "${deaths[$s]:-}" ] && echo "$s died during the runs and was started ${starts[$s]} times in all: ${deaths[$s]}"
done
if [ -s "$tmp/notes.txt" ]; then
  echo
  echo "socket summary after runs that had errors:"
  cat "$tmp/notes.txt"
fi
exit 0
