#!/usr/bin/env bash
# scripts/build on a tree it has configured before: the options given now
# take effect, and one not given again falls back to its default. Runs the
# script on a tiny project that only records what it was configured with.
#   BuildOptions.sh <checkout>
set -euo pipefail
root="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir "$work/project"
cat >"$work/project/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.25)
project(Options NONE)
option(TREVLIN_WERROR "" OFF)
set(TREVLIN_SANITIZE "" CACHE STRING "")
file(WRITE ${CMAKE_BINARY_DIR}/options.txt "werror=${TREVLIN_WERROR} sanitize=${TREVLIN_SANITIZE}")
EOF

failed=0
check() {  # check <expected> <environment and arguments...>
  local expected="$1"
  shift
  env TREVLIN_SOURCE_DIR="$work/project" TREVLIN_BUILD_DIR="$work/build" "$@" >/dev/null
  local got
  got="$(cat "$work/build/options.txt")"
  if [ "$got" != "$expected" ]; then
    echo "after: $*" >&2
    echo "  expected: $expected" >&2
    echo "  got:      $got" >&2
    failed=1
  fi
}

unset TREVLIN_WERROR
check "werror=OFF sanitize=" "$root/scripts/build"
check "werror=ON sanitize=" TREVLIN_WERROR=ON "$root/scripts/build"
check "werror=OFF sanitize=address" "$root/scripts/build" -DTREVLIN_SANITIZE=address
check "werror=OFF sanitize=" "$root/scripts/build"
exit "$failed"
