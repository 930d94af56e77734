#!/usr/bin/env bash
# Builds Brisvane natively and starts vanehost in the foreground on the
# bundled default configuration (build/release/stage). Ctrl+C stops it.
set -eu
cd "$(dirname "$0")/.."
bash tools/deps.sh native
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRISVANE_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)"
stage=$PWD/build/release/stage
export BRISVANE_REGISTRY=${BRISVANE_REGISTRY:-$stage/registry.reg}
network='HKEY_LOCAL_MACHINE\SOFTWARE\Halvex\Brisvane\2.0\Default\Network'

# The configured port (80 unless the registry says otherwise).
port=$(python3 - "$BRISVANE_REGISTRY" <<'PY'
import re, sys
port, section = 80, False
try:
    for line in open(sys.argv[1], encoding='latin-1'):
        s = line.strip()
        if s.startswith('['):
            section = s.lower().endswith('\\default\\network]')
        elif section and s.lower().startswith('"port"=dword:'):
            port = int(s.split(':', 1)[1], 16)
except OSError:
    pass
print(port)
PY
)
free() { python3 -c "import socket,sys; s=socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1); s.bind(('', int(sys.argv[1])))" "$1" 2>/dev/null; }
if ! free "$port"; then
  new=8080
  while ! free "$new"; do new=$((new + 1)); done
  python3 tools/reg_set.py "$BRISVANE_REGISTRY" "$network" Port dword "$new"
  echo "Port $port is not available here; the server will use port $new (saved in $BRISVANE_REGISTRY)."
  port=$new
fi
echo "Brisvane serves $stage/HTDOCS at http://127.0.0.1:$port/ (Ctrl+C stops it)"
exec "$stage/vanehost" "$@"
