#!/usr/bin/env bash
# Prints "N passed, N failed" over the test reports of the given folders.
# Each folder holds ctest's JUnit file (ctest.xml) and one GoogleTest XML
# report per test program. GoogleTest cases are counted one by one; a test
# program that failed without a failing case (a crash, a sanitizer report at
# exit) counts as one failure, and a ctest entry without a report as one test.
set -u
passed=0
failed=0
for dir in "$@"; do
  junit="$dir/ctest.xml"
  [ -f "$junit" ] || { echo "no ctest report in $dir" >&2; failed=$((failed + 1)); continue; }
  while IFS=$'\t' read -r name result; do
    report="$dir/$name.xml"
    cases=0; bad=0
    if [ -f "$report" ]; then
      header=$(grep -m1 '<testsuites ' "$report")
      cases=$(sed -n 's/.* tests="\([0-9]*\)".*/\1/p' <<<"$header")
      f=$(sed -n 's/.* failures="\([0-9]*\)".*/\1/p' <<<"$header")
      e=$(sed -n 's/.* errors="\([0-9]*\)".*/\1/p' <<<"$header")
      d=$(sed -n 's/.* disabled="\([0-9]*\)".*/\1/p' <<<"$header")
      bad=$(( ${f:-0} + ${e:-0} ))
      cases=$(( ${cases:-0} - ${d:-0} ))
    fi
    if [ "$cases" -eq 0 ]; then
      if [ "$result" = pass ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
      continue
    fi
    passed=$((passed + cases - bad))
    failed=$((failed + bad))
    if [ "$result" != pass ] && [ "$bad" -eq 0 ]; then failed=$((failed + 1)); fi
  done < <(awk '
    /<testcase / {
      match($0, /name="[^"]*"/); name = substr($0, RSTART + 6, RLENGTH - 7)
      result = ($0 ~ /status="run"/) ? "pass" : "fail"
      open = name; res[name] = result
      if ($0 ~ /\/>[[:space:]]*$/) open = ""
      next
    }
    /<failure/ && open != "" { res[open] = "fail" }
    /<\/testcase>/ { open = "" }
    END { for (n in res) printf "%s\t%s\n", n, res[n] }' "$junit")
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
