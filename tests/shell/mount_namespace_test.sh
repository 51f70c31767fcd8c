#!/bin/sh
# Runs a test binary inside a private mount namespace, so that what it mounts
# is seen by nobody else and vanishes with it.
# Usage: mount_namespace_test.sh <test binary> [test arguments...]
# Exits 77 (a skip for CTest) when this machine does not allow one.
set -u
binary=$1
shift
if ! unshare --mount --propagation private true 2>/dev/null; then
    echo "private mount namespaces are not permitted here: skipped"
    exit 77
fi
TUNEMILL_MOUNT_NAMESPACE=1 exec unshare --mount --propagation private "$binary" "$@"
