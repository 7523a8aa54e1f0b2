#!/usr/bin/env bash
# Checks a built filter module's tables: it exports ENTRYPOINT alone, under the module name
# "_Oryn.8bf", and imports only DLLs that every Windows installation has.
#   check-module-tables.sh OBJDUMP MODULE
set -u
objdump=$1
module=$2
dump=$("$objdump" -p "$module") || { echo "cannot read $module"; exit 1; }
status=0

name=$(sed -n 's/^Name[[:space:]]*[0-9a-fA-F]*[[:space:]]*//p' <<<"$dump" | head -n 1)
if [ "$name" != "_Oryn.8bf" ]; then
    echo "export table names the module '$name', expected '_Oryn.8bf'"
    status=1
fi

exports=$(awk '/\[Ordinal\/Name Pointer\] Table/{t=1; next} t && /^[[:space:]]*\[/{print $NF} t && /^$/{t=0}' <<<"$dump")
if [ "$exports" != "ENTRYPOINT" ]; then
    echo "exports: $(echo $exports), expected ENTRYPOINT alone"
    status=1
fi

system_dlls='^(kernel32|user32|gdi32|advapi32|comdlg32|shell32|ole32|oleaut32|comctl32|msvcrt|ucrtbase|ws2_32|api-ms-win-crt-[a-z0-9-]+)\.dll$'
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump")
for dll in $imports; do
    if ! [[ ${dll,,} =~ $system_dlls ]]; then
        echo "imports non-system DLL: $dll"
        status=1
    fi
done

echo "module name: $name"
echo "exports: $(echo $exports)"
echo "imports: $(echo $imports)"
exit $status
