#!/usr/bin/env bash
# Dynamic-content throughput benchmark: Brisvane (vanehost) next to Apache
# httpd, lighttpd and nginx, all serving the same files from one temporary
# document root on 127.0.0.1, loaded in turn by wrk (keep-alive).
#
#   CGI C hello     a compiled "hello" program in /cgi-bin (built here with cc)
#   CGI Perl hello  /cgi-bin/hello.pl run by /usr/bin/perl
#                   peers: Apache (mpm_event + mod_cgid, Debian's default
#                   pairing) and lighttpd (mod_cgi)
#   SSI page        /ssi/page.shtml: three <!--#include virtual=...--> and
#                   two <!--#echo var=...--> (DATE_LOCAL, DOCUMENT_URI)
#                   peers: Apache (mod_include), nginx (ssi on), lighttpd (mod_ssi)
#   WinCGI C hello  the compiled hello the Windows CGI way, next to the CGI row
#   ISAPI hello     the staged sample extension, next to the 1 KiB static file
#                   from the same server (Brisvane alone)
#
# A benchmark, not a test: it exits 0 once it has run, whatever the numbers.
#
# usage: bench/dynamic.sh           (as root when wrk/apache2/nginx/lighttpd must be installed)
# env:   DURATION   seconds per wrk run (default 10)
#        THREADS    wrk threads (default 2)
#        CONNS      wrk connections for the SSI row (default 32)
#        CONNS_CGI  wrk connections for the CGI rows (default 8; each request forks)
#
# Every server logs every request into the temp directory. Servers run as the
# invoking user, except Apache's children under root: httpd refuses to serve
# as root, so its workers and CGI daemon run as www-data (the parent, which
# only listens, stays root). nginx: worker_processes auto. lighttpd: its
# default single event-loop process. vanehost: NumThreads 1000, other values
# default. The load generator shares the machine's cores with the server.
#
# More rows: add_case below takes a label, a URL, a connection count, the
# expected body and the servers to load; a Brisvane-only row may name another
# row as its reference (e.g. an extension "hello" next to the 1 KiB file).
set -u
cd "$(dirname "$0")/.."
repo=$PWD

DURATION=${DURATION:-10}
THREADS=${THREADS:-2}
CONNS=${CONNS:-32}
CONNS_CGI=${CONNS_CGI:-8}
case "$DURATION$THREADS$CONNS$CONNS_CGI" in
  *[!0-9]*) echo "DURATION, THREADS, CONNS and CONNS_CGI must be whole numbers" >&2; exit 2 ;;
esac

. bench/common.sh

# ---------------------------------------------------------------- tools
install_tools wrk apache2 nginx lighttpd curl || exit 1
require_commands wrk apache2 nginx lighttpd curl cc perl python3 || exit 1
apache_modules=/usr/lib/apache2/modules
for m in mpm_event cgid include alias mime authz_core; do
  [ -f "$apache_modules/mod_$m.so" ] || { log "no $apache_modules/mod_$m.so"; exit 1; }
done

# ---------------------------------------------------------------- build
build_vanehost || exit 1

# ---------------------------------------------------------------- temp dir, cleanup
make_temp_dir

# ---------------------------------------------------------------- documents
docroot=$tmp/htdocs
mkdir -p "$docroot/cgi-bin" "$docroot/ssi/inc" "$tmp/apache" "$tmp/nginx" "$tmp/lighttpd" "$tmp/brisvane"
head -c 1024 /dev/urandom >"$docroot/small.bin"

hello_text='Hello, world!'
cat >"$tmp/hello.c" <<'EOF'
#include <unistd.h>

int main(void) {
  static const char reply[] = "Content-Type: text/plain\r\n\r\nHello, world!\n";
  return write(1, reply, sizeof reply - 1) == (ssize_t)(sizeof reply - 1) ? 0 : 1;
}
EOF
if ! cc -O2 -o "$docroot/cgi-bin/hello" "$tmp/hello.c" 2>"$tmp/cc.log"; then
  cat "$tmp/cc.log" >&2; log "cannot compile the CGI hello"; exit 1
fi
# The same answer the Windows CGI way: into the output file it is named.
cat >"$tmp/wincgi_hello.c" <<'EOF'
#include <stdio.h>

int main(int argc, char** argv) {
  FILE* out = argc > 3 ? fopen(argv[3], "wb") : NULL;
  if (!out) return 1;
  fputs("Content-Type: text/plain\r\n\r\nHello, world!\n", out);
  return fclose(out) == 0 ? 0 : 1;
}
EOF
mkdir -p "$docroot/cgi-win"
if ! cc -O2 -o "$docroot/cgi-win/hello" "$tmp/wincgi_hello.c" 2>"$tmp/cc.log"; then
  cat "$tmp/cc.log" >&2; log "cannot compile the Windows CGI hello"; exit 1
fi
cat >"$docroot/cgi-bin/hello.pl" <<'EOF'
#!/usr/bin/perl
print "Content-Type: text/plain\r\n\r\nHello, world!\n";
EOF

# The three included parts, about 1 KiB together; the page itself adds the
# dates and its own URL.
{
  echo '<div class="head"><h1>Brisvane dynamic benchmark</h1>'
  for i in 1 2 3; do echo "<p>Heading paragraph $i: the quick brown fox jumps over the lazy dog.</p>"; done
  echo '</div>'
} >"$docroot/ssi/inc/head.html"
{
  echo '<div class="body">'
  for i in 1 2 3 4 5; do echo "<p>Body paragraph $i: pack my box with five dozen liquor jugs, twice over.</p>"; done
  echo '</div>'
} >"$docroot/ssi/inc/body.html"
echo '<div class="foot"><p>Served for a benchmark; nothing here changes between requests.</p></div>' \
  >"$docroot/ssi/inc/foot.html"
cat >"$docroot/ssi/page.shtml" <<'EOF'
<html><head><title>SSI</title></head><body>
<!--#include virtual="/ssi/inc/head.html" -->
<p>Date: <!--#echo var="DATE_LOCAL" --></p>
<!--#include virtual="/ssi/inc/body.html" -->
<p>URI: <!--#echo var="DOCUMENT_URI" --></p>
<!--#include virtual="/ssi/inc/foot.html" -->
</body></html>
EOF
find "$docroot" -type d -exec chmod 755 {} +
find "$docroot" -type f -exec chmod 644 {} +
chmod 755 "$docroot/cgi-bin/hello" "$docroot/cgi-bin/hello.pl" "$docroot/cgi-win/hello"

# What the page should look like once processed; the date varies in form
# between servers and is only required to be there.
python3 - "$docroot" >"$tmp/page.expected" <<'PY'
import re, sys
root = sys.argv[1]
page = open(f'{root}/ssi/page.shtml').read()
page = re.sub(r'<!--#include virtual="([^"]+)" -->', lambda m: open(root + m.group(1)).read(), page)
page = page.replace('<!--#echo var="DATE_LOCAL" -->', '@DATE@')
page = page.replace('<!--#echo var="DOCUMENT_URI" -->', '/ssi/page.shtml')
sys.stdout.write(page)
PY

read -r port_bv port_ap port_ng port_lt < <(free_ports 4)

# ---------------------------------------------------------------- configs
reg=$tmp/brisvane/registry.reg
set_reg Network Port dword "$port_bv"
set_reg Server NumThreads dword 1000
set_reg Log AccessLogMask dword 1
set_reg Log AccessLogFileName sz "$tmp/brisvane/AccessLog.TXT"
set_reg Log ErrorLogFileName sz "$tmp/brisvane/error.log"
set_reg Log TraceLogFileName sz "$tmp/brisvane/TraceLog.TXT"
set_reg 'Virtual\0000\Server' DocRoot sz "$docroot"
# The only program folder; .pl is run by /usr/bin/perl through the built-in
# association, .shtml is processed through the built-in media type.
set_reg 'Virtual\0000\CgiBin' /cgi-bin sz "$docroot/cgi-bin"
set_reg 'Virtual\0000\CgiWin' /cgi-win sz "$docroot/cgi-win"
# The sample extensions staged with the build.
set_reg 'Virtual\0000\ISAPIExt' /isapi sz "$build/stage/ISAPI"
printf '%s\n' '<html><head><title>Hello</title></head>' \
  '<body><h1>Hello from an ISAPI extension</h1></body></html>' >"$tmp/isapi_hello.body"

ap=$tmp/apache
ap_user=
[ "$(id -u)" = 0 ] && ap_user="User www-data
Group www-data"
cat >"$ap/apache2.conf" <<EOF
ServerRoot $ap
ServerName 127.0.0.1
Listen 127.0.0.1:$port_ap
PidFile $ap/apache2.pid
DefaultRuntimeDir $ap
ErrorLog $ap/error.log
LogLevel warn
$ap_user
LoadModule mpm_event_module $apache_modules/mod_mpm_event.so
LoadModule authz_core_module $apache_modules/mod_authz_core.so
LoadModule mime_module $apache_modules/mod_mime.so
LoadModule alias_module $apache_modules/mod_alias.so
LoadModule cgid_module $apache_modules/mod_cgid.so
LoadModule include_module $apache_modules/mod_include.so
LogFormat "%h %l %u %t \"%r\" %>s %b" common
CustomLog $ap/access.log common
KeepAlive On
MaxKeepAliveRequests 0
KeepAliveTimeout 65
ScriptSock $ap/cgid.sock
DocumentRoot $docroot
<Directory />
    AllowOverride None
    Require all denied
</Directory>
<Directory $docroot>
    Options +Includes
    Require all granted
</Directory>
ScriptAlias /cgi-bin/ $docroot/cgi-bin/
TypesConfig /dev/null
AddType text/html .html .shtml
AddOutputFilter INCLUDES .shtml
EOF

ng=$tmp/nginx
{
  nginx_main_context "$ng" 4096
  cat <<EOF
http {
    types { text/html html shtml; text/plain txt; }
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
        location ~ \.shtml\$ { ssi on; }
    }
}
EOF
} >"$ng/nginx.conf"

lt=$tmp/lighttpd
cat >"$lt/lighttpd.conf" <<EOF
server.modules = ( "mod_accesslog", "mod_cgi", "mod_ssi" )
server.bind = "127.0.0.1"
server.port = $port_lt
server.document-root = "$docroot"
server.errorlog = "$lt/error.log"
accesslog.filename = "$lt/access.log"
server.max-keep-alive-requests = 100000
server.max-keep-alive-idle = 65
server.max-connections = 4096
server.max-fds = 8192
mimetype.assign = ( ".html" => "text/html", ".shtml" => "text/html", ".bin" => "application/octet-stream" )
ssi.extension = ( ".shtml" )
\$HTTP["url"] =~ "^/cgi-bin/" {
    cgi.assign = ( ".pl" => "/usr/bin/perl", "" => "" )
}
EOF

# ---------------------------------------------------------------- start servers
declare -A port pid_of starts reaped last_exit deaths
port[brisvane]=$port_bv; port[apache]=$port_ap; port[nginx]=$port_ng; port[lighttpd]=$port_lt

launch() {  # name: starts that server in the background, waits until it listens
  local name=$1 n=${starts[$1]:-0}
  starts[$name]=$((n + 1))
  local out=$tmp/$name.out.$n
  case "$name" in
    brisvane) exec env BRISVANE_REGISTRY="$reg" "$vanehost" ;;
    apache)   exec apache2 -f "$ap/apache2.conf" -DFOREGROUND ;;
    nginx)    exec nginx -p "$ng/" -e "$ng/error.log" -c "$ng/nginx.conf" -g 'daemon off;' ;;
    lighttpd) exec lighttpd -D -f "$lt/lighttpd.conf" ;;
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
  tail -n 20 "$out" "$tmp/$name/error.log" 2>/dev/null >&2
  return 1
}


# ---------------------------------------------------------------- cases
# A case is one URL loaded on some servers. Its expected body is
# "text:..." (exactly that text plus a newline), "file:PATH" (that file's
# bytes) or "page" (the processed SSI page, any date).
cases=()
declare -A case_url case_conns case_expect case_servers case_ref case_close
add_case() {  # label url conns expect [ref=LABEL] [close] server...
  local label=$1
  cases+=("$label")
  case_url[$label]=$2; case_conns[$label]=$3; case_expect[$label]=$4
  shift 4
  case "${1:-}" in ref=*) case_ref[$label]=${1#ref=}; shift ;; esac
  case "${1:-}" in close) case_close[$label]=close; shift ;; esac
  case_servers[$label]="$*"
}

add_case "CGI C hello"    /cgi-bin/hello    "$CONNS_CGI" "text:$hello_text" brisvane apache lighttpd
add_case "CGI Perl hello" /cgi-bin/hello.pl "$CONNS_CGI" "text:$hello_text" brisvane apache lighttpd
add_case "SSI page"       /ssi/page.shtml   "$CONNS"     page               brisvane apache nginx lighttpd
# Rows for Brisvane alone, compared with one of its own rows.
add_case "WinCGI C hello" /cgi-win/hello    "$CONNS_CGI" "text:$hello_text" ref="CGI C hello" brisvane
add_case "1KiB static"    /small.bin        "$CONNS"     "file:$docroot/small.bin" brisvane
# Script responses end their connection, so the static file is also loaded
# with a new connection per request.
add_case "1KiB static, close" /small.bin    "$CONNS"     "file:$docroot/small.bin" close brisvane
add_case "ISAPI hello"    /isapi/hello.so   "$CONNS"     "file:$tmp/isapi_hello.body" ref="1KiB static, close" brisvane

# One GET with curl: status 200 and the expected body.
check() {  # server label
  local url="http://127.0.0.1:${port[$1]}${case_url[$2]}" expect=${case_expect[$2]} got=$tmp/check.body code
  code=$(curl -s -o "$got" -w '%{http_code}' --max-time 10 "$url") || { echo "curl failed ($code)"; return 1; }
  [ "$code" = 200 ] || { echo "status $code: $(head -c 200 "$got" | tr -s '\r\n' '  ')"; return 1; }
  case "$expect" in
    text:*) printf '%s\n' "${expect#text:}" >"$tmp/check.want" ;;
    file:*) cp "${expect#file:}" "$tmp/check.want" ;;
    page)
      python3 - "$tmp/page.expected" "$got" <<'PY' || return 1
import re, sys
want = open(sys.argv[1]).read()
got = open(sys.argv[2], errors='replace').read()
before, after = want.split('@DATE@')
m = re.fullmatch(re.escape(before) + r'(.*?)' + re.escape(after), got, re.S)
if not m:
    sys.exit('body differs from the expected page: ' + got[:300].replace('\n', ' '))
date = m.group(1)
if not re.search(r'\d', date) or 'error' in date.lower() or '<' in date:
    sys.exit(f'DATE_LOCAL gave {date!r}')
PY
      return 0 ;;
  esac
  cmp -s "$tmp/check.want" "$got" || { echo "body differs: $(head -c 200 "$got" | tr -s '\r\n' '  ')"; return 1; }
}

# ---------------------------------------------------------------- load
declare -A rps errs note started ok conns

# Connections the kernel accepted so far: the whole machine's, other
# clients' included, so only a rough count of wrk's.
passive_opens() {
  awk '/^Tcp:/ { if (!c) { for (i = 1; i <= NF; i++) if ($i == "PassiveOpens") c = i } else print $c }' /proc/net/snmp
}

run_wrk() {  # server url conns duration [close]; prints what wrk printed
  local extra=()
  [ "${5:-}" = close ] && extra=(-H "Connection: close")
  timeout -k 5 $(($4 + 60)) wrk "${extra[@]}" -t"$THREADS" -c"$3" -d"$4s" "http://127.0.0.1:${port[$1]}$2" 2>&1
}

# A server is started the first time a row needs it and again if it died
# (the death is reported), so that one crash does not hide the other rows.
ensure() {  # server
  local s=$1
  if [ -z "${started[$s]:-}" ]; then
    started[$s]=1
    launch "$s" && ok[$s]=1
    return $(( ${ok[$s]:-0} ? 0 : 1 ))
  fi
  [ -n "${ok[$s]:-}" ] || return 1
  alive "$s" && return 0
  log "$s is not running any more (${last_exit[$s]}); starting it again"
  launch "$s" && return 0
  unset "ok[$s]"
  return 1
}

# Measures one row: the server must answer the expected body first; a
# one-second warm-up is not reported. Results go to rps/errs/note["label|server"].
measure() {  # server label
  local s=$1 label=$2 k="$2|$1" out r non2xx sock msg
  if ! ensure "$s"; then note[$k]="FAILED: not running"; return; fi
  if ! msg=$(check "$s" "$label" 2>&1); then
    log "$s fails the check for \"$label\": $msg"
    note[$k]="FAILED check: $msg"
    return
  fi
  run_wrk "$s" "${case_url[$label]}" "${case_conns[$label]}" 1 "${case_close[$label]:-}" >/dev/null
  log "wrk: $label -> $s (${DURATION}s, ${case_conns[$label]} connections)"
  # A server that ends its connections makes wrk open one per response.
  local url="http://127.0.0.1:${port[$s]}${case_url[$label]}" before
  if [ "$(curl -s -o /dev/null -o /dev/null -w '%{num_connects}\n' --max-time 10 "$url" "$url" | tail -n 1)" != 0 ]; then
    note[$k]="closes its connections"
  fi
  before=$(passive_opens)
  out=$(run_wrk "$s" "${case_url[$label]}" "${case_conns[$label]}" "$DURATION" "${case_close[$label]:-}")
  conns[$k]=$(( $(passive_opens) - before ))
  printf '%s\n' "$out" >"$tmp/wrk-${s}-${label// /_}.txt"
  r=$(awk '/^Requests\/sec:/ {print $2}' <<<"$out")
  non2xx=$(awk '/Non-2xx or 3xx responses:/ {print $NF}' <<<"$out")
  sock=$(awk -F'[ ,]+' '/Socket errors:/ {for (i = 1; i < NF; i++) if ($i ~ /^(connect|read|write|timeout)$/) s += $(i + 1); print s + 0}' <<<"$out")
  rps[$k]=${r:-0}
  errs[$k]=$(( ${non2xx:-0} + ${sock:-0} ))
  if [ -z "$r" ]; then note[$k]="${note[$k]:+${note[$k]}; }wrk gave no result"; printf '%s\n' "$out" | tail -n 5 >&2; fi
  if [ "${errs[$k]}" != 0 ]; then
    note[$k]="${note[$k]:+${note[$k]}; }$(grep -E 'Non-2xx|Socket errors' <<<"$out" | sed 's/^ *//' | paste -sd';' -)"
  fi
  # The body once more after the load, so that a server that breaks under
  # it is not credited with error pages.
  if alive "$s" && ! msg=$(check "$s" "$label" 2>&1); then
    note[$k]="${note[$k]:+${note[$k]}; }fails the check after the load: $msg"
  fi
  if ! alive "$s"; then
    log "$s ended during \"$label\" (${last_exit[$s]}); the last lines of its output:"
    tail -n 5 "$tmp/$s.out.$((${starts[$s]} - 1))" >&2
    note[$k]="${note[$k]:+${note[$k]}; }server died: ${last_exit[$s]}"
  fi
  sleep 1
}

for label in "${cases[@]}"; do
  for s in ${case_servers[$label]}; do measure "$s" "$label"; done
done

# ---------------------------------------------------------------- report
echo
echo "machine: $(nproc) cores (wrk shares them), $(uname -sr), load average before the report: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "apache:   $(apache2 -v 2>&1 | sed -n 's/^Server version: //p'), mpm_event + mod_cgid + mod_include"
echo "nginx:    $(nginx -v 2>&1 | sed 's/^nginx version: //')"
echo "lighttpd: $(lighttpd -v 2>&1 | head -n 1)"
echo "perl:     $(perl -e 'print $^V')"
echo "wrk:      $(wrk -v 2>&1 | head -n 1 | awk '{print $1, $2}')"
echo "load:     wrk -t$THREADS -d${DURATION}s per run, keep-alive, 127.0.0.1; connections per row below"
echo "accepted: TCP connections the kernel accepted during the run, from any client on this machine"
echo "errors:   wrk counts the end of a body that only the close delimits (no Content-Length, as an extension's output) as a read error"
echo "tmpdir:   ${TMPDIR:-/tmp} on $(df -T "${TMPDIR:-/tmp}" 2>/dev/null | awk 'NR == 2 {print $2}') (where vanehost puts CGI and SSI output)"
echo "ratio:    Brisvane requests/s divided by the best peer's in the same row (or by Brisvane's in the row named)"
echo
fmt='%-16s %-9s %6s %12s %8s %9s  %s\n'
printf "$fmt" case server conns requests/s errors accepted "vs best peer"
printf "$fmt" ---- ------ ----- ---------- ------ -------- ------------
for label in "${cases[@]}"; do
  best=0
  if [ -n "${case_ref[$label]:-}" ]; then
    best=${rps["${case_ref[$label]}|brisvane"]:-0}
  else
    for s in ${case_servers[$label]}; do
      [ "$s" = brisvane ] && continue
      v=${rps["$label|$s"]:-}
      [ -n "$v" ] && best=$(awk -v a="$v" -v b="$best" 'BEGIN { print (a > b) ? a : b }')
    done
  fi
  for s in ${case_servers[$label]}; do
    k="$label|$s"
    if [ -z "${rps[$k]:-}" ]; then
      printf "$fmt" "$label" "$s" "${case_conns[$label]}" - - - "${note[$k]:-}"
      continue
    fi
    ratio=
    if [ "$s" = brisvane ]; then
      ratio=$(awk -v a="${rps[$k]}" -v b="$best" 'BEGIN { if (b > 0) printf "%.2fx", a / b; else print "n/a" }')
      [ -n "${case_ref[$label]:-}" ] && ratio="$ratio of \"${case_ref[$label]}\""
    fi
    printf '%-16s %-9s %6s %12.0f %8s %9s  %s\n' "$label" "$s" "${case_conns[$label]}" "${rps[$k]}" "${errs[$k]}" \
      "${conns[$k]}" "$ratio${note[$k]:+  (${note[$k]})}"
  done
done
for s in brisvane apache nginx lighttpd; do
  [ -n "${deaths[$s]:-}" ] && echo "$s died during the runs and was started ${starts[$s]} times in all: ${deaths[$s]}"
done
exit 0
