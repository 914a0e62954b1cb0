#!/usr/bin/env bash
# The layer check on a small tree of its own: it names each include that points right, with file and
# line, lets leftward and same-folder includes and the windows' assets pass, and fails only then.
set -euo pipefail
check=$1
tree=$(mktemp -d); trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree"/{base,util,formats,update,ui,options,app,tools/common}
printf '#include "base/Os.h"\n#include "util/Misc.h"\n' >"$tree/formats/Ok.cpp"
printf '#include "assets/Resources.h"\n#include "ui/Skin.h"\n' >"$tree/options/Ok_win.cpp"
printf '#include "app/Settings.h"\n#include "tools/common/Terminal.h"\n' >"$tree/tools/common/Ok.cpp"
bash "$check" "$tree" >/dev/null || { echo "FAIL: a tree with only leftward includes was refused"; exit 1; }

printf '#pragma once\n\n#include "update/Gauge.h"\n' >"$tree/util/Bad.h"
printf '#include "base/Os.h"\n  #  include "options/Frm2_win.h"\n' >"$tree/ui/Bad_win.cpp"
printf '#include "assets/Resources.h"\n' >"$tree/update/Bad.cpp"
if out=$(bash "$check" "$tree"); then echo "FAIL: rightward includes passed"; exit 1; fi
expected="util/Bad.h:3: util/ may not include update/
ui/Bad_win.cpp:2: ui/ may not include options/
update/Bad.cpp:1: update/ may not include assets/"
while IFS= read -r want; do
  grep -qF "$want" <<<"$out" || { echo "FAIL: missing \"$want\" in:"; echo "$out"; exit 1; }
done <<<"$expected"
[ "$(wc -l <<<"$out")" = 3 ] || { echo "FAIL: expected three findings:"; echo "$out"; exit 1; }
echo "layers_test: ok"
