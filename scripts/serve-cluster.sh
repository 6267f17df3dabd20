#!/usr/bin/env bash
# Runs the update service as several vantle-update-server instances on
# loopback ports behind Debian's nginx, which balances them and sends a
# request that an instance did not answer to another one.
#
#   serve-cluster.sh start   --releases DIR --run DIR --port N [--instances N]
#                            [--bind ADDR] [--server BIN] [-- SERVER OPTIONS...]
#   serve-cluster.sh publish --releases DIR --run DIR [--product ID] FILE...
#   serve-cluster.sh stop    --run DIR
#
# DIR of --releases holds one folder per release (r-<time>-<n>/<product>/...)
# and the link "current" to the one served; every instance reads it, none
# writes. "publish" copies the current release into a new folder, puts the
# files in it, swaps the link at once, has every instance prepare the new
# release whole (SIGUSR1), then switch to it (SIGHUP), and waits until all
# serve it. "start" starts whatever is not running (nginx and instances
# --port+1 .. --port+N), so it also brings back an instance that died.
# "stop" stops nginx and the instances (SIGTERM: each answers what it has
# and exits 0).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

usage() {
  sed -n '6,10p' "${BASH_SOURCE[0]}" | sed 's/^# *//' >&2
  exit 2
}
[[ $# -ge 1 ]] || usage
command=$1
shift
releases="" run="" port="" instances=2 bind=127.0.0.1 product=""
server="$here/build/native/server/vantle-update-server"
files=() extra=()
while [[ $# -gt 0 ]]; do
  case "$1" in
    --releases) releases=$2; shift 2 ;;
    --run) run=$2; shift 2 ;;
    --port) port=$2; shift 2 ;;
    --instances) instances=$2; shift 2 ;;
    --bind) bind=$2; shift 2 ;;
    --server) server=$2; shift 2 ;;
    --product) product=$2; shift 2 ;;
    --) shift; extra=("$@"); break ;;
    -*) echo "serve-cluster.sh: unknown option $1" >&2; usage ;;
    *) files+=("$1"); shift ;;
  esac
done
[[ -n "$run" ]] || usage

# Whether the process of a pid file runs (a process that ended but was not
# yet reaped by whoever adopted it does not).
# Read once: a process reaped between two looks at its file is not running.
running() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) && [[ -n "$stat" ]] && ! grep -q '^[0-9]* (.*) Z' <<<"$stat"
}
alive() { [[ -f "$1" ]] && running "$(cat "$1")"; }

# The release an instance serves and the one it has prepared, from its
# health answer ("ok <folder> prepared <folder>").
health() { curl -fsS --max-time 2 "http://127.0.0.1:$1/health" 2>/dev/null; }
serving() { health "$1" | sed -n 's/^ok \([^ ]*\).*/\1/p'; }
prepared() { health "$1" | sed -n 's/.* prepared \([^ ]*\)$/\1/p'; }

# Signals every running instance, then waits until each reports name by
# the report function.
signal_and_wait() {
  local p pids=()
  for p in $(instance_ports); do alive "$run/instance-$p.pid" && pids+=("$(cat "$run/instance-$p.pid")"); done
  # One call for all, so that they get it at the same moment.
  [[ ${#pids[@]} -eq 0 ]] || kill "-$1" "${pids[@]}"
  for p in $(instance_ports); do
    alive "$run/instance-$p.pid" || continue
    for _ in $(seq 600); do [[ "$($2 "$p")" == "$3" ]] && break; sleep 0.1; done
    [[ "$($2 "$p")" == "$3" ]] || { echo "serve-cluster.sh: port $p does not report $3" >&2; exit 1; }
  done
}

instance_ports() { cat "$run/ports"; }

start() {
  [[ -n "$releases" && -n "$port" ]] || usage
  [[ -x "$server" ]] || { echo "serve-cluster.sh: no server at $server" >&2; exit 1; }
  command -v nginx >/dev/null || [[ -x /usr/sbin/nginx ]] || { echo "serve-cluster.sh: nginx is not installed" >&2; exit 1; }
  mkdir -p "$run/nginx-temp" "$releases"
  # nginx started by root works as nobody, which must reach its folders.
  chmod 755 "$run"
  releases=$(cd "$releases" && pwd)
  if [[ ! -e "$releases/current" ]]; then
    mkdir -p "$releases/r-empty"
    ln -sfn r-empty "$releases/current"
  fi
  : >"$run/ports"
  local upstreams="" i p
  for ((i = 1; i <= instances; ++i)); do
    p=$((port + i))
    echo "$p" >>"$run/ports"
    upstreams+="        server 127.0.0.1:$p max_fails=0;"$'\n'
    if ! alive "$run/instance-$p.pid"; then
      # Behind the proxy every client has its address: no limit by address.
      "$server" --root "$releases/current" --bind 127.0.0.1 --port "$p" --per-address-limit 0 \
        --log "$run/instance-$p.log" "${extra[@]}" </dev/null >/dev/null 2>>"$run/instance-$p.err" &
      echo $! >"$run/instance-$p.pid"
    fi
  done
  for p in $(instance_ports); do
    for _ in $(seq 100); do [[ -n "$(serving "$p")" ]] && break; sleep 0.1; done
    [[ -n "$(serving "$p")" ]] || { echo "serve-cluster.sh: the instance on port $p did not come up" >&2; exit 1; }
  done
  echo "$releases" >"$run/releases"
  if ! alive "$run/nginx.pid"; then
    sed -e "s|@RUN@|$run|g" -e "s|@BIND@|$bind|g" -e "s|@PORT@|$port|g" \
      -e "/@SERVERS@/{r /dev/stdin" -e "d}" "$here/scripts/serve-cluster.nginx.conf" \
      <<<"${upstreams%$'\n'}" >"$run/nginx.conf"
    "$(command -v nginx || echo /usr/sbin/nginx)" -c "$run/nginx.conf" -p "$run" -g 'daemon on;'
    for _ in $(seq 50); do alive "$run/nginx.pid" && break; sleep 0.1; done
  fi
  echo "serving $releases/current on http://$bind:$port/update/u.php through $instances instances"
}

publish() {
  releases=$(cat "$run/releases")
  [[ ${#files[@]} -gt 0 ]] || usage
  if [[ -z "$product" ]]; then
    product="$(sed -n 's/^#define VANTLE_PRODUCT_ID L"\(.*\)"$/\1/p' "$here/update/RunUpdateCheck.h")"
  fi
  local name new
  name="r-$(date +%Y%m%d-%H%M%S)-$$"
  new="$releases/$name"
  # Complete in a folder of its own before anything serves it.
  cp -a "$(readlink -f "$releases/current")/." "$new.part" 2>/dev/null || mkdir -p "$new.part"
  mkdir -p "$new.part/$product"
  for file in "${files[@]}"; do cp -- "$file" "$new.part/$product/$(basename -- "$file")"; done
  sync -f "$new.part"
  mv -T "$new.part" "$new"
  # The swap is one rename: the link leads to one release or the other.
  ln -sfn "$name" "$releases/.current.next"
  mv -T "$releases/.current.next" "$releases/current"
  # Every instance prepares it whole first (the slow part), then all switch
  # at nearly the same moment: few clients meet two releases in one update.
  signal_and_wait USR1 prepared "$name"
  signal_and_wait HUP serving "$name"
  echo "published $name"
}

stop() {
  local status=0 pidfile pid
  if alive "$run/nginx.pid"; then
    pid=$(cat "$run/nginx.pid")
    # Graceful first; a client holding a connection open does not keep it.
    kill -QUIT "$pid"
    for _ in $(seq 50); do running "$pid" || break; sleep 0.1; done
    running "$pid" && kill -TERM "$pid"
  fi
  for pidfile in "$run"/instance-*.pid; do
    [[ -f "$pidfile" ]] || continue
    pid=$(cat "$pidfile")
    kill -TERM "$pid" 2>/dev/null || continue
    # Not our child here: wait for it to be gone.
    for _ in $(seq 300); do running "$pid" || break; sleep 0.1; done
    running "$pid" && { echo "serve-cluster.sh: $pid did not stop" >&2; status=1; }
    rm -f "$pidfile"
  done
  return $status
}

case "$command" in
  start) start ;;
  publish) publish ;;
  stop) stop ;;
  *) usage ;;
esac
