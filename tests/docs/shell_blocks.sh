#!/usr/bin/env bash
# Runs every shell block (```sh) of docs/*.md as a reader would after the
# README's two commands: in a scratch copy of the project's examples whose
# build/ is the tested build and whose run/pyroshock/ holds what
# `scripts/run-example pyroshock` leaves there (the same answers, without its
# install and build).  Each page starts afresh from that state and runs its
# blocks in the page's order, each block from the top of the copy under
# `bash -e -o pipefail`; every block must end with status 0.
#
# A block right after the line
#   <!-- docs-test: skip: REASON -->
# is not run.  Only for what a copy of the examples cannot do: build or
# install the project, run its benchmarks or its own test suite.
#
# Usage: shell_blocks.sh SOURCE_DIR BUILD_DIR SCRATCH_DIR
# Exit status 77 (skipped) when gnuplot or jq is missing, unless
# QUOREL_REQUIRE_GNUPLOT is set.
set -uo pipefail
source_dir=$(cd "$1" && pwd)
build_dir=$(cd "$2" && pwd)
scratch=$3

for tool in gnuplot jq; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is not installed: the docs' examples need it" >&2
    [ -n "${QUOREL_REQUIRE_GNUPLOT:-}" ] && exit 1
    exit 77
  fi
done

rm -rf -- "$scratch"
mkdir -p -- "$scratch/base"
cp -R -- "$source_dir/examples" "$scratch/base/examples"
ln -s -- "$build_dir" "$scratch/base/build"
mkdir -p "$scratch/base/run/pyroshock"
(cd "$scratch/base/run/pyroshock" && cp ../../examples/pyroshock.txt . &&
  ../../build/quorel <../../examples/pyroshock.answers >/dev/null) || {
  echo "the pyroshock example failed" >&2
  exit 1
}

failures=0
blocks=0
skipped=0
for page in "$source_dir"/docs/*.md; do
  name=$(basename "$page" .md)
  work="$scratch/$name"
  cp -a -- "$scratch/base" "$work"   # the times too: quorel-plot compares them
  # Each block as its first line's number, a line end and its text, ended by
  # a NUL; a skipped block as "skip" and its line number.
  while IFS= read -r -d '' block; do
    if [[ $block == skip* ]]; then
      skipped=$((skipped + 1))
      continue
    fi
    line=${block%%$'\n'*}
    text=${block#*$'\n'}
    blocks=$((blocks + 1))
    if ! output=$(cd "$work" && bash -e -o pipefail -c "$text" 2>&1 </dev/null); then
      echo "docs/$name.md:$line: this block failed:" >&2
      printf '%s\n' "$text" | sed 's/^/    /' >&2
      echo "  its output ends:" >&2
      printf '%s\n' "$output" | tail -n 20 | sed 's/^/    /' >&2
      failures=$((failures + 1))
    fi
  done < <(awk '
    /^```/ {
      if (inside) {
        if (shell) printf "%s%c", text, 0
        inside = 0
        next
      }
      inside = 1
      shell = ($0 == "```sh")
      if (shell && skip) { printf "skip %d%c", NR, 0; shell = 0 }
      text = (NR + 1) "\n"
      skip = 0
      next
    }
    inside { text = text $0 "\n"; next }
    /^<!-- docs-test: skip: .+ -->$/ { skip = 1; next }
    NF { skip = 0 }
  ' "$page")
done
echo "$blocks shell blocks of docs/*.md run ($skipped skipped as marked), $failures failed"
[ "$blocks" -gt 0 ] && [ "$failures" -eq 0 ]
