#!/usr/bin/env bash
# The path rule of platform/pathbytes.h: a file name whose bytes are not UTF-8 must not reach
# the system through Qt's file classes, which encode it as UTF-8 and lose the escaped bytes.
# Every use of those classes in the player's folders must therefore name a file whose name
# is the program's own (its settings folder, its cache, a socket it makes) and say so with a
# comment "path-rule: <why>" on the same line or one of the three above; names from the user, a
# playlist or a folder walk go through pathToBytes and the helpers of pathbytes.h.
# QDir::cleanPath works on the text alone and is not counted.  Exit status 1 on a use
# without its reason.
set -euo pipefail
cd "$(dirname "$0")/.."

folders=(app print video player playlist settings display net decoder platform)
classes='QFile|QFileInfo|QDir|QDirIterator|QSaveFile|QLockFile|QTemporaryFile|QTemporaryDir|QFileSystemWatcher|QStorageInfo'
status=0
while IFS= read -r f; do
  awk -v file="$f" -v pat="(^|[^A-Za-z0-9_])(${classes})([^A-Za-z0-9_]|$)" '
    BEGIN { since = 99 }
    /path-rule:/ { since = 0 }
    { code = $0; sub(/\/\/.*/, "", code) }
    code ~ /^[[:space:]]*#[[:space:]]*include/ { since++; next }
    { gsub(/QDir::cleanPath/, "", code) }
    code ~ pat && since > 3 {
      printf "%s:%d: a Qt file class without a path-rule: reason: %s\n", file, NR, $0; bad = 1
    }
    { since++ }
    END { exit bad }' "$f" || status=1
done < <(find "${folders[@]}" -type f \( -name '*.cpp' -o -name '*.h' \) | sort)
exit $status
