#!/usr/bin/env bash
# Prints the size of the tests against the size of the product, in non-blank
# lines of the files git tracks, and their ratio (the goal is at most 0.35).
# Tests: everything under tests/ and scripts/tests/, test data included, fuzz
# corpora left out. Product: every top-level folder that is not tests, samples,
# benchmarks, build support or documentation. Binary files count on neither side.
# With --max R it fails (exit 1) when the tests are more than R times the product.
set -eu
cd "$(dirname "$0")/.."

count() {
  # -I skips binary files; --null keeps odd file names whole.
  git ls-files -z "$@" | xargs -0 -r grep -hvI -e '^[[:space:]]*$' -- 2>/dev/null | wc -l
}

not_product='^(tests|scripts|bench|tools|cmake|docs|build|\.ci|\.github)$'
product_dirs=()
for d in $(git ls-files | grep / | cut -d/ -f1 | sort -u); do
  [[ $d =~ $not_product ]] || product_dirs+=("$d/")
done

tests=$(count tests scripts/tests ':!:*/corpus/*')
product=$(count "${product_dirs[@]}")
ratio=$(awk -v t="$tests" -v p="$product" 'BEGIN { printf "%.3f", p ? t / p : 0 }')
echo "test size: $tests test lines, $product product lines (${product_dirs[*]}): ratio $ratio"
if [ "${1:-}" = --max ]; then
  awk -v t="$tests" -v p="$product" -v m="$2" 'BEGIN { exit !(t <= m * p) }' || {
    echo "test size: more than $2 of the product"
    exit 1
  }
fi
