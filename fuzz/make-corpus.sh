#!/usr/bin/env bash
# Fills OUT/<target>/ with the seeds of each fuzz target: the checked-in
# seeds plus the pages the tests and the demo site serve. libFuzzer writes
# what it finds into these folders, so they are copies, never the seeds.
# Usage: fuzz/make-corpus.sh OUT
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:?usage: make-corpus.sh OUT}"

mkdir -p "$out"/fuzz_linkscan "$out"/fuzz_url "$out"/fuzz_textcount "$out"/fuzz_replyheaders
cp "$root"/fuzz/seeds/linkscan/* "$out"/fuzz_linkscan/
cp "$root"/fuzz/seeds/url/* "$out"/fuzz_url/
cp "$root"/fuzz/seeds/textcount/* "$out"/fuzz_textcount/
cp "$root"/fuzz/seeds/replyheaders/* "$out"/fuzz_replyheaders/

n=0
while IFS= read -r -d '' page; do
    n=$((n + 1))
    cp "$page" "$out/fuzz_linkscan/page-$n"
    # The demo's search words ahead of its pages.
    { printf 'stone\n'; cat "$page"; } >"$out/fuzz_textcount/page-$n"
done < <(find "$root/tests/data" "$root/demo/site" -name '*.htm' -print0 | sort -z)

# Every quoted absolute address on those pages, as an address on its own.
grep -ohE '"https?://[^"]*"' "$root"/tests/data/*.htm "$root"/demo/site -r 2>/dev/null |
    tr -d '"' | sort -u | head -n 50 | while IFS= read -r address; do
    n=$((n + 1))
    printf '%s' "$address" >"$out/fuzz_url/address-$n"
done
