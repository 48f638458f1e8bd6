#!/usr/bin/env bash
# Checks a built plugin binary: exactly one exported function,
# load_arx_vyk_toxicity, and no dependency on a shared C++ runtime (whose
# operator new would escape the library's memory accounting).
set -euo pipefail
kind=$1 binary=$2 objdump=${3:-objdump}
fail() { echo "check_exports: $*" >&2; exit 1; }

if [ "$kind" = linux ]; then
  exports=$(nm -D --defined-only "$binary" | awk '{print $3}' | sort)
  [ "$exports" = load_arx_vyk_toxicity ] || fail "exports are: $(echo $exports)"
  needed=$(readelf -d "$binary" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p')
  if echo "$needed" | grep -E 'libstdc\+\+|libgcc_s'; then fail "needs a shared C++ runtime"; fi
  if nm -D --undefined-only "$binary" | grep -E ' _Zn[wa]|_Zd[la]'; then
    fail "operator new/delete come from outside the library"
  fi
else
  dump=$("$objdump" -p "$binary")
  exports=$(echo "$dump" | awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&/^[ \t]*\[/{print $NF;next} t{t=0}' | sort)
  [ "$exports" = load_arx_vyk_toxicity ] || fail "exports are: $(echo $exports)"
  imports=$(echo "$dump" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
  for dll in $imports; do
    case $dll in kernel32.dll|msvcrt.dll) ;; *) fail "imports $dll";; esac
  done
fi
echo "check_exports: $binary exports only load_arx_vyk_toxicity"
