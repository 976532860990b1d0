#!/bin/sh
# Validates the forge's CI workflow; and, so that a validator that passes
# anything cannot hide a broken one, that the same workflow with a key
# misspelt (runs_on) is refused. A runner image that the forge has retired
# (a job on it never starts, so the workflow can never pass) is refused too,
# and so is the workflow with one put in.
# usage: workflow_test.sh ACTION-VALIDATOR WORKFLOW
set -e
validator=$1 workflow=$2
# Retired: windows-2019 on 2025-06-30, ubuntu-20.04 on 2025-04-15, ubuntu-18.04,
# macos-12 and macos-11 before them.
retired='windows-2016|windows-2019|ubuntu-18\.04|ubuntu-20\.04|macos-10\.15|macos-11|macos-12'
check_images() {
  if grep -nE "(^|[^0-9A-Za-z.-])($retired)([^0-9A-Za-z.-]|$)" "$1"; then
    echo "FAIL $1 names a retired runner image"
    return 1
  fi
}
"$validator" "$workflow"
check_images "$workflow"
broken=$(mktemp --suffix=.yml)
trap 'rm -f "$broken"' EXIT
sed 's/runs-on:/runs_on:/' "$workflow" >"$broken"
if "$validator" "$broken" >/dev/null 2>&1; then
  echo "FAIL $validator took a workflow with runs_on for runs-on"
  exit 1
fi
sed 's/windows-2022/windows-2019/' "$workflow" >"$broken"
if check_images "$broken" >/dev/null; then
  echo "FAIL a workflow on windows-2019 was taken"
  exit 1
fi
echo "$workflow: valid, on current runner images; with runs_on for runs-on, or on windows-2019: refused"
