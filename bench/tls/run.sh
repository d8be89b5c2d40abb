#!/usr/bin/env bash
# TLS relaying against a single-threaded haproxy doing the same, in one run:
#   bench/tls/run.sh [--rounds N] [--seconds S] [--mib M] [--connections C] [--direct]
#                    [--cli PATH] [--only corvane|haproxy]
# nginx serves HTTPS on 127.0.0.1 (a self-signed certificate made here with openssl); each
# relay takes TLS from the Clients, relays the plain bytes and talks TLS to nginx:
# corvane-cli with "-tls Both -detail Low" and the same certificate, and haproxy with
# "nbthread 1", "bind ... ssl crt" and "server ... ssl verify none" (mode tcp). Per round
# and relay, one after the other:
#   1. HTTPS requests per second with keep-alive: wrk -t1 -cC -dS https://.../small (1 KiB);
#   2. one download of an M MiB file with curl -k, in MiB/s.
# The relays take turns round by round; the medians, their ratios corvane/haproxy and the
# median of each round's own ratio are printed at the end. --direct adds nginx without a
# relay as a reference; --only runs one relay (to try the script before the other one
# works). Nothing outside a temporary folder is touched: the settings folder of corvane-cli
# is pointed there too.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
rounds=5
seconds=10
mib=1024
connections=50
direct=0
only=""
cli="$here/build/src/app/cli/corvane-cli"
while [ $# -gt 0 ]; do
  case "$1" in
    --rounds) rounds="$2"; shift 2 ;;
    --seconds) seconds="$2"; shift 2 ;;
    --mib) mib="$2"; shift 2 ;;
    --connections) connections="$2"; shift 2 ;;
    --direct) direct=1; shift ;;
    --cli) cli="$2"; shift 2 ;;
    --only) only="$2"; shift 2 ;;
    *) echo "run.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
for tool in nginx haproxy wrk curl openssl python3; do
  command -v "$tool" >/dev/null || { echo "run.sh: $tool is missing (scripts/setup.sh --tests installs it)" >&2; exit 2; }
done
if [ "$only" != haproxy ] && [ ! -x "$cli" ]; then
  echo "run.sh: $cli is missing; build first (cmake --build build)" >&2
  exit 2
fi

work=$(mktemp -d /tmp/corvane-tls-bench.XXXXXX)
# The processes started here, each ended by its pid (and forgotten once it has ended).
nginx_pid=""
relay_pid=""
cleanup() {
  for pid in $relay_pid $nginx_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

# Three free ports on 127.0.0.1: nginx, corvane, haproxy.
read -r nginx_port corvane_port haproxy_port < <(python3 - <<'EOF'
import socket
socks = []
for _ in range(3):
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    socks.append(s)
print(*[s.getsockname()[1] for s in socks])
EOF
)

openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
  -subj "/CN=localhost" -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
cat "$work/cert.pem" "$work/key.pem" > "$work/haproxy.pem"

mkdir -p "$work/www"
head -c 1024 /dev/urandom > "$work/www/small"
truncate -s "${mib}M" "$work/www/large"

user_line=""
[ "$(id -u)" -ne 0 ] || user_line="user root;"
cat > "$work/nginx.conf" <<EOF
$user_line
worker_processes 1;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 4096; }
http {
    access_log off;
    keepalive_requests 1000000;
    keepalive_timeout 120s;
    sendfile on;
    server {
        listen 127.0.0.1:$nginx_port ssl;
        ssl_certificate $work/cert.pem;
        ssl_certificate_key $work/key.pem;
        ssl_protocols TLSv1.2 TLSv1.3;
        root $work/www;
        default_type application/octet-stream;
    }
}
EOF

cat > "$work/haproxy.cfg" <<EOF
global
    nbthread 1
    maxconn 8000
defaults
    mode tcp
    timeout connect 5s
    timeout client 60s
    timeout server 60s
listen relay
    bind 127.0.0.1:$haproxy_port ssl crt $work/haproxy.pem
    server target 127.0.0.1:$nginx_port ssl verify none
EOF

# Waits (at most 10 s) until an HTTPS request through port $1 is answered.
wait_ready() {
  local i
  for i in $(seq 1 100); do
    if curl -ks -o /dev/null --max-time 2 "https://127.0.0.1:$1/small"; then
      return 0
    fi
    sleep 0.1
  done
  echo "run.sh: nothing answers on port $1" >&2
  return 1
}

nginx -p "$work" -c "$work/nginx.conf" -e "$work/nginx-error.log" -g "daemon off;" &
nginx_pid=$!
wait_ready "$nginx_port"

# Starts relay $1 in the background; its pid goes into $relay_pid.
start_relay() {
  case "$1" in
    corvane)
      XDG_CONFIG_HOME="$work/config" "$cli" 127.0.0.1 "$nginx_port" "$corvane_port" \
        -tls Both -tlscert "$work/cert.pem" -tlskey "$work/key.pem" -detail Low \
        > "$work/corvane.out" 2> "$work/corvane.err" < /dev/null &
      ;;
    haproxy)
      haproxy -db -f "$work/haproxy.cfg" > "$work/haproxy.out" 2>&1 < /dev/null &
      ;;
  esac
  relay_pid=$!
}

stop_relay() {
  kill "$relay_pid" 2>/dev/null || true
  wait "$relay_pid" 2>/dev/null || true
  relay_pid=""
}

port_of() {
  case "$1" in
    corvane) echo "$corvane_port" ;;
    haproxy) echo "$haproxy_port" ;;
    direct) echo "$nginx_port" ;;
  esac
}

relays=()
[ "$only" = haproxy ] || relays+=(corvane)
[ "$only" = corvane ] || relays+=(haproxy)
[ "$direct" -eq 0 ] || relays+=(direct)

# The TLS each side of a relay settled on, once, for the record.
describe() {
  openssl s_client -connect "127.0.0.1:$1" -servername localhost < /dev/null 2>/dev/null |
    awk '/^New,/ { print $2 " " $5; exit }'
}

results="$work/results"
: > "$results"
echo "nginx on $nginx_port; rounds $rounds, wrk -t1 -c$connections -d${seconds}s, download $mib MiB"
for round in $(seq 1 "$rounds"); do
  for relay in "${relays[@]}"; do
    port=$(port_of "$relay")
    if [ "$relay" != direct ]; then
      start_relay "$relay"
      if ! wait_ready "$port"; then
        cat "$work/$relay.err" "$work/$relay.out" 2>/dev/null | tail -20 >&2
        exit 1
      fi
    fi
    [ "$round" -ne 1 ] || echo "$relay: $(describe "$port")"
    rps=$(wrk -t1 -c"$connections" -d"${seconds}s" "https://127.0.0.1:$port/small" |
          awk '/^Requests\/sec:/ { print $2 }')
    bytes_per_s=$(curl -ks -o /dev/null -w '%{speed_download}' "https://127.0.0.1:$port/large")
    size=$(curl -ks -o /dev/null -w '%{size_download}' --max-time 1 "https://127.0.0.1:$port/small")
    [ "$relay" = direct ] || stop_relay
    [ "$size" = 1024 ] || { echo "run.sh: $relay gave $size bytes of /small" >&2; exit 1; }
    echo "$relay $round ${rps:-0} $bytes_per_s" >> "$results"
    printf 'round %d %-8s %10.0f requests/s %8.1f MiB/s\n' "$round" "$relay" "${rps:-0}" \
      "$(python3 -c "print($bytes_per_s / 1048576)")"
  done
done

python3 - "$results" <<'EOF'
import statistics, sys
rows = {}
for line in open(sys.argv[1]):
    relay, _, rps, bps = line.split()
    rows.setdefault(relay, ([], []))
    rows[relay][0].append(float(rps))
    rows[relay][1].append(float(bps) / 1048576)
print()
print(f"{'relay':8} {'requests/s (median)':>20} {'download MiB/s (median)':>24}")
med = {r: (statistics.median(v[0]), statistics.median(v[1])) for r, v in rows.items()}
for relay, (rps, mibs) in med.items():
    print(f"{relay:8} {rps:20.0f} {mibs:24.1f}")
if "corvane" in med and "haproxy" in med:
    c, h = med["corvane"], med["haproxy"]
    print(f"corvane/haproxy, of the medians: requests {c[0] / h[0]:.2f}, download {c[1] / h[1]:.2f}")
    # Each round's two relays ran one after the other, under much the same load from the
    # rest of the machine: the median of the rounds' own ratios is the steadier figure.
    pairs = list(zip(rows["corvane"][0], rows["haproxy"][0], rows["corvane"][1], rows["haproxy"][1]))
    rr = statistics.median(cr / hr for cr, hr, _, _ in pairs if hr > 0)
    rd = statistics.median(cd / hd for _, _, cd, hd in pairs if hd > 0)
    print(f"corvane/haproxy, median of the rounds' ratios: requests {rr:.2f}, download {rd:.2f}")
EOF
