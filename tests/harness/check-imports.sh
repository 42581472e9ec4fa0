#!/bin/sh
# Checks that Windows programs import only DLLs that every Windows installation
# has: no mingw runtime DLL may be needed beside the .exe.
#   check-imports.sh OBJDUMP PROGRAM...
set -eu
objdump=$1
shift
allowed="kernel32.dll user32.dll gdi32.dll comctl32.dll shell32.dll advapi32.dll bcrypt.dll msvcrt.dll"
status=0
for program in "$@"; do
    imports=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
    [ -n "$imports" ] || { echo "$program: no import table found" >&2; status=1; }
    for dll in $imports; do
        case " $allowed " in
        *" $dll "*) ;;
        *) echo "$program imports $dll, which is not a Windows system DLL" >&2; status=1 ;;
        esac
    done
    echo "$(basename "$program"): $(echo $imports)"
done
exit $status
