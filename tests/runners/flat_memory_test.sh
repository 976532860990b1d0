#!/bin/sh
# The heap a walk needs beyond the machine is the same for 1,000 paths as for
# 100,000, in each mode: nothing the walk keeps grows with the machine.
# usage: flat_memory_test.sh FERRULE_MEASURE
measure=$1
for mode in query enable disable; do
  small=$("$measure" 1000 $mode 2>&1 | sed -n 's/.*walk_peak_bytes //p')
  large=$("$measure" 100000 $mode 2>&1 | sed -n 's/.*walk_peak_bytes //p')
  echo "$mode: $small bytes for 1,000 paths, $large bytes for 100,000"
  [ -n "$small" ] && [ "$small" = "$large" ] || exit 1
done
