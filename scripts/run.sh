#!/usr/bin/env bash
# Monitors DIR (default: the current directory) with vigil and shows what its cache holds:
#   bash scripts/run.sh [DIR]
# Installs what the build needs when it is missing (apt-get, when run as root), builds the
# Release programs (scripts/build.sh), starts the monitor on DIR with the platform's provider and
# a working directory under the user's cache directory, shows the progress of the initial build,
# prints the cache's statistics and queries to try, and on Ctrl+C stops the monitor, which
# removes its cache and its process-ID file.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
say() { printf 'run.sh: %s\n' "$*"; }
die() {
    say "$*" >&2
    exit 2
}

case "$(uname -s)" in
    Linux) provider=inotify ;;
    *) die "runs on Linux; on Windows start vigil.exe with the rdcw provider as README shows" ;;
esac

target=${1:-.}
[ -d "$target" ] || die "$target is not a directory"
# The physical path: a monitored root may not be a symbolic link.
dir=$(cd "$target" && pwd -P)
case "$dir" in *';'*) die "$dir holds ';', which separates the paths of vigil's path list" ;; esac

# --- what the build needs ----------------------------------------------------------------------
missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v g++ >/dev/null || missing+=(g++)
command -v make >/dev/null || missing+=(make)
[ -f /usr/include/CLI/CLI.hpp ] || missing+=(libcli11-dev)
[ -f /usr/include/nlohmann/json.hpp ] || missing+=(nlohmann-json3-dev)
if [ ${#missing[@]} -gt 0 ]; then
    [ "$(id -u)" -eq 0 ] || die "missing ${missing[*]}; install them or run as root"
    say "installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q </dev/null
    apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
fi

bin=$root/build/release/bin
say "building (Release) into $bin"
bash "$root/scripts/build.sh" >/dev/null
for program in vigil vigil-query "$provider.so"; do
    [ -e "$bin/$program" ] || die "the build did not make $bin/$program"
done

# --- the working directory: cache, process-ID file, log --------------------------------------
name=$(basename "$dir" | tr -c 'A-Za-z0-9._\n-' '_')
[ "$name" != _ ] || name=root
key=$(printf '%s' "$dir" | sha256sum | cut -c1-12)
work=${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/vigil/$name-$key
# A working directory inside the monitored tree would have vigil watch its own log and cache.
inside() { [ "$dir" = / ] || case "$1/" in "$dir"/*) true ;; *) false ;; esac; }
if inside "$work"; then
    work=${TMPDIR:-/tmp}/vigil-$(id -u)/$name-$key
    inside "$work" && say "warning: the working directory $work lies inside $dir"
fi
mkdir -p "$work"
work=$(cd "$work" && pwd -P)
monitor=("$bin/vigil" dirs files "$work" "$provider" "$dir")
query=("$bin/vigil-query" "$work" dirs files)
pidfile=$work/mon_proc.id
log=$work/vigil.log

show_queries() {
    local q
    printf -v q '%q ' "${query[@]}"
    q=${q% }
    cat <<EOF

Queries to try (exit code 0: found, 1: nothing found, 3: the monitor is busy):
  $q find '{*.md,*.txt}'
  $q --count find '*.cpp' --under $(printf '%q' "$dir")
  $q where '[SIZE] > 1000000 && [FILENAME] == "*.log"'
  $q ls $(printf '%q' "$dir")
EOF
}

running_pid() {  # the pid in the process-ID file when that process runs
    [ -f "$pidfile" ] || return 1
    local pid
    pid=$(od -An -tu4 -N4 "$pidfile" | tr -d ' ')
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && echo "$pid"
}

if pid=$(running_pid); then
    say "a monitor already runs for $dir (pid $pid); stop it with:"
    printf '  %q' "${monitor[@]}" stop
    printf '\n'
    "${query[@]}" --wait 30000 stats || true
    show_queries
    exit 0
fi

# --- start, progress, stop -------------------------------------------------------------------
# A fresh log, so that the progress shown is this run's.
[ ! -f "$log" ] || mv -f "$log" "$log.1"
say "monitoring $dir (provider $provider, working directory $work)"
# A session of its own: Ctrl+C reaches this script, which stops the monitor the regular way.
starter=()
command -v setsid >/dev/null && starter=(setsid)
"${starter[@]}" "${monitor[@]}" start </dev/null >>"$work/vigil.out" 2>&1 &
vigil_pid=$!

stopping=0
stop_monitor() {
    [ "$stopping" -eq 0 ] || return 0
    stopping=1
    kill -0 "$vigil_pid" 2>/dev/null || return 0
    printf '\n'
    say "stopping the monitor"
    "${monitor[@]}" stop >/dev/null 2>&1 || true
    for _ in $(seq 600); do
        kill -0 "$vigil_pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$vigil_pid" 2>/dev/null; then
        say "the monitor did not stop within a minute; pid $vigil_pid left running" >&2
        return 1
    fi
    wait "$vigil_pid" 2>/dev/null || true
    local left=()
    for file in "$pidfile" "$work/dirs.dat" "$work/files.dat"; do
        [ ! -e "$file" ] || left+=("$(basename "$file")")
    done
    [ -s "$work/vigil.out" ] || rm -f "$work/vigil.out"
    if [ ${#left[@]} -eq 0 ]; then
        say "stopped; cache and process-ID file removed (log: $log)"
    else
        say "stopped, but ${left[*]} remained in $work" >&2
        return 1
    fi
}
trap 'stop_monitor; exit 130' INT
trap 'stop_monitor; exit 143' TERM HUP
trap 'stop_monitor' EXIT

# The process-ID file appears once the initial build is complete; until then the build logs a
# progress line at most once a second.
shown=
while [ ! -f "$pidfile" ]; do
    if ! kill -0 "$vigil_pid" 2>/dev/null; then
        say "the monitor ended during start-up; the end of its log:" >&2
        tail -n 15 "$log" "$work/vigil.out" 2>/dev/null >&2 || true
        exit 1
    fi
    line=$(grep -a 'FS_Cache::scan - progress' "$log" 2>/dev/null | tail -n 1 |
        sed 's/.*progress: //' || true)
    if [ -n "$line" ] && [ "$line" != "$shown" ]; then
        say "initial build: $line"
        shown=$line
    fi
    sleep 0.2
done
say "initial build complete"
"${query[@]}" --wait 60000 stats || true
show_queries
printf '\nThe monitor keeps the cache current; Ctrl+C stops it.\n'
set +e
wait "$vigil_pid"
code=$?
set -e
if [ "$stopping" -eq 0 ]; then
    say "the monitor ended by itself (exit code $code); the end of its log:" >&2
    tail -n 15 "$log" 2>/dev/null >&2 || true
    exit 1
fi
