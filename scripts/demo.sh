#!/usr/bin/env bash
# A whole search without network or display: serves the sample site in
# demo/site on 127.0.0.1, searches it for two keywords with netquarry-cli,
# prints the result grid and writes the report into demo/out.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --parallel "$(nproc)" --target netquarry-cli serve-site >/dev/null

address_file=$(mktemp)
build/demo/serve-site demo/site >"$address_file" &
server=$!
trap 'kill "$server" 2>/dev/null || true; rm -f "$address_file"' EXIT
for _ in $(seq 50); do
    [ -s "$address_file" ] && break
    sleep 0.1
done
site=$(head -n 1 "$address_file")

echo "Searching $site for \"granite marble\" (the counts to expect are in demo/expected.txt)"
build/src/cli/netquarry-cli --depth 5 --report demo/out "${site}index.htm" granite marble
echo "The report is in demo/out/results.htm"
