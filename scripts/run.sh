#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it on its default data folder
# (build/data/ beside the executable). Arguments are passed on, e.g. "book 家庭.db".
# Unless QUORVANE_BASE_URL points elsewhere, the web service is started on the development port
# (127.0.0.1:8098, data in build/service/) when nothing listens there, and stopped when the
# program ends: the last program of this run, since the program starts itself again to switch books,
# restore, import or reset.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

# Sources added since the last build are not seen by the existing moc/uic run; make it look again.
find build build-asan -path '*_autogen*' -name timestamp -delete 2>/dev/null || true
cmake -S . -B build -G Ninja
cmake --build build -j"$(nproc)" --target quorvane quorvane-service

listening() {
    (exec 3<>/dev/tcp/127.0.0.1/8098) 2>/dev/null
}

service_pid=
if [ -z "${QUORVANE_BASE_URL:-}" ] && ! listening; then
    mkdir -p build/service
    # The service reads build/service/quorvane-service.json (which need not exist) at every request:
    # an update record written there is offered to the program (README, "Synchronisation service").
    build/quorvane-service --port 8098 --data build/service/quorvane-service.db \
        --config build/service/quorvane-service.json >>build/service/quorvane-service.log 2>&1 &
    service_pid=$!
    trap 'kill "$service_pid" 2>/dev/null || true' EXIT
    for _ in $(seq 50); do
        listening && break
        kill -0 "$service_pid" 2>/dev/null || { echo "quorvane-service did not start; see build/service/quorvane-service.log" >&2; break; }
        sleep 0.1
    done
fi

# The programs of this run carry a mark in their environment, and so does every program they start
# again in their place; the run lasts while any of them is alive. Helpers they spawn inherit the
# mark too (a D-Bus daemon autolaunched where the session has no bus outlives them all), so only
# processes of the program itself count; one whose file was rebuilt meanwhile still does.
run_mark="$$-$(date +%s%N)"
program=$(realpath build/quorvane)
program_alive() {
    local environ exe
    for environ in $(grep -lzxF "QUORVANE_RUN=$run_mark" /proc/[0-9]*/environ 2>/dev/null); do
        exe=$(readlink "${environ%/environ}/exe" 2>/dev/null) || continue
        [ "${exe% (deleted)}" = "$program" ] && return 0
    done
    return 1
}

status=0
QUORVANE_RUN="$run_mark" build/quorvane "$@" || status=$?
if [ -n "$service_pid" ]; then
    while program_alive; do
        sleep 1
    done
fi
exit "$status"
