#!/usr/bin/env bash
# HTTPS benchmark: Brisvane (vanehost) next to nginx, both serving the same
# 1 KiB file over TLS on 127.0.0.1 with the same certificate, in one run.
#
#   new handshake   every request a new TCP connection and a full TLS
#                   handshake: HS_CLIENTS (default 8) `openssl s_time -new`
#                   processes side by side, each connecting, asking for the
#                   file and closing in turn; connections per second of
#                   wall-clock time. (wrk cannot do this: with
#                   "Connection: close" it resumes its TLS session on every
#                   reconnection, as nginx's access log shows.)
#   wrk close       wrk with "Connection: close": a new TCP connection each
#                   request, the TLS session resumed when the server allows
#                   it (the nginx rows show how many were resumed)
#   keep-alive      wrk on kept TLS connections: 1 KiB requests per second
#   first request   curl's time to the first answer on a new connection,
#                   over TLS and in plain HTTP (median of LAT_SAMPLES), and
#                   the difference: what TLS adds on loopback
#
# Each row is run for an ECDSA P-256 and an RSA 2048 certificate, made at
# run time with openssl (self-signed, for 127.0.0.1 and localhost).
#
# A benchmark, not a test: it exits 0 once it has run, whatever the numbers.
# A vanehost that does not answer over TLS is reported as such and nginx's
# rows are still measured.
#
# usage: bench/tls.sh               (as root when wrk/nginx/curl must be installed)
# env:   DURATION     seconds per wrk run (default 10)
#        THREADS      wrk threads (default 2)
#        CONNS        wrk connections (default 32)
#        HS_CLIENTS   openssl s_time processes for the new-handshake row (default 8)
#        RUNS         runs of each row per server, interleaved (default 3);
#                     the table shows the median
#        LAT_SAMPLES  curl requests for the first-request latency (default 21)
#
# nginx: worker_processes auto, Mozilla's "intermediate" TLS settings
# (TLS 1.2 and 1.3, its cipher list, ffdhe2048 parameters, session cache
# on, tickets off), access log on. vanehost: NumThreads 1000, its TLS
# listener on Network\SSLPort for the virtual server with UseSSL 1, access
# log on, other values default. The load generator shares the machine's
# cores with the server under load.
set -u
cd "$(dirname "$0")/.."
repo=$PWD

DURATION=${DURATION:-10}
THREADS=${THREADS:-2}
CONNS=${CONNS:-32}
RUNS=${RUNS:-3}
LAT_SAMPLES=${LAT_SAMPLES:-21}
HS_CLIENTS=${HS_CLIENTS:-8}
case "$DURATION$THREADS$CONNS$RUNS$LAT_SAMPLES$HS_CLIENTS" in
  *[!0-9]*) echo "DURATION, THREADS, CONNS, RUNS, LAT_SAMPLES and HS_CLIENTS must be whole numbers" >&2; exit 2 ;;
esac
[ "$RUNS" -ge 1 ] && [ "$LAT_SAMPLES" -ge 1 ] && [ "$HS_CLIENTS" -ge 1 ] ||
  { echo "RUNS, LAT_SAMPLES and HS_CLIENTS must be at least 1" >&2; exit 2; }

. bench/common.sh

install_tools wrk nginx curl openssl || exit 1
require_commands wrk nginx curl openssl python3 || exit 1
build_vanehost || exit 1
make_temp_dir

docroot=$tmp/htdocs
mkdir -p "$docroot" "$tmp/certs"
head -c 1024 /dev/urandom >"$docroot/small.bin"
chmod 755 "$docroot"; chmod 644 "$docroot/small.bin"

# ---------------------------------------------------------------- certificates
make_cert() {  # kind (ecdsa|rsa): $tmp/certs/KIND.crt and KIND.key
  local kind=$1 alg=()
  case "$kind" in
    ecdsa) alg=(-newkey ec -pkeyopt ec_paramgen_curve:P-256) ;;
    rsa)   alg=(-newkey rsa:2048) ;;
  esac
  openssl req -x509 "${alg[@]}" -nodes -days 2 -subj /CN=localhost \
    -addext 'subjectAltName=DNS:localhost,IP:127.0.0.1' \
    -keyout "$tmp/certs/$kind.key" -out "$tmp/certs/$kind.crt" >/dev/null 2>&1
}
kinds=(ecdsa rsa)
for kind in "${kinds[@]}"; do make_cert "$kind" || { log "openssl could not make the $kind certificate"; exit 1; }; done
openssl genpkey -genparam -algorithm DH -pkeyopt dh_param:ffdhe2048 -out "$tmp/certs/ffdhe2048.pem" 2>/dev/null ||
  { log "openssl could not write the ffdhe2048 parameters"; exit 1; }
chmod 644 "$tmp/certs"/*

# ---------------------------------------------------------------- configurations
read -r port_bv port_bvs port_ng port_ngs < <(free_ports 4)
declare -A port tls_port pid_of
port[vanehost]=$port_bv; tls_port[vanehost]=$port_bvs
port[nginx]=$port_ng;    tls_port[nginx]=$port_ngs
servers=(vanehost nginx)

configure() {  # kind: both servers' configuration for that certificate
  local kind=$1 crt=$tmp/certs/$1.crt key=$tmp/certs/$1.key
  local dir=$tmp/vanehost-$kind
  mkdir -p "$dir" "$tmp/nginx-$kind"
  reg=$dir/registry.reg
  set_reg Network Port dword "$port_bv"
  set_reg Network SSLPort dword "$port_bvs"
  set_reg Server NumThreads dword 1000
  set_reg Log AccessLogMask dword 1
  set_reg Log AccessLogFileName sz "$dir/AccessLog.TXT"
  set_reg Log ErrorLogFileName sz "$dir/ErrorLog.TXT"
  set_reg Log TraceLogFileName sz "$dir/TraceLog.TXT"
  set_reg 'Virtual\0000\Server' DocRoot sz "$docroot"
  set_reg 'Virtual\0000' UseSSL dword 1
  set_reg 'Virtual\0000' ServerCertificate sz "$crt"
  set_reg 'Virtual\0000' ServerPrivateKey sz "$key"

  ng=$tmp/nginx-$kind
  {
    nginx_main_context "$ng" 4096
    cat <<EOF
http {
    default_type application/octet-stream;
    sendfile on;
    # The usual combined line and whether the TLS session was resumed ("r").
    log_format tls '\$remote_addr - \$remote_user [\$time_local] "\$request" \$status \$body_bytes_sent '
                   '"\$http_referer" "\$http_user_agent" \$ssl_session_reused';
    access_log $ng/access.log tls;
    keepalive_timeout 65;
    keepalive_requests 100000;
    client_body_temp_path $ng/body;
    proxy_temp_path $ng/proxy;
    fastcgi_temp_path $ng/fastcgi;
    uwsgi_temp_path $ng/uwsgi;
    scgi_temp_path $ng/scgi;
    server {
        listen 127.0.0.1:$port_ng;
        listen 127.0.0.1:$port_ngs ssl;
        root $docroot;
        ssl_certificate $crt;
        ssl_certificate_key $key;
        ssl_session_timeout 1d;
        ssl_session_cache shared:MozSSL:10m;
        ssl_session_tickets off;
        ssl_dhparam $tmp/certs/ffdhe2048.pem;
        ssl_protocols TLSv1.2 TLSv1.3;
        ssl_ciphers ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305:DHE-RSA-AES128-GCM-SHA256:DHE-RSA-AES256-GCM-SHA384:DHE-RSA-CHACHA20-POLY1305;
        ssl_prefer_server_ciphers off;
    }
}
EOF
  } >"$ng/nginx.conf"
}

launch() {  # name kind: starts that server, waits until its plain port answers
  local name=$1 kind=$2 i
  case "$name" in
    vanehost) exec env BRISVANE_REGISTRY="$tmp/vanehost-$kind/registry.reg" "$vanehost" ;;
    nginx)    exec nginx -p "$tmp/nginx-$kind/" -e "$tmp/nginx-$kind/error.log" -c "$tmp/nginx-$kind/nginx.conf" -g 'daemon off;' ;;
  esac >"$tmp/$name-$kind.out" 2>&1 </dev/null &
  pid_of[$name]=$!; pids+=("$!")
  for i in $(seq 100); do
    kill -0 "${pid_of[$name]}" 2>/dev/null || break
    if (exec 3<>"/dev/tcp/127.0.0.1/${port[$name]}") 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  log "$name did not start listening on 127.0.0.1:${port[$name]}:"; tail -n 20 "$tmp/$name-$kind.out" >&2
  return 1
}
stop() {  # name
  local p=${pid_of[$1]:-} i
  [ -n "$p" ] || return 0
  kill -TERM "$p" 2>/dev/null
  for i in $(seq 100); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$p" 2>/dev/null; wait "$p" 2>/dev/null
  unset "pid_of[$1]"
}

# Whether the server answers the file's exact bytes over TLS, checking the
# certificate against the one it was given.
answers_tls() {  # name kind
  curl -s --max-time 5 --cacert "$tmp/certs/$2.crt" -o "$tmp/got" \
    "https://127.0.0.1:${tls_port[$1]}/small.bin" && cmp -s "$tmp/got" "$docroot/small.bin"
}

# ---------------------------------------------------------------- measurements
rows=("new handshake" "wrk close" "keep-alive")
declare -A rps errs note resumed lat ok

# run_handshakes NAME: HS_CLIENTS s_time processes for DURATION seconds;
# prints wrk's summary lines for the same figures ("Requests/sec:") and,
# as "Short answers:", the connections that read less than the file.
run_handshakes() {
  local i start end
  start=$(date +%s.%N)
  for i in $(seq "$HS_CLIENTS"); do
    timeout -k 5 $((DURATION + 60)) openssl s_time -connect "127.0.0.1:${tls_port[$1]}" -new \
      -www /small.bin -time "$DURATION" >"$tmp/stime.$i" 2>&1 &
  done
  wait
  end=$(date +%s.%N)
  cat "$tmp"/stime.* | awk -v t="$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')" '
    / connections in .* real seconds, / { n += $1; if ($(NF - 4) + 0 < 1024) short += $1 }
    END { printf "Requests/sec: %.2f\nShort answers: %d\n", (t > 0) ? n / t : 0, short }'
  rm -f "$tmp"/stime.*
}

run_wrk() {  # name row
  local hdr=()
  [ "$2" = "new handshake" ] && { run_handshakes "$1"; return; }
  [ "$2" = "wrk close" ] && hdr=(-H "Connection: close")
  timeout -k 5 $((DURATION + 60)) wrk -t"$THREADS" -c"$CONNS" -d"${DURATION}s" "${hdr[@]}" \
    "https://127.0.0.1:${tls_port[$1]}/small.bin" 2>&1
}

# median VALUE...: the middle value (the mean of the two middle ones).
median() {
  [ $# -gt 0 ] || return 0
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# first_request URL: the median of LAT_SAMPLES curl runs, each a new
# connection: "total_ms handshake_ms" (the handshake is 0 in plain HTTP).
first_request() {
  local i
  for i in $(seq "$LAT_SAMPLES"); do
    curl -sk --max-time 5 -o /dev/null -w '%{time_total} %{time_connect} %{time_appconnect}\n' "$1"
  done >"$tmp/lat"
  local total hand
  total=$(median $(awk '$1 > 0 { print $1 * 1000 }' "$tmp/lat"))
  hand=$(median $(awk '$1 > 0 { print ($3 > 0) ? ($3 - $2) * 1000 : 0 }' "$tmp/lat"))
  [ -n "$total" ] && printf '%.2f %.2f\n' "$total" "$hand"
}

for kind in "${kinds[@]}"; do
  configure "$kind"
  for s in "${servers[@]}"; do
    launch "$s" "$kind" || { note["$kind|$s"]="did not start"; continue; }
    if answers_tls "$s" "$kind"; then ok["$kind|$s"]=1
    else note["$kind|$s"]="no TLS listener answered on 127.0.0.1:${tls_port[$s]}"; log "$s ($kind): ${note["$kind|$s"]}"; fi
  done
  for s in "${servers[@]}"; do
    [ -n "${ok["$kind|$s"]:-}" ] || continue
    run_wrk "$s" keep-alive >/dev/null   # warm-up, not reported
    lat["$kind|$s|https"]=$(first_request "https://127.0.0.1:${tls_port[$s]}/small.bin")
    lat["$kind|$s|http"]=$(first_request "http://127.0.0.1:${port[$s]}/small.bin")
  done
  for row in "${rows[@]}"; do
    for r in $(seq "$RUNS"); do
      for s in "${servers[@]}"; do
        [ -n "${ok["$kind|$s"]:-}" ] || continue
        k="$kind|$row|$s"
        if ! kill -0 "${pid_of[$s]}" 2>/dev/null; then note[$k]="server died"; continue; fi
        log "wrk: $kind $row -> $s, run $r of $RUNS (${DURATION}s)"
        [ "$s" = nginx ] && : >"$tmp/nginx-$kind/access.log"
        out=$(run_wrk "$s" "$row")
        printf '%s\n' "$out" >"$tmp/wrk-$kind-${row// /_}-$s-$r.txt"
        v=$(awk '/^Requests\/sec:/ {print $2}' <<<"$out")
        non2xx=$(awk '/Non-2xx or 3xx responses:|^Short answers:/ {print $NF}' <<<"$out")
        sock=$(awk -F'[ ,]+' '/Socket errors:/ {for (i = 1; i < NF; i++) if ($i ~ /^(connect|read|write|timeout)$/) s += $(i + 1); print s + 0}' <<<"$out")
        errs[$k]=$(( ${errs[$k]:-0} + ${non2xx:-0} + ${sock:-0} ))
        if [ -n "$v" ]; then rps["$k|$r"]=$v; else note[$k]="wrk gave no result"; fi
        if [ "$s" = nginx ] && [ "$row" != "keep-alive" ]; then
          # Resumed sessions out of all requests of this run (the log was
          # emptied before it; nginx appends to it unbuffered).
          resumed["$k|$r"]=$(awk '{ n++; if ($NF == "r") r++ } END { printf "%d/%d", r, n }' "$tmp/nginx-$kind/access.log")
        fi
        kill -0 "${pid_of[$s]}" 2>/dev/null || note[$k]="server died during run $r"
        sleep 1
      done
    done
  done
  for s in "${servers[@]}"; do stop "$s"; done
done

# ---------------------------------------------------------------- report
echo
echo "machine: $(nproc) cores (wrk shares them), $(uname -sr)"
echo "nginx:   $(nginx -v 2>&1 | sed 's/^nginx version: //'), $(openssl version)"
echo "load:    wrk -t$THREADS -c$CONNS -d${DURATION}s per run over https, 1 KiB file, $RUNS runs per row and server, interleaved"
echo "new handshake: $HS_CLIENTS openssl s_time -new processes, a full TLS handshake per request, nothing resumed"
echo "wrk close: wrk with \"Connection: close\", a new connection per request, TLS sessions resumed when the server allows"
echo
fmt='%-7s %-14s %-9s %12s %7s  %-22s %s\n'
printf "$fmt" cert row server requests/s errors runs "vs nginx / notes"
printf "$fmt" ---- --- ------ ---------- ------ ---- ----------------
for kind in "${kinds[@]}"; do
  for row in "${rows[@]}"; do
    declare -A med=()
    for s in "${servers[@]}"; do
      k="$kind|$row|$s"; vals=(); list=
      for r in $(seq "$RUNS"); do
        v=${rps["$k|$r"]:-}
        if [ -n "$v" ]; then vals+=("$v"); list="$list${list:+ }$(printf '%.0f' "$v")"; fi
      done
      [ ${#vals[@]} -gt 0 ] && med[$s]=$(median "${vals[@]}")
      extra=${note[$k]:-${note["$kind|$s"]:-}}
      if [ "$s" = nginx ] && [ -n "${resumed["$k|1"]:-}" ]; then
        extra="${extra:+$extra; }resumed sessions per run: $(for r in $(seq "$RUNS"); do printf '%s ' "${resumed["$k|$r"]:--}"; done)"
      fi
      if [ -z "${med[$s]:-}" ]; then
        [ "$s" = vanehost ] && [ -z "${ok["$kind|vanehost"]:-}" ] && extra="vanehost: ${note["$kind|vanehost"]:-no TLS listener answered}"
        printf "$fmt" "$kind" "$row" "$s" - - - "$extra"
        continue
      fi
      printf "$fmt" "$kind" "$row" "$s" "$(printf '%.0f' "${med[$s]}")" "${errs[$k]:-0}" "$list" "$extra"
    done
    if [ -n "${med[vanehost]:-}" ] && [ -n "${med[nginx]:-}" ]; then
      awk -v a="${med[vanehost]}" -v b="${med[nginx]}" -v k="$kind" -v r="$row" \
        'BEGIN { if (b > 0) printf "%-7s %-14s vanehost / nginx: %.2fx\n", k, r, a / b }'
    fi
    unset med
  done
done
echo
echo "First request on a new connection (curl, median of $LAT_SAMPLES; ms): total over https, of it the TLS handshake,"
echo "total over plain http, and what TLS adds"
fmt='%-7s %-9s %12s %13s %12s %10s\n'
printf "$fmt" cert server "https total" "handshake" "http total" "added"
for kind in "${kinds[@]}"; do
  for s in "${servers[@]}"; do
    a=${lat["$kind|$s|https"]:-}; b=${lat["$kind|$s|http"]:-}
    if [ -z "$a" ] || [ -z "$b" ]; then
      printf '%-7s %-9s %s\n' "$kind" "$s" "${note["$kind|$s"]:-no result}"
      continue
    fi
    read -r at ah <<<"$a"; read -r bt _ <<<"$b"
    printf "$fmt" "$kind" "$s" "$at" "$ah" "$bt" "$(awk -v a="$at" -v b="$bt" 'BEGIN { printf "%.2f", a - b }')"
  done
done
exit 0
