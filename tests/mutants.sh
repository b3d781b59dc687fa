#!/usr/bin/env bash
# Measures the test suite: puts one plausible fault at a time into a scratch copy of the sources,
# builds, runs every test, and tells whether the suite caught (killed) the fault. Prints the kill
# rate of each list and of all. Not run by CI: it takes several minutes.
#
# The faults live in tests/mutants/*.txt, one list a file: first.txt was written by the tests'
# own authors; each blind-N.txt by someone who had read the code but not the tests, before the
# tests were sharpened against it.
#
# Usage: tests/mutants.sh [LIST...] [--only PATTERN] [--tests REGEX]
#   LIST     a list's name (blind-1) or file; all lists when none is given
#   PATTERN  only the faults whose description matches
#   REGEX    only the tests whose names match (ctest -R): quicker, and the same verdicts when
#            every test that runs the faults' code matches
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
only=""
tests=""
lists=()
while (($#)); do
  case $1 in
    --only) only=${2:?--only needs a pattern}; shift 2 ;;
    --tests) tests=${2:?--tests needs a regular expression}; shift 2 ;;
    -h | --help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) [[ -f $1 ]] && lists+=("$1") || lists+=("$src/tests/mutants/$1.txt"); shift ;;
  esac
done
((${#lists[@]})) || lists=("$src"/tests/mutants/*.txt)
for list in "${lists[@]}"; do [[ -f $list ]] || { echo "no such list: $list" >&2; exit 2; }; done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The lists as they are now: editing one while this runs changes nothing here.
mkdir "$work/lists"
for i in "${!lists[@]}"; do
  cp "${lists[i]}" "$work/lists/$i-$(basename "${lists[i]}")"
  lists[i]="$work/lists/$i-$(basename "${lists[i]}")"
done

# One fault a line: file @@ text as it stands @@ text with the fault @@ what the fault is.
# "\n" in either text stands for a line break, "(nothing)" for no text at all. The first place
# where the text stands is changed. A fault whose file is gone or whose text is not there
# (the code moved on) is not applicable: told, and left out of the counts.
cd "$src"
git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$work"
cmake -S "$work" -B "$work/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON >/dev/null
build() { cmake --build "$work/build" -j2 </dev/null >/dev/null 2>&1; }
# What a fault's run leaves behind (a steer that never ends outlives its test's time-out) is
# ended after it: the suite's session, and any process still running a program of this build.
reap() {
  kill -KILL -- "-$1" 2>/dev/null || true
  local proc exe
  for proc in /proc/[0-9]*; do
    exe=$(readlink "$proc/exe" 2>/dev/null) || continue
    [[ $exe == "$work"/* ]] && kill -KILL "${proc#/proc/}" 2>/dev/null
  done
  return 0
}
suite() {
  local status=0
  (cd "$work/build" && exec setsid --wait ctest -j2 --timeout 30 --stop-on-failure ${tests:+-R "$tests"} </dev/null \
    >"$work/suite.log" 2>&1) &
  local pid=$!
  wait "$pid" || status=$?
  reap "$pid"
  return "$status"
}
if ! build; then
  echo "the sources do not build without any fault: nothing to measure" >&2
  exit 1
fi
if ! suite; then
  echo "the suite fails without any fault: nothing to measure" >&2
  grep -E 'Failed|Timeout|Exception' "$work/suite.log" >&2
  exit 1
fi

all_killed=0
all_total=0
for list in "${lists[@]}"; do
  name=$(basename "$list" .txt)
  name=${name#*-}
  killed=0
  total=0
  skipped=0
  echo "=== $name"
  while IFS= read -r entry; do
    [[ -n $entry && $entry != \#* ]] || continue
    file=${entry%% @@ *}
    rest=${entry#* @@ }
    from=${rest%% @@ *}
    rest=${rest#* @@ }
    to=${rest%% @@ *}
    what=${rest#* @@ }
    [ "$to" = "(nothing)" ] && to=""
    [[ -z "$only" || "$what" == *$only* ]] || continue
    if [[ ! -f $work/$file ]]; then
      echo "NO FILE    $file: $what"
      skipped=$((skipped + 1))
      continue
    fi
    cp "$work/$file" "$work/$file.orig"
    if ! FROM=$from TO=$to perl -0777 -i -pe 'BEGIN { ($f, $t) = ($ENV{FROM}, $ENV{TO}); s/\\n/\n/g for $f, $t }
        s/\Q$f\E/$t/ or die "not found\n"' "$work/$file" 2>/dev/null; then
      echo "NOT FOUND  $file: $what"
      mv "$work/$file.orig" "$work/$file"
      skipped=$((skipped + 1))
      continue
    fi
    total=$((total + 1))
    if ! build; then
      verdict="NO BUILD"
    elif suite; then
      verdict="survived"
    else
      verdict="killed"
      killed=$((killed + 1))
    fi
    printf '%-9s  %s: %s\n' "$verdict" "$file" "$what"
    mv "$work/$file.orig" "$work/$file"
    touch "$work/$file"
  done <"$list"
  ((total > 0)) && echo "$name: killed $killed of $total: $((100 * killed / total))%"
  ((skipped > 0)) && echo "$name: $skipped not applicable (file or text not found)"
  all_killed=$((all_killed + killed))
  all_total=$((all_total + total))
done

build
((all_total > 0)) && echo "all lists: killed $all_killed of $all_total: $((100 * all_killed / all_total))%"
