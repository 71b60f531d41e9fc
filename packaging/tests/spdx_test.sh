#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# tools/spdx.sh on a scratch repository: --check lists what lacks the
# licence line and fails; adding puts it first (after a "#!" line), in each
# language's comment, leaves other files, other licences and file modes
# alone, and a second run changes nothing.
#   spdx_test.sh <source folder>
set -euo pipefail
source=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
repo=$(mktemp -d)
trap 'rm -rf "$repo"' EXIT
cd "$repo"
git init -q .
mkdir -p tools src/sub
cp "$source/tools/spdx.sh" tools/spdx.sh
printf 'int main() { return 0; }\n' >src/main.cpp
printf '#pragma once\n' >src/sub/unit.h
printf '#!/usr/bin/env bash\necho hi\n' >tools/run.sh
chmod 755 tools/run.sh
printf '#!/bin/sh\nexit 0\n' >tools/hook
chmod 755 tools/hook
printf 'add_executable(x main.cpp)\n' >src/CMakeLists.txt
printf '// SPDX-License-Identifier: GPL-3.0-or-later\nint x;\n' >src/done.cpp
printf '// SPDX-License-Identifier: MIT\nint y;\n' >src/other.cpp
printf 'Some notes.\n' >notes.txt
printf '#!/usr/bin/env python3\nprint(1)\n' >tools/gen.py
printf 'no newline at the end' >src/last.h
commit() { git add -A && git -c user.name=T -c user.email=t@t commit -qm "$1"; }
commit first

status=0
listed=$(bash tools/spdx.sh --check) || status=$?
[ "$status" -ne 0 ] || fail "--check passed with files lacking the line"
expected="src/CMakeLists.txt
src/last.h
src/main.cpp
src/other.cpp: MIT
src/sub/unit.h
tools/hook
tools/run.sh
tools/spdx.sh"
[ "$(LC_ALL=C sort <<<"$listed")" = "$expected" ] || fail "--check listed: $listed"
[ "$(git status --porcelain)" = "" ] || fail "--check changed files"

status=0
bash tools/spdx.sh >/dev/null 2>"$repo/.err" || status=$?
# The file with another licence is reported, and makes the run fail.
[ "$status" -ne 0 ] || fail "a file naming another licence went unreported"
grep -q 'src/other.cpp names another licence (MIT)' "$repo/.err" || fail "$(cat "$repo/.err")"

line() { sed -n "$2p" "$1"; }
[ "$(line src/main.cpp 1)" = "// SPDX-License-Identifier: GPL-3.0-or-later" ] || fail "main.cpp"
[ "$(line src/main.cpp 2)" = "int main() { return 0; }" ] || fail "main.cpp lost its code"
[ "$(line src/sub/unit.h 1)" = "// SPDX-License-Identifier: GPL-3.0-or-later" ] || fail "unit.h"
[ "$(line src/CMakeLists.txt 1)" = "# SPDX-License-Identifier: GPL-3.0-or-later" ] || fail "CMakeLists.txt"
[ "$(line tools/run.sh 1)" = "#!/usr/bin/env bash" ] || fail "run.sh lost its first line"
[ "$(line tools/run.sh 2)" = "# SPDX-License-Identifier: GPL-3.0-or-later" ] || fail "run.sh"
[ "$(line tools/hook 2)" = "# SPDX-License-Identifier: GPL-3.0-or-later" ] || fail "a script without .sh"
[ -x tools/run.sh ] && [ -x tools/hook ] || fail "scripts lost their mode"
[ "$(cat src/last.h)" = "// SPDX-License-Identifier: GPL-3.0-or-later
no newline at the end" ] || fail "last.h: $(cat src/last.h)"
[ "$(line src/other.cpp 1)" = "// SPDX-License-Identifier: MIT" ] || fail "another licence was changed"
[ "$(line src/done.cpp 2)" = "int x;" ] || fail "a file that had the line was changed"
[ "$(cat notes.txt)" = "Some notes." ] || fail "a text file was changed"
[ "$(line tools/gen.py 2)" = "print(1)" ] || fail "a script in another language was changed"

# Again: nothing left to add, nothing changes.
commit second
bash tools/spdx.sh >/dev/null 2>&1 || true
[ "$(git status --porcelain)" = "" ] || fail "a second run changed: $(git status --porcelain)"
[ "$(bash tools/spdx.sh --check || true)" = "src/other.cpp: MIT" ] || fail "--check after adding"
