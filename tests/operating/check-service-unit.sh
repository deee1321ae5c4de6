#!/usr/bin/env bash
# Checks the systemd unit of quorvane-service: systemd takes it without a word, every option its
# ExecStart passes is one the service knows, and systemd rates what the service may do at "OK" (an
# exposure of 2.0 or less). Usage: check-service-unit.sh SERVICE-PROGRAM UNIT.in
set -euo pipefail
service=$1
unit_template=$2
if ! command -v systemd-analyze >/dev/null; then
    echo "systemd-analyze is not installed: the unit is not checked here"
    exit 77
fi
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
unit="$folder/quorvane-service.service"
sed "s#@QUORVANE_SERVICE_PROGRAM@#$service#" "$unit_template" >"$unit"
if ! said=$(systemd-analyze verify "$unit" 2>&1) || [ -n "$said" ]; then
    echo "systemd-analyze verify: $said"
    exit 1
fi
help=$("$service" --help)
for option in $(sed -n 's/^ExecStart=//p' "$unit" | grep -oE -- '--[a-z][a-z-]*'); do
    if ! grep -qE -- "(^|[^a-z-])$option([^a-z-]|$)" <<<"$help"; then
        echo "the unit passes $option, which quorvane-service does not know"
        exit 1
    fi
done
said=$(systemd-analyze security --offline=true "$unit" 2>&1 || true)
rating=$(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p' <<<"$said")
if [ -z "$rating" ]; then
    echo "systemd-analyze security gave no rating: $said"
    exit 1
fi
if ! awk -v r="$rating" 'BEGIN { exit !(r <= 2.0) }'; then
    echo "systemd-analyze security rates the unit $rating, above 2.0:"
    grep '✗' <<<"$said"
    exit 1
fi
echo "the unit is sound, its exposure $rating"
