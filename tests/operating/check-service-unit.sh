#!/usr/bin/env bash
# Checks the systemd unit of quorvane-service: systemd takes it without a word, and every option its
# ExecStart passes is one the service knows. Usage: check-service-unit.sh SERVICE-PROGRAM UNIT.in
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
echo "the unit is sound"
