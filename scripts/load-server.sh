#!/usr/bin/env bash
# Load run of vantle-update-server: many concurrent hash queries on loopback
# with wrk. Fails on any non-2xx reply, socket error or reply other than the
# expected one; prints requests per second. Speed is reported, never asserted.
# When nginx is installed, the same wrk run against nginx serving the same
# reply as a static file follows, and the ratio of the two is printed beside
# its goal -- only when nginx did the same work; otherwise the run fails.
#
#   scripts/load-server.sh [--server PATH] [--connections N] [--duration SECONDS]
#                          [--threads N] [--timeout SECONDS]
#
# Defaults: the server of the release benchmark tree build/bench (made when
# missing; the test tree's is built with sanitizers, several times slower
# than what is deployed, and is only checked for errors), 1000 connections,
# 10 seconds, 2 wrk threads, and wrk's own 2-second reply timeout (a reply later than that
# counts as a socket error). Every wrk connection comes from 127.0.0.1, so the
# server's per-address limit is raised to let them all in.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
server=""
connections=1000
duration=10
threads=2
timeout=2
while [[ $# -gt 0 ]]; do
  case "$1" in
    --server) server="$2"; shift 2 ;;
    --connections) connections="$2"; shift 2 ;;
    --duration) duration="$2"; shift 2 ;;
    --threads) threads="$2"; shift 2 ;;
    --timeout) timeout="$2"; shift 2 ;;
    *) echo "load-server.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
if [[ -z "$server" ]]; then
  bench="$here/build/bench"
  [[ -f "$bench/CMakeCache.txt" ]] ||
    cmake -S "$here" -B "$bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTLE_BENCH=ON >/dev/null
  cmake --build "$bench" --target vantle-update-server >/dev/null
  server="$bench/server/vantle-update-server"
fi
[[ -x "$server" ]] || { echo "load-server.sh: no server at $server" >&2; exit 2; }
# A sanitized build (the test tree's) is loaded for its errors only: its rate
# is the sanitizers', not the server's, and is never set beside nginx's.
sanitized=0
ldd "$server" 2>/dev/null | grep -Eq 'lib(a|ub|t)san' && sanitized=1
command -v wrk >/dev/null || { echo "load-server.sh: wrk is not installed" >&2; exit 2; }

# Every connection is a descriptor on both ends (wrk and the server run from
# this shell and inherit the limit).
want=$((connections * 2 + 256))
hard="$(ulimit -Hn)"
if [[ "$hard" != unlimited && "$hard" -lt "$want" ]]; then
  ulimit -Hn "$want" 2>/dev/null || true
fi
ulimit -n "$want" 2>/dev/null || ulimit -n "$(ulimit -Hn)"
if [[ "$(ulimit -n)" != unlimited && "$(ulimit -n)" -lt "$want" ]]; then
  echo "load-server.sh: need $want open files, the limit is $(ulimit -n)" >&2
  exit 2
fi

work="$(mktemp -d /tmp/vantle-load.XXXXXX)"
server_pid=""
cleanup() {
  if [[ -n "$server_pid" ]]; then
    kill -TERM "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

product=5E1C9A02-7B3D-4F61-9A8E-2C47D0B3F915
mkdir -p "$work/root/$product"
head -c 4000000 /dev/urandom > "$work/root/$product/vtl64.exe"
expected="$(sha1sum "$work/root/$product/vtl64.exe" | cut -c1-40 | tr a-f A-F)"

"$server" --root "$work/root" --port 0 --port-file "$work/port" --log "$work/access.log" \
  --per-address-limit $((connections + 16)) 2> "$work/server.err" &
server_pid=$!
for _ in $(seq 1 200); do
  [[ -s "$work/port" ]] && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$work/server.err" >&2; exit 1; }
  sleep 0.05
done
port="$(cat "$work/port")"
url="http://127.0.0.1:$port/update/u.php?f=hash&e=$product"

# One hash query over bash's own TCP, checked for the file's digest.
check_reply() {
  local reply
  exec 3<>"/dev/tcp/127.0.0.1/$port"
  printf 'POST /update/u.php?f=hash&e=%s HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: 12\r\nConnection: close\r\n\r\nf1=vtl64.exe' "$product" >&3
  reply="$(cat <&3; printf x)"  # the x keeps a final newline
  reply="${reply%x}"
  exec 3<&-
  reply_body="${reply#*$'\r\n\r\n'}"
  if [[ "$reply" != *"<f1>$expected</f1>"* ]]; then
    echo "load-server.sh: wrong reply $1: $reply" >&2
    exit 1
  fi
}
check_reply "before the run"

cat > "$work/hash.lua" <<'EOF'
wrk.method = "POST"
wrk.body = "f1=vtl64.exe"
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
EOF

# Other work on the machine moves both figures; the ratio, measured in the
# same run, moves less.
echo "load-server.sh: load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
wrk -t"$threads" -c"$connections" -d"${duration}s" --timeout "${timeout}s" -s "$work/hash.lua" "$url" \
  | tee "$work/wrk.out"

check_reply "after the run"
kill -0 "$server_pid" 2>/dev/null || { echo "load-server.sh: the server died" >&2; exit 1; }

failed=0
if grep -q 'Socket errors' "$work/wrk.out"; then
  echo "load-server.sh: FAILED: $(grep 'Socket errors' "$work/wrk.out")" >&2
  failed=1
fi
if grep -q 'Non-2xx' "$work/wrk.out"; then
  echo "load-server.sh: FAILED: $(grep 'Non-2xx' "$work/wrk.out")" >&2
  failed=1
fi
requests="$(awk '/requests in/ {print $1}' "$work/wrk.out")"
if [[ -z "$requests" || "$requests" -eq 0 ]]; then
  echo "load-server.sh: FAILED: no requests completed" >&2
  failed=1
fi
# Each answered request left one log line (requests still in flight when wrk
# stopped were answered too, so there may be a few more lines than wrk counted).
lines="$(wc -l < "$work/access.log")"
if [[ -n "$requests" && "$lines" -lt "$requests" ]]; then
  echo "load-server.sh: FAILED: $requests requests but $lines log lines" >&2
  failed=1
fi

# And every one of them the same reply: 200 and the digest's bytes.
reply_bytes="$(printf '%s' "$reply_body" | wc -c)"
bad_lines="$(awk -v size="$reply_bytes" '!($5 == 200 && $7 == size)' "$work/access.log" | wc -l)"
if [[ "$bad_lines" -ne 0 ]]; then
  echo "load-server.sh: FAILED: $bad_lines log lines are not 200 with $reply_bytes bytes:" \
    "$(awk -v size="$reply_bytes" '!($5 == 200 && $7 == size)' "$work/access.log" | head -1)" >&2
  failed=1
fi

kill -TERM "$server_pid"
if ! wait "$server_pid"; then
  echo "load-server.sh: FAILED: the server did not stop cleanly" >&2
  failed=1
fi
server_pid=""

ours="$(awk '/Requests\/sec/ {print $2}' "$work/wrk.out")"
echo "load-server.sh: $connections connections, $requests requests, $lines log lines, $ours requests/s"
if [[ "$failed" -ne 0 ]]; then
  echo "load-server.sh: the server's run failed: no ratio" >&2
  exit 1
fi
if [[ "$sanitized" -eq 1 ]]; then
  echo "load-server.sh: $server is built with sanitizers: no ratio (a release build has one)"
  exit 0
fi

# The peer, in the same run: nginx with one worker per core and its access
# log on, answering a GET for a static file that holds the same reply (it
# refuses a POST to a static file). A ratio is printed only when nginx did the
# same work: every reply 200 with the same bytes, no socket errors, and still
# answering afterwards; otherwise the run ends with an error.
nginx_bin="$(command -v nginx || true)"
[[ -z "$nginx_bin" && -x /usr/sbin/nginx ]] && nginx_bin=/usr/sbin/nginx
if [[ -z "$nginx_bin" ]]; then
  echo "load-server.sh: nginx is not installed: no ratio"
  exit "$failed"
fi
# nginx started as root serves as an unprivileged user: mktemp's folder is
# private to root, and nginx would answer every request 403.
chmod 755 "$work"
mkdir -p "$work/www" "$work/nginx"
chmod 755 "$work/www" "$work/nginx"
printf '%s' "$reply_body" > "$work/www/reply.xml"
chmod 644 "$work/www/reply.xml"
reply_size="$(stat -c %s "$work/www/reply.xml")"
nginx_port=$((20000 + RANDOM % 20000))
cat > "$work/nginx.conf" <<CONF
worker_processes auto;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections $((connections + 256)); }
http {
  log_format counted '\$status \$body_bytes_sent';
  access_log $work/nginx/access.log counted;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  server { listen 127.0.0.1:$nginx_port; root $work/www; }
}
CONF
"$nginx_bin" -p "$work/nginx" -c "$work/nginx.conf" 2> "$work/nginx/start.err" &
nginx_pid=$!
for _ in $(seq 1 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$nginx_port") 2>/dev/null && break
  sleep 0.05
done

# One GET over bash's own TCP: status 200 and the very reply the server gave.
nginx_problem=""
check_nginx() {
  local reply
  # In a subshell: a refused connection must not end this script.
  if ! reply="$( (exec 3<>"/dev/tcp/127.0.0.1/$nginx_port" &&
      printf 'GET /reply.xml HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n' >&3 &&
      cat <&3 && printf x) 2>/dev/null)"; then
    nginx_problem+="no reply $1; "
    return
  fi
  reply="${reply%x}"  # the x kept a final newline
  if [[ "${reply%%$'\r\n'*}" != "HTTP/1.1 200 OK" || "${reply#*$'\r\n\r\n'}" != "$reply_body" ]]; then
    nginx_problem+="wrong reply $1: ${reply%%$'\r\n'*}; "
  fi
}
check_nginx "before the run"
if [[ -z "$nginx_problem" ]]; then
  wrk -t"$threads" -c"$connections" -d"${duration}s" --timeout "${timeout}s" \
    "http://127.0.0.1:$nginx_port/reply.xml" > "$work/wrk-nginx.out" 2>&1 || nginx_problem+="wrk failed; "
  check_nginx "after the run"
  kill -0 "$nginx_pid" 2>/dev/null || nginx_problem+="nginx is gone; "
fi
kill -TERM "$nginx_pid" 2>/dev/null || true
wait "$nginx_pid" 2>/dev/null || true
if [[ -n "$nginx_problem" && ! -s "$work/wrk-nginx.out" ]]; then
  nginx_problem+="$(cat "$work/nginx/start.err" "$work/nginx/error.log" 2>/dev/null | tail -3 | tr '\n' ' ')"
fi
if [[ -s "$work/wrk-nginx.out" ]]; then
  grep -q 'Socket errors' "$work/wrk-nginx.out" && nginx_problem+="$(grep 'Socket errors' "$work/wrk-nginx.out"); "
  grep -q 'Non-2xx' "$work/wrk-nginx.out" && nginx_problem+="$(grep 'Non-2xx' "$work/wrk-nginx.out"); "
fi
peer="$(awk '/Requests\/sec/ {print $2}' "$work/wrk-nginx.out" 2>/dev/null || true)"
peer_requests="$(awk '/requests in/ {print $1}' "$work/wrk-nginx.out" 2>/dev/null || true)"
# Every logged reply: 200 and the whole reply, at least as many as wrk counted.
if [[ -z "$nginx_problem" ]]; then
  read -r good bad < <(awk -v size="$reply_size" '$1 == 200 && $2 == size { g++; next } { b++ }
                         END { print g + 0, b + 0 }' "$work/nginx/access.log")
  [[ "$bad" -eq 0 ]] || nginx_problem+="$bad replies not 200 with $reply_size bytes; "
  [[ -n "$peer_requests" && "$good" -ge "$peer_requests" ]] ||
    nginx_problem+="wrk counted ${peer_requests:-no} requests, nginx logged $good; "
  [[ -n "$peer" ]] || nginx_problem+="no requests/s from wrk; "
fi
if [[ -n "$nginx_problem" ]]; then
  echo "load-server.sh: FAILED: nginx did not do the same work, no ratio: $nginx_problem" >&2
  exit 1
fi
ratio="$(awk -v a="$ours" -v b="$peer" 'BEGIN { printf "%.2f", a / b }')"
met="$(awk -v r="$ratio" 'BEGIN { print (r >= 1.0) ? "met" : "MISSED" }')"
echo "load-server.sh: nginx, same $reply_size-byte reply as a static file: $peer_requests requests, $peer requests/s;" \
  "vantle-update-server at ${ratio}x nginx (goal: at least 1.00x) $met"
exit "$failed"
