#!/bin/sh
# Validates the forge's CI workflow; and, so that a validator that passes
# anything cannot hide a broken one, that the same workflow with a key
# misspelt (runs_on) is refused.
# usage: check_workflow.sh ACTION-VALIDATOR WORKFLOW
set -e
validator=$1 workflow=$2
"$validator" "$workflow"
broken=$(mktemp --suffix=.yml)
trap 'rm -f "$broken"' EXIT
sed 's/runs-on:/runs_on:/' "$workflow" >"$broken"
if "$validator" "$broken" >/dev/null 2>&1; then
  echo "FAIL $validator took a workflow with runs_on for runs-on"
  exit 1
fi
echo "$workflow: valid; with runs_on for runs-on: refused"
