#!/usr/bin/env bash
# Tells whether this machine can run 32-bit Windows programs under Wine, by trying: it starts
# Wine's 32-bit loader. Kernels built without 32-bit execution support refuse it ("Exec format
# error"), and then every 32-bit Windows program fails, although the 32-bit module still builds.
# Prints "yes", or "no: REASON" on one line; exits 0 for yes, 1 for no.
# ORYN_ASSUME_NO_32BIT=1 forces the "no" answer, to check on a capable machine what an incapable
# one does.
set -u
loader=${ORYN_WINE32_LOADER:-/usr/lib/wine/wine}

if [ "${ORYN_ASSUME_NO_32BIT:-0}" = 1 ]; then
    echo "no: ORYN_ASSUME_NO_32BIT=1 is set"
    exit 1
fi
if [ ! -e "$loader" ]; then
    echo "no: Wine's 32-bit loader $loader is not installed"
    exit 1
fi
if err=$("$loader" --version 2>&1 >/dev/null); then
    echo yes
    exit 0
fi
code=$?
err=$(printf '%s' "$err" | head -n 1)
case $err in
*"Exec format error"*|"") echo "no: this kernel cannot execute 32-bit programs (Exec format error)" ;;
*) echo "no: Wine's 32-bit loader failed with status $code: $err" ;;
esac
exit 1
