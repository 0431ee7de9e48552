#!/usr/bin/env bash
# Prints, for each folder of src/, the folders its files include from, and
# fails when a folder includes from one in a higher layer.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../src"
declare -A layer=([runtime]=1 [platform]=1 [host_abi]=2 [image]=2 [params]=2 [color]=2
                  [analysis]=3 [effects]=3 [gl]=4 [host]=5 [preview]=6 [ui]=6 [resources]=6)
bad=0
for dir in */; do
  dir=${dir%/}
  [ -n "${layer[$dir]:-}" ] || continue
  used=$(grep -ho '#include "[a-z_]*/' "$dir" -r 2>/dev/null | sed 's/#include "//; s#/##' | sort -u | grep -vx "$dir" | tr '\n' ' ')
  echo "$dir (layer ${layer[$dir]}): ${used:-nothing}"
  for u in $used; do
    if [ -n "${layer[$u]:-}" ] && [ "${layer[$u]}" -gt "${layer[$dir]}" ]; then
      echo "  $dir includes from $u, a higher layer:"; grep -rn "#include \"$u/" "$dir" | sed 's/^/    /'; bad=1
    fi
  done
done
exit $bad
