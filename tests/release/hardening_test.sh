#!/usr/bin/env bash
# The shipped plexa.dll and plexa-host.exe as a crash analyst and an attacker
# see them: ASLR with high entropy and DEP asked for in the PE header, stack
# canaries and checked memory calls linked in, nothing imported beyond
# Windows' own DLLs, no debug information inside, and the debug information
# kept beside each in FILE.debug, named by its .gnu_debuglink.
#
#   hardening_test.sh <objdump> <nm> <plexa.dll> <plexa-host.exe>
#
# Ends with "N passed, N failed".
set -uo pipefail

objdump=$1
nm=$2
shift 2

passed=0
failed=0

check_file() {
    local file=$1 name
    name=$(basename "$file")
    local problems=()
    local headers sections imports symbols
    headers=$("$objdump" -p "$file") || { echo "FAIL $name: objdump -p failed"; failed=$((failed + 1)); return; }
    sections=$("$objdump" -h "$file")

    local flag
    for flag in DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT; do
        grep -qw "$flag" <<<"$headers" || problems+=("DllCharacteristics lack $flag")
    done

    # Imports: only Windows' own DLLs, whatever the C and C++ runtimes and
    # libssp needed is linked in. ADVAPI32 is libssp's: the stack canary is
    # drawn from CryptGenRandom when the DLL loads. GLU is not among them:
    # materials are scaled by the plug-in's own code.
    imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr '[:upper:]' '[:lower:]' | sort -u)
    local dll
    for dll in $imports; do
        case $dll in
            kernel32.dll | user32.dll | gdi32.dll | opengl32.dll | shell32.dll | comdlg32.dll | msvcrt.dll | \
                advapi32.dll) ;;
            *) problems+=("imports $dll") ;;
        esac
    done
    grep -qx kernel32.dll <<<"$imports" || problems+=("no import table read (kernel32.dll missing)")

    # Shipped stripped: no DWARF, no symbol table; the debug file is named.
    if grep -qE '[[:space:]]\.debug_' <<<"$sections"; then problems+=("carries .debug_* sections"); fi
    grep -qE '[[:space:]]\.gnu_debuglink' <<<"$sections" || problems+=("no .gnu_debuglink section")
    if [[ -n $("$nm" "$file" 2>/dev/null | head -n 1) ]]; then problems+=("carries a symbol table"); fi

    # The debug file beside it has what was stripped, including the stack
    # protector's guard and failure handler and fortified calls: evidence
    # that the canaries and checks were compiled in and libssp linked.
    local debug=$file.debug
    if [[ ! -s $debug ]]; then
        problems+=("no $(basename "$debug") beside it")
    else
        symbols=$("$nm" "$debug" 2>/dev/null)
        grep -qw __stack_chk_guard <<<"$symbols" || problems+=("no __stack_chk_guard in $(basename "$debug")")
        grep -qw __stack_chk_fail <<<"$symbols" || problems+=("no __stack_chk_fail in $(basename "$debug")")
        grep -qE '__(memcpy|memset|strcpy|strcat|memmove)_chk' <<<"$symbols" ||
            problems+=("no fortified memory call (__*_chk) in $(basename "$debug")")
        grep -qE '[[:space:]]\.debug_info' <<<"$("$objdump" -h "$debug")" ||
            problems+=("$(basename "$debug") has no .debug_info")
    fi

    if [[ ${#problems[@]} -eq 0 ]]; then
        passed=$((passed + 1))
        echo "ok   $name: DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT, stack protector, imports: $(tr '\n' ' ' <<<"$imports")"
    else
        failed=$((failed + 1))
        echo "FAIL $name"
        printf '  %s\n' "${problems[@]}"
    fi
}

for file in "$@"; do
    check_file "$file"
done
echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
