#!/bin/sh
# Runs ferrule under valgrind on a copy of the sample machine: any memory error
# or leak fails, and so does an exit status other than the expected one.
# usage: memcheck_test.sh EXPECTED-STATUS FERRULE SAMPLE-MACHINE ARGUMENTS...
expected=$1 ferrule=$2 sample=$3
shift 3
machine=$(mktemp)
trap 'rm -f "$machine"' EXIT
cp "$sample" "$machine"
STANDIN_MACHINE=$machine valgrind --leak-check=full --errors-for-leak-kinds=definite,indirect \
  --error-exitcode=99 -q "$ferrule" "$@" >/dev/null
status=$?
[ "$status" -eq "$expected" ] || { echo "exit status $status, expected $expected"; exit 1; }
