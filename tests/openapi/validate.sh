#!/bin/sh
# Writes `tov-core api --format openapi` of each plug-in into DIR and passes
# them all through the OpenAPI validator.
#   validate.sh NODE TOV-CORE DIR PLUGIN.so...
set -eu
node=$1 core=$2 dir=$3
shift 3
for plugin; do
  out="$dir/$(basename "$plugin" .so).openapi.json"
  "$core" api --format openapi "$plugin" >"$out"
  set -- "$@" "$out"
  shift
done
exec "$node" "$(dirname "$0")/check.mjs" "$@"
