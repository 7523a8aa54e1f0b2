#!/usr/bin/env bash
# Checks a built filter module's resources without running it (so also where the module's
# bitness cannot run): the property list's size, language and entry property, the version
# block's names, and that every expected resource is present.
#   check-module-resources.sh MODULE 32|64 [TYPE:NAME...]
# TYPE:NAME pairs are wrestool types and names that must be listed, for example 6:3 or 2:119.
set -u
module=$1
bits=$2
shift 2
status=0
fail() { echo "$module: $*"; status=1; }

list=$(wrestool -l "$module" 2>&1) || { echo "cannot read the resources of $module: $list"; exit 1; }
echo "$list"

pipl=$(grep -- "--type='PIPL' --name=16000 " <<<"$list")
[ -n "$pipl" ] || fail "no PIPL 16000"
[[ $pipl == *"--language=1033 "* ]] || fail "PIPL 16000 is not language 1033"
[[ $pipl == *"size=238]"* ]] || fail "PIPL 16000 is not 238 bytes"

# Four-character codes are stored byte-reversed on Windows: "wx86" reads "68xw".
if [ "$bits" = 32 ]; then code=68xw; other=4668; else code=4668; other=68xw; fi
bytes=$(wrestool -x --raw --type=PIPL --name=16000 "$module" | od -An -c | tr -d ' \n')
[[ $bytes == *"MIB8${code}"* ]] || fail "PIPL has no entry property for $bits-bit code"
[[ $bytes == *"MIB8${other}"* ]] && fail "PIPL names the other bitness' entry"
[[ $bytes == *"ENTRYPOINT"* ]] || fail "PIPL does not name ENTRYPOINT"

if [ "$bits" = 32 ]; then file=Oryn107.8bf; else file=Oryn107-x64.8bf; fi
version=$(wrestool -x --raw --type=16 --name=1 "$module" | tr -d '\0')
for text in "ProductNameOryn 3D" "OriginalFilename$file" "FileVersion1.07"; do
    [[ $version == *"$text"* ]] || fail "version block lacks '$text'"
done

for want in "$@"; do
    type=${want%%:*}
    name=${want#*:}
    grep -qE -- "--type=('?)$type\\1 --name=('?)$name\\2 " <<<"$list" || fail "missing resource type $type name $name"
done
[ $status = 0 ] && echo "resources ok"
exit $status
