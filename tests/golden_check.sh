#!/usr/bin/env bash
# golden_check.sh TOV_CORE PLUGIN GOLDEN_DIR
# Records every game listed in GOLDEN_DIR/traces.txt afresh and compares the
# trace whole with its golden file, then replays each golden file.
set -uo pipefail
core=$1 plugin=$2 dir=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
while read -r file args; do
  [[ -z "$file" || "$file" == \#* ]] && continue
  golden="$dir/$file"
  if [[ ! -f "$golden" ]]; then
    echo "FAIL $file: no golden trace; run ./scripts/golden to record it"
    failed=1
    continue
  fi
  fresh="$work/$file"
  # shellcheck disable=SC2086 # the table's arguments are words
  if ! "$core" --sim $args --trace "$fresh" "$plugin" >/dev/null 2>"$work/stderr"; then
    echo "FAIL $file: tov-core --sim $args did not run to its end: $(cat "$work/stderr")"
    failed=1
    continue
  fi
  if ! cmp -s "$golden" "$fresh"; then
    # "a b differ: byte N, line L", or "EOF on a after byte N, line L".
    line=$(cmp "$golden" "$fresh" 2>&1 | sed -n 's/.*line \([0-9]*\).*/\1/p')
    line=${line:-1}
    if cmp "$golden" "$fresh" 2>&1 | grep -q "EOF on $golden"; then line=$((line + 1)); fi
    echo "FAIL $file: the game's trace differs from its golden trace at line $line (tov-core --sim $args)"
    echo "  expected: $(sed -n "${line}p" "$golden" | cut -c1-2000)"
    echo "  got:      $(sed -n "${line}p" "$fresh" | cut -c1-2000)"
    echo "  If the change is intended, run ./scripts/golden and review the diff of tests/golden like code."
    failed=1
  fi
  if ! out=$("$core" --replay "$golden" "$plugin" 2>&1); then
    echo "FAIL $file: the golden trace does not replay:"
    echo "$out" | cut -c1-2000
    failed=1
  fi
done <"$dir/traces.txt"
[[ $failed -eq 0 ]] && echo "every golden trace recorded the same and replayed"
exit $failed
