#!/usr/bin/env bash
# An installation into a fresh prefix holds the program, its data, desktop
# entry, icons and metainfo, and nothing else of the build tree; the help
# page is where the installed program looks from its bin directory.
#
#   check-install.sh <build dir>
set -euo pipefail
build=$1
# cmake --install writes its manifest into the build tree.
if [ ! -w "$build" ]; then
  echo "the build tree is not writable here; skipped"
  exit 77
fi
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

id=com.lumesksoft.Tunemill
expected=(bin/tunemill share/tunemill/help.htm share/applications/$id.desktop
  share/metainfo/$id.metainfo.xml share/icons/hicolor/scalable/apps/$id.svg
  share/doc/tunemill/copyright share/doc/tunemill/changelog.gz)
for size in 16 32 48 64 128 256; do
  icon=share/icons/hicolor/${size}x${size}/apps/$id.png
  expected+=("$icon")
  file "$prefix/$icon" | grep -q "PNG image data, $size x $size," ||
    { echo "$icon is not a $size px picture"; exit 1; }
done
diff -u <(printf '%s\n' "${expected[@]}" | sort) <(cd "$prefix" && find . -type f -printf '%P\n' | sort)
test -x "$prefix/bin/tunemill"
test -f "$prefix/bin/../share/tunemill/help.htm"
