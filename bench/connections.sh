#!/usr/bin/env bash
# Connection-handling benchmark: Brisvane (vanehost) next to nginx, on
# 127.0.0.1, in one run.
#
#   memory   resident memory per idle keep-alive connection: IDLE_CONNS
#            connections (default 10000) each make one GET and then stay
#            silent; reports the growth of the server's resident set (all
#            its processes) divided by the connections, in KiB, and its
#            thread count before and after
#   probes   PROBES sequential GETs of a 1 KiB file (default 50, PROBE_GAP s
#            apart, each given PROBE_TIMEOUT s), on a new connection each,
#            from a normal client:
#              quiet   with no other load
#              head    while HEAD_CONNS connections (default 5000) send a
#                      request head one byte every 5 s (never ending it)
#              body    while BODY_CONNS connections (default 1000) send a
#                      request body one byte every 10 s
#              idle    while IDLE_CONNS connections sit idle after one GET
#            reports probes answered (200 with the whole body) of all,
#            median and max latency, and vanehost's median over nginx's.
#
# A benchmark, not a test: it exits 0 once it has run, whatever the numbers.
#
# usage: bench/connections.sh      (as root when nginx must be installed)
#
# The slow and idle clients come from bench/conn_load.py in one process; a
# connection the server closes is opened again, so the load stays constant
# (the "reopened" column counts them: a server that drops slow clients
# after its head time-out shows them there).
#
# Set-up: both servers log every request. vanehost: NumThreads 256 (the
# shipped value), KeepAlive 600 s, MaxConnections 30000, other values
# built in (RecvTimeOut 45 s bounds a whole head). nginx: worker_processes
# auto, worker_connections 30000, keepalive_timeout 600 s, its default
# client_header_timeout and client_body_timeout (60 s).
# The trickled body goes to where each server must take the whole body
# before answering: for vanehost a POST to a CGI program that reads its
# input; for nginx a PUT to a WebDAV location (nginx answers a POST to a
# static file with 405 at once, before the body, and then only discards
# the body: that would not hold the request open).
set -u
cd "$(dirname "$0")/.."
repo=$PWD

IDLE_CONNS=${IDLE_CONNS:-10000}
HEAD_CONNS=${HEAD_CONNS:-5000}
BODY_CONNS=${BODY_CONNS:-1000}
PROBES=${PROBES:-50}
PROBE_GAP=${PROBE_GAP:-0.1}
PROBE_TIMEOUT=${PROBE_TIMEOUT:-5}
case "$IDLE_CONNS$HEAD_CONNS$BODY_CONNS$PROBES" in
  *[!0-9]*) echo "IDLE_CONNS, HEAD_CONNS, BODY_CONNS and PROBES must be whole numbers" >&2; exit 2 ;;
esac

. bench/common.sh

install_tools nginx || exit 1
require_commands nginx python3 || exit 1
build_vanehost || exit 1
make_temp_dir

# Each side holds up to IDLE_CONNS sockets plus its own files.
need_fds=$((IDLE_CONNS + 1000))
ulimit -n "$(ulimit -Hn)" 2>/dev/null
if [ "$(ulimit -n)" != unlimited ] && [ "$(ulimit -n)" -lt "$need_fds" ]; then
  ulimit -n "$need_fds" 2>/dev/null || log "open files limited to $(ulimit -n); fewer than $IDLE_CONNS connections can be held"
fi

docroot=$tmp/htdocs
mkdir -p "$docroot/cgi-bin" "$docroot/dav" "$tmp/vanehost" "$tmp/nginx"
head -c 1024 /dev/urandom >"$docroot/small.bin"
cat >"$docroot/cgi-bin/sink" <<'EOF'
#!/bin/sh
cat >/dev/null
printf 'Content-Type: text/plain\r\n\r\nreceived\n'
EOF
chmod 755 "$docroot" "$docroot/cgi-bin" "$docroot/cgi-bin/sink"; chmod 644 "$docroot/small.bin"
chmod 777 "$docroot/dav"

read -r port_bv port_ng < <(free_ports 2)

reg=$tmp/vanehost/registry.reg
set_reg Network Port dword "$port_bv"
set_reg Network KeepAlive dword 600000
set_reg Server NumThreads dword 256
set_reg Server MaxConnections dword 30000
set_reg Log AccessLogMask dword 1
set_reg Log AccessLogFileName sz "$tmp/vanehost/AccessLog.TXT"
set_reg Log ErrorLogFileName sz "$tmp/vanehost/ErrorLog.TXT"
set_reg Log TraceLogFileName sz "$tmp/vanehost/TraceLog.TXT"
set_reg 'Virtual\0000\Server' DocRoot sz "$docroot"
set_reg 'Virtual\0000\CgiBin' /cgi-bin sz "$docroot/cgi-bin"

ng=$tmp/nginx
{
  nginx_main_context "$ng" 30000 "worker_rlimit_nofile 40000;"
  cat <<EOF
http {
    default_type application/octet-stream;
    sendfile on;
    access_log $ng/access.log;
    keepalive_timeout 600;
    keepalive_requests 100000;
    client_body_temp_path $ng/body;
    proxy_temp_path $ng/proxy;
    fastcgi_temp_path $ng/fastcgi;
    uwsgi_temp_path $ng/uwsgi;
    scgi_temp_path $ng/scgi;
    server {
        listen 127.0.0.1:$port_ng backlog=4096;
        root $docroot;
        location /dav/ {
            dav_methods PUT;
            client_max_body_size 0;
        }
    }
}
EOF
} >"$ng/nginx.conf"

declare -A port pid_of body_method body_path
port[vanehost]=$port_bv; port[nginx]=$port_ng
body_method[vanehost]=POST; body_path[vanehost]=/cgi-bin/sink
body_method[nginx]=PUT;     body_path[nginx]=/dav/upload
servers=(vanehost nginx)

launch() {  # name
  local name=$1 i
  case "$name" in
    vanehost) exec env BRISVANE_REGISTRY="$reg" "$vanehost" ;;
    nginx)    exec nginx -p "$ng/" -e "$ng/error.log" -c "$ng/nginx.conf" -g 'daemon off;' ;;
  esac >"$tmp/$name.out" 2>&1 </dev/null &
  pid_of[$name]=$!; pids+=("$!")
  for i in $(seq 100); do
    kill -0 "${pid_of[$name]}" 2>/dev/null || break
    if (exec 3<>"/dev/tcp/127.0.0.1/${port[$name]}") 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  log "$name did not start listening on 127.0.0.1:${port[$name]}:"; tail -n 20 "$tmp/$name.out" >&2
  return 1
}

# The server's processes: its main one and its children (nginx's workers).
tree_pids() { echo "$1"; ps -o pid= --ppid "$1" 2>/dev/null; }
rss_kib() {  # pid: resident KiB of the process and its children
  local p t=0 v
  for p in $(tree_pids "$1"); do
    v=$(awk '/^VmRSS:/ {print $2}' "/proc/$p/status" 2>/dev/null); t=$((t + ${v:-0}))
  done
  echo "$t"
}
thread_count() {  # pid: threads of the process and its children
  local p t=0 v
  for p in $(tree_pids "$1"); do
    v=$(awk '/^Threads:/ {print $2}' "/proc/$p/status" 2>/dev/null); t=$((t + ${v:-0}))
  done
  echo "$t"
}

# start_load NAME COUNT MODE INTERVAL: starts the slow clients in the
# background ($load_pid, its output in $load_out) and waits until they are
# open; sets $ready to how many were.
start_load() {
  local name=$1 count=$2 mode=$3 interval=$4 i
  load_out=$tmp/load-$name-$mode.out
  rm -f "$tmp/load.in"; mkfifo "$tmp/load.in"
  BODY_METHOD=${body_method[$name]} BODY_PATH=${body_path[$name]} OPEN_TIMEOUT=120 \
    python3 bench/conn_load.py hold "${port[$name]}" "$count" "$mode" "$interval" \
    <"$tmp/load.in" >"$load_out" 2>&1 &
  load_pid=$!; pids+=("$load_pid")
  exec 7>"$tmp/load.in"   # its standard input: closing it ends the clients
  for i in $(seq 1500); do
    grep -q '^ready' "$load_out" 2>/dev/null && break
    kill -0 "$load_pid" 2>/dev/null || break
    sleep 0.1
  done
  ready=$(awk '/^ready/ {print $2; found=1} END {if (!found) print 0}' "$load_out")
}
stop_load() {
  exec 7>&-
  local i
  for i in $(seq 100); do kill -0 "$load_pid" 2>/dev/null || break; sleep 0.1; done
  kill "$load_pid" 2>/dev/null; wait "$load_pid" 2>/dev/null
  load_stats=$(sed -n 's/^stats //p' "$load_out")
  sleep 2   # let the server see the resets before the next scenario
}

declare -A held stats mem mem_detail threads_before threads_after threads_end probe_line died
for s in "${servers[@]}"; do
  if ! launch "$s"; then continue; fi
  pid=${pid_of[$s]}
  python3 bench/conn_load.py probe "${port[$s]}" 20 0 "$PROBE_TIMEOUT" >/dev/null   # warm-up

  # ---- memory per idle connection
  log "$s: $IDLE_CONNS idle connections"
  rss0=$(rss_kib "$pid"); threads_before[$s]=$(thread_count "$pid")
  start_load "$s" "$IDLE_CONNS" idle 0; held["$s|mem"]=$ready
  sleep 2
  rss1=$(rss_kib "$pid"); threads_after[$s]=$(thread_count "$pid")
  stop_load; stats["$s|mem"]=$load_stats
  mem[$s]=$(awk -v a="$rss0" -v b="$rss1" -v n="${held["$s|mem"]}" 'BEGIN { if (n > 0) printf "%.2f", (b - a) / n; else print "-" }')
  mem_detail[$s]="$rss0 -> $rss1 KiB"

  # ---- probes
  python3 bench/conn_load.py probe "${port[$s]}" 5 0 "$PROBE_TIMEOUT" >/dev/null
  log "$s: probes, quiet"
  held["$s|quiet"]=0
  probe_line["$s|quiet"]=$(python3 bench/conn_load.py probe "${port[$s]}" "$PROBES" "$PROBE_GAP" "$PROBE_TIMEOUT")
  for sc in "head $HEAD_CONNS 5" "body $BODY_CONNS 10" "idle $IDLE_CONNS 0"; do
    read -r mode count interval <<<"$sc"
    log "$s: probes while $count connections ($mode)"
    start_load "$s" "$count" "$mode" "$interval"; held["$s|$mode"]=$ready
    # Every slow client has sent at least once before the probes start.
    [ "$interval" != 0 ] && sleep "$interval"
    probe_line["$s|$mode"]=$(python3 bench/conn_load.py probe "${port[$s]}" "$PROBES" "$PROBE_GAP" "$PROBE_TIMEOUT")
    stop_load; stats["$s|$mode"]=$load_stats
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"; rc=$?
      if [ $rc -gt 128 ]; then how="killed by SIG$(kill -l $((rc - 128)) 2>/dev/null)"; else how="exit status $rc"; fi
      died[$s]="during the $mode load ($how)"
      log "$s ended ${died[$s]}; the last lines of its output and error log:"
      tail -n 5 "$tmp/$s.out" >&2
      case "$s" in vanehost) tail -n 15 "$tmp/vanehost/ErrorLog.TXT" ;; nginx) tail -n 15 "$ng/error.log" ;; esac >&2 2>/dev/null
      break
    fi
  done
  kill -0 "$pid" 2>/dev/null && threads_end[$s]=$(thread_count "$pid")
done

field() { sed -n "s/.*$2=\([^ ]*\).*/\1/p" <<<"$1"; }

echo
echo "machine: $(nproc) cores (the clients share them), $(uname -sr), open files $(ulimit -n)"
echo "nginx:   $(nginx -v 2>&1 | sed 's/^nginx version: //')"
echo
echo "Resident memory per idle keep-alive connection (after one GET each)"
printf '%-9s %7s %10s %-24s %15s %14s\n' server held KiB/conn "RSS before -> after" "threads before" "threads after"
for s in "${servers[@]}"; do
  printf '%-9s %7s %10s %-24s %15s %14s\n' "$s" "${held["$s|mem"]:--}" "${mem[$s]:--}" "${mem_detail[$s]:--}" \
    "${threads_before[$s]:--}" "${threads_after[$s]:--}"
done
echo
echo "Probe GETs (1 KiB, new connection each, $PROBES probes ${PROBE_GAP}s apart, ${PROBE_TIMEOUT}s allowed each)"
printf '%-6s %-9s %7s %9s %10s %10s %-22s %s\n' load server held answered "median ms" "max ms" statuses "slow clients"
for sc in quiet head body idle; do
  for s in "${servers[@]}"; do
    l=${probe_line["$s|$sc"]:-}
    [ -n "$l" ] || { printf '%-6s %-9s %s\n' "$sc" "$s" "not run"; continue; }
    printf '%-6s %-9s %7s %9s %10s %10s %-22s %s\n' "$sc" "$s" "${held["$s|$sc"]}" \
      "$(field "$l" answered)/$(field "$l" total)" "$(field "$l" median_ms)" "$(field "$l" max_ms)" \
      "$(field "$l" statuses)" "${stats["$s|$sc"]:-}"
  done
  a=$(field "${probe_line["vanehost|$sc"]:-}" median_ms); b=$(field "${probe_line["nginx|$sc"]:-}" median_ms)
  # A median over refused or unanswered probes is no latency: said so.
  all=yes
  for s in "${servers[@]}"; do
    l=${probe_line["$s|$sc"]:-}
    [ -n "$l" ] && [ "$(field "$l" answered)" = "$(field "$l" total)" ] || all=no
  done
  [ -n "$a" ] && [ -n "$b" ] && awk -v a="$a" -v b="$b" -v sc="$sc" -v all="$all" \
    'BEGIN { if (all != "yes") printf "%-6s vanehost median / nginx median: not comparable (not every probe was answered)\n", sc
             else if (b > 0) printf "%-6s vanehost median / nginx median: %.2fx\n", sc, a / b }'
done
echo
echo "held: slow or idle connections open when the probes began; slow clients: connections opened in all,"
echo "closed by the server (and opened again), refused or failed, and open at the end"
echo "threads at the end: $(for s in "${servers[@]}"; do printf '%s %s  ' "$s" "${threads_end[$s]:--}"; done)"
for s in "${servers[@]}"; do
  [ -n "${died[$s]:-}" ] && echo "$s ended ${died[$s]}: the rows after it were not run"
done
exit 0
