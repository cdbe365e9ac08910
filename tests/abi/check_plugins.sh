#!/usr/bin/env bash
# Checks every built plug-in with readelf: ELF class and machine (ELF32 i386
# in a 32-bit build), SONAME NAME.plgglx, exactly plgFunction@@PLG and
# plgVersion@@PLG exported, and imports only from libax/libplg (bound to
# v7.0) and the C/C++ runtime (plus the sanitizer runtimes where used).
# usage: check_plugins.sh PLUGIN_DIR POINTER_SIZE NAME...
set -u
dir=$1; ptr=$2; shift 2
fail=0
complain() { echo "$1: $2"; fail=1; }
for name in "$@"; do
  f=$dir/$name.plgglx
  [ -f "$f" ] || { complain "$name" "missing $f"; continue; }
  header=$(readelf -h "$f")
  if [ "$ptr" = 4 ]; then
    grep -q 'Class:.*ELF32' <<<"$header" || complain "$name" "not ELF32"
    grep -q 'Machine:.*80386' <<<"$header" || complain "$name" "not i386"
  else
    grep -q 'Class:.*ELF64' <<<"$header" || complain "$name" "not ELF64"
  fi
  soname=$(readelf -d "$f" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
  [ "$soname" = "$name.plgglx" ] || complain "$name" "SONAME is '$soname'"
  for lib in $(readelf -d "$f" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    case "$lib" in
      libax.so|libplg.so|libstdc++.so.*|libm.so.*|libgcc_s.so.*|libc.so.*) ;;
      libasan.so.*|libubsan.so.*) [ "$ptr" = 8 ] || complain "$name" "sanitizer runtime in the deliverable" ;;
      *) complain "$name" "needs $lib" ;;
    esac
  done
  syms=$(readelf --dyn-syms -W "$f" | awk 'NR>3 && $7 != "UND" && $5 != "LOCAL" && $8 != "" {print $8}' | sort)
  exports=$(grep -v -E '^(PLG|'"$name"'\.plgglx)$' <<<"$syms" | tr '\n' ' ')
  [ "$exports" = "plgFunction@@PLG plgVersion@@PLG " ] || complain "$name" "exports '$exports'"
  # Every import from the host libraries is bound to v7.0.
  imports=$(readelf --dyn-syms -W "$f" | awk '$7 == "UND" && $8 != "" {print $8}')
  while read -r sym; do
    [ -n "$sym" ] || continue
    case "$sym" in
      ax*|plg*) [[ "$sym" == *@v7.0* ]] || complain "$name" "import $sym not bound to v7.0" ;;
    esac
  done <<<"$imports"
  readelf -V "$f" | grep -q "Name: PLG" || complain "$name" "no version PLG defined"
done
if [ $fail = 0 ]; then echo "$# plug-ins checked"; fi
exit $fail
