#!/usr/bin/env bash
# An installation into a fresh prefix holds the program, its data, desktop
# entry, icons and metainfo and nothing else; the help page is where the
# installed program looks from its bin directory. Usage: <build dir>
set -euo pipefail
# cmake --install writes its manifest into the build tree.
[ -w "$1" ] || { echo "the build tree is read-only here; skipped"; exit 77; }
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" >/dev/null
id=com.lumesksoft.Tunemill
expected=(bin/tunemill share/tunemill/help.htm share/applications/$id.desktop
  share/metainfo/$id.metainfo.xml share/icons/hicolor/scalable/apps/$id.svg
  share/doc/tunemill/copyright share/doc/tunemill/changelog.gz share/man/man1/tunemill.1.gz)
for size in 16 32 48 64 128 256; do
  expected+=("share/icons/hicolor/${size}x$size/apps/$id.png")
  file "$prefix/${expected[-1]}" | grep -q "PNG image data, $size x $size," || exit 1
done
diff -u <(printf '%s\n' "${expected[@]}" | sort) <(cd "$prefix" && find . -type f -printf '%P\n' | sort)
test -x "$prefix/bin/tunemill" && test -f "$prefix/bin/../share/tunemill/help.htm"
