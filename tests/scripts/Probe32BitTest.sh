#!/usr/bin/env bash
# Checks the 32-bit probe against an independent witness, so that a broken probe can neither skip
# the 32-bit tests on a machine that runs them nor fail a machine that cannot:
#  1. ORYN_ASSUME_NO_32BIT=1 always answers "no" and names the switch;
#  2. without it, the probe says "yes" exactly when the kernel runs a minimal hand-made 32-bit
#     Linux program (the witness), which needs nothing installed;
#  3. a loader the kernel cannot execute gives "no" with the reason, never "yes".
#   Probe32BitTest.sh PROBE_SCRIPT
set -u
probe=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The witness: a 96-byte i386 ELF executable whose only code is exit(0) through int 0x80.
{
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' # 32-bit, little-endian
    printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08'       # executable, i386, entry
    printf '\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00'       # program headers at 52
    printf '\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'       # one program header
    printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' # load at 0x8048000
    printf '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' # 96 bytes, r-x
    printf '\xb8\x01\x00\x00\x00\xbb\x00\x00\x00\x00\xcd\x80'       # exit(0)
} >"$work/witness"
chmod +x "$work/witness"
if "$work/witness" 2>/dev/null; then kernel=yes; else kernel=no; fi
echo "witness: this kernel runs 32-bit programs: $kernel"

answer=$(env -u ORYN_ASSUME_NO_32BIT "$probe")
code=$?
echo "probe: $answer (status $code)"
if [ "$kernel" = yes ]; then
    [ "$answer" = yes ] && [ $code = 0 ] || fail "the kernel runs 32-bit programs but the probe says '$answer'"
else
    case $answer in
    "no: "*) [ $code = 1 ] || fail "'no' with status $code" ;;
    *) fail "the kernel cannot run 32-bit programs but the probe says '$answer'" ;;
    esac
fi

forced=$(ORYN_ASSUME_NO_32BIT=1 "$probe")
code=$?
[ "$forced" = "no: ORYN_ASSUME_NO_32BIT=1 is set" ] && [ $code = 1 ] ||
    fail "forced answer '$forced' (status $code)"

# A loader that no kernel executes: the first bytes of an ELF header and nothing else.
printf '\x7fELF\x01\x01\x01' >"$work/broken"
chmod +x "$work/broken"
broken=$(env -u ORYN_ASSUME_NO_32BIT ORYN_WINE32_LOADER="$work/broken" "$probe")
code=$?
case $broken in
"no: "*"Exec format error"*) [ $code = 1 ] || fail "broken loader: status $code" ;;
*) fail "broken loader answered '$broken'" ;;
esac

[ $failures = 0 ] && echo "probe checks passed"
exit $((failures > 0))
