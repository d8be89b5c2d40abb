#!/usr/bin/env bash
# Shows that each fuzz target catches a real fault: for every mutant below, a copy of one
# source file with one small fault put in is compiled outside the tree, linked in place of
# the library's own object into a private copy of the target, and fuzzed for a while; the
# mutant counts as caught when the target reports a broken property. The tree is not
# touched. Needs the fuzz build (scripts/fuzz.sh makes it).
#   tests/fuzz/mutation_check.sh [seconds-per-mutant]     default 60
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${FUZZ_BUILD_DIR:-$here/build-fuzz}
seconds=${1:-60}
work=$(mktemp -d -t corvane-mutants-XXXXXX)
trap 'rm -rf "$work"' EXIT

# target @ source file @ text to replace @ replacement
mutants=(
  "split_text_lines@src/log/text_lines.cpp@} else if (state == SplitState::AfterCr || !IsTextByte(c)) {@} else if (!IsTextByte(c) && c != 13) {"
  "hex_dump@src/log/dump_format.cpp@_mm_set1_epi8(-1)));@_mm_set1_epi8(0)));"
  "write_log_text@src/log/log_file.cpp@unsigned char previous = 0;@unsigned char previous = ' ';"
  "is_html_log_name@src/log/log_file.cpp@? static_cast<char>(c + ('a' - 'A')) : c;@? c : c;"
  "rewrite_http_request@src/relay/http_rewrite.cpp@if (BeginsWith(*line, kHostHeader)) {@if (BeginsWith(*line, kHostHeader) && hostLine == nullptr) {"
  "parse_command_line@src/control/command_line.cpp@if (arg == \"-file\") {@if (arg.starts_with(\"-f\")) {"
  "settings_reader@src/control/settings.cpp@kRemoteHostReadSize = 64;@kRemoteHostReadSize = 65;"
)

flags=$(cd "$build" && ninja -t commands src/log/CMakeFiles/corvane_log.dir/log_file.cpp.o | tail -1 |
        sed 's/^[^ ]* //; s/ -MD .*//')
missed=0
for mutant in "${mutants[@]}"; do
    IFS='@' read -r target source old new <<< "$mutant"
    python3 - "$here/$source" "$work/mutant.cpp" "$old" "$new" << 'PY'
import sys
text = open(sys.argv[1]).read()
if sys.argv[3] not in text:
    sys.exit(f"{sys.argv[1]}: the text to replace is gone: {sys.argv[3]}")
open(sys.argv[2], "w").write(text.replace(sys.argv[3], sys.argv[4], 1))
PY
    # shellcheck disable=SC2086
    nice -n 10 clang++ $flags -I"$here/$(dirname "$source")" -c "$work/mutant.cpp" -o "$work/mutant.o"
    link=$(cd "$build" && ninja -t commands "tests/fuzz/fuzz_$target" | tail -1 |
           sed "s#^: && ##; s# && :\$##; s# -o tests/fuzz/fuzz_$target # -o $work/fuzz_$target $work/mutant.o #")
    (cd "$build" && eval "nice -n 10 $link")
    rm -rf "$work/corpus" && mkdir "$work/corpus"
    if nice -n 10 "$work/fuzz_$target" -max_total_time="$seconds" -artifact_prefix="$work/" \
        "$work/corpus" "$here/tests/fuzz/corpus/$target" > "$work/$target.log" 2>&1; then
        echo "MISSED  $target: $source: $old"
        missed=1
    else
        echo "caught  $target: $(grep -m1 -o 'property failed: .*\|ERROR: [A-Za-z]*Sanitizer: [a-z-]*' "$work/$target.log" | cut -c1-90)"
    fi
done
exit "$missed"
