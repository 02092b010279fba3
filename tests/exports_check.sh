#!/bin/sh
# The plug-in must export exactly one function, the entry.
set -eu
exports=$(nm -D --defined-only "$1" | awk '{print $2 " " $3}')
if [ "$exports" != "T load_tov_champ_select_legacy" ]; then
  echo "unexpected dynamic exports of $1:"
  echo "$exports"
  exit 1
fi
