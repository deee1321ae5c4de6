#!/usr/bin/env bash
# Pictures of the real program as a user sees it, for looking at them:
#
#     tools/shots/program-shots.sh [OUT]        (default OUT: build/program-shots)
#
# Builds what it needs in build/, writes a 10,000-bill book with the benchmark's generator into a
# private copy of the program (books and settings in its own data/ folder, a home of its own), starts
# a quorvane-service on a free port with an account on it, and runs the program on a virtual screen
# of 1280 × 800 with LANG=zh_CN.UTF-8. A library loaded into the program (programdriver.cpp) walks
# through it (the import dialog with a bank statement written here) at 1024 × 700 and then maximised and saves the pictures as OUT/<size>-<what>.png, with
# its steps in OUT/driver.log. Nothing of the user's own books, settings or service is touched.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
out=$(realpath -m "${1:-build/program-shots}")

if [ ! -f build/build.ninja ]; then
    CMAKE_CXX_COMPILER_LAUNCHER=$(command -v ccache || true) cmake -S . -B build -G Ninja
fi
cmake --build build -j"$(nproc)" --target quorvane quorvane-service quorvane-bookgen quorvane_shotdriver

work=$(mktemp -d)
service_pid=
cleanup() {
    [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A copy of the program counts as not installed: its books and settings live in app/data/.
mkdir -p "$work/app/data" "$work/home" "$work/runtime" "$out"
chmod 700 "$work/runtime"
rm -f "$out"/*.png "$out/driver.log"
cp build/quorvane "$work/app/quorvane"
build/bench/quorvane-bookgen "$work/app/data/演示.db" --bills 10000 --years 5 >/dev/null

# A bank statement of 250 rows in GB18030, as Chinese banks write them, for the import dialog.
statement="$work/银行流水.csv"
{
    echo "交易日期,交易金额,对方户名,摘要"
    for i in $(seq 250); do
        printf '2024-%02d-%02d,%s%d.%02d,商户%d,%s\n' $((i % 12 + 1)) $((i % 28 + 1)) \
            "$([ $((i % 5)) -eq 0 ] && echo "" || echo "-")" $((i * 37 % 900 + 3)) $((i * 13 % 100)) $((i % 17)) \
            "$([ $((i % 5)) -eq 0 ] && echo "工资" || echo "消费")"
    done
} | iconv -f UTF-8 -t GB18030 >"$statement"

# The service, on a port of its own, with the account the driver enters.
build/quorvane-service --add-user 演示用户 演示密码 --data "$work/service.db" >/dev/null
build/quorvane-service --port 0 --data "$work/service.db" >"$work/service.out" 2>&1 &
service_pid=$!
url=
for _ in $(seq 100); do
    url=$(sed -n 's/^quorvane-service listening on //p' "$work/service.out")
    [ -n "$url" ] && break
    sleep 0.1
done
[ -n "$url" ] || { echo "quorvane-service did not start:" >&2; cat "$work/service.out" >&2; exit 1; }

status=0
xvfb-run -a -s "-screen 0 1280x800x24" env -u QT_QPA_PLATFORM -u QT_XCB_GL_INTEGRATION HOME="$work/home" \
    XDG_RUNTIME_DIR="$work/runtime" LANG=zh_CN.UTF-8 FC_LANG=zh-cn QUORVANE_BASE_URL="$url" QUORVANE_SHOTS_OUT="$out" \
    QUORVANE_SHOTS_USER=演示用户 QUORVANE_SHOTS_PASSWORD=演示密码 QUORVANE_SHOTS_IMPORT="$statement" LD_PRELOAD="$root/build/libquorvane_shotdriver.so" \
    "$work/app/quorvane" book 演示.db || status=$?

grep -E "timed out|no button|no item|could not|failed|gave up" "$out/driver.log" >&2 || true
echo "$(ls "$out"/*.png 2>/dev/null | wc -l) pictures in $out (steps in $out/driver.log)"
exit "$status"
