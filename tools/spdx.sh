#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Puts the suite's licence identifier at the top of every source file git
# tracks that lacks it:
#   // SPDX-License-Identifier: GPL-3.0-or-later     (C++: *.cpp, *.h)
#   # SPDX-License-Identifier: GPL-3.0-or-later      (shell, CMake)
# as the first line, or the second after a "#!" line. Files that have it are
# left as they are, so running it again changes nothing.
#
#   bash tools/spdx.sh            add the line where it is missing; lists what it changed
#   bash tools/spdx.sh --check    list the files that lack it (or name another
#                                 licence); fails when there is any
#
# Shell scripts are the *.sh files and the files starting with "#!" and
# naming a shell. Other files (pictures, manual pages, desktop and AppStream
# files, Debian's files) are covered by debian/copyright.
set -euo pipefail
cd "$(git rev-parse --show-toplevel)"
check=false
case "${1:-}" in
  --check) check=true ;;
  "") ;;
  *) echo "usage: $0 [--check]" >&2; exit 2 ;;
esac
licence=GPL-3.0-or-later

# The comment marker of a file's language, or nothing for files left alone.
marker() {
  case $1 in
    *.cpp | *.h) echo "//" ;;
    *.sh | CMakeLists.txt | */CMakeLists.txt | *.cmake) echo "#" ;;
    *)
      if head -n 1 -- "$1" | grep -Eq '^#!.*/(env +)?(ba|da)?sh( |$)'; then echo "#"; fi
      ;;
  esac
}

# The identifier the file gives in its first two lines, if any.
identifier() {
  head -n 2 -- "$1" | sed -n 's/^.*SPDX-License-Identifier: *\([^ ]*\).*$/\1/p' | head -n 1
}

# Read whole before it runs (this file is among those it may change).
main() {
  status=0
  while IFS= read -r -d '' file; do
    [ -f "$file" ] && [ ! -L "$file" ] || continue
    mark=$(marker "$file")
    [ -n "$mark" ] || continue
    given=$(identifier "$file")
    if [ "$given" = "$licence" ]; then
      continue
    fi
    if $check; then
      if [ -n "$given" ]; then echo "$file: $given"; else echo "$file"; fi
      status=1
      continue
    fi
    if [ -n "$given" ]; then
      echo "$file names another licence ($given): left as it is" >&2
      status=1
      continue
    fi
    line="$mark SPDX-License-Identifier: $licence"
    tmp=$(mktemp)
    if head -n 1 -- "$file" | grep -q '^#!'; then
      { printf '%s\n' "$(head -n 1 -- "$file")" "$line"; tail -n +2 -- "$file"; } >"$tmp"
    else
      { echo "$line"; cat -- "$file"; } >"$tmp"
    fi
    # Written over the file in place: its mode stays.
    cat "$tmp" >"$file"
    rm -f "$tmp"
    echo "$file"
  done < <(git ls-files -z)
  return "$status"
}
main; exit
