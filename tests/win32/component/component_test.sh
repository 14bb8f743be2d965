#!/usr/bin/env bash
# Windows tests of tollan.dll that go through the registry, run under Wine.
#
#   component_test.sh registration DLL       register, check every key, unregister
#   component_test.sh run DLL FILE           run a VBScript or JScript test, or a host program
#   component_test.sh imports DIR            binaries under DIR import only system DLLs
#   component_test.sh side-by-side DLL32 DLL64   both widths registered in one prefix, each
#                                            driven from its own host; removing one leaves
#                                            the other working
#
# TOLLAN_HOST_BITS (32 or 64) is the width of the DLL under test and of the cscript, regsvr32
# and reg that are started for it (each width has its own registry view of the classes).
# Uses the session's prefix (WINEPREFIX) and undoes its registry changes when it ends; without
# a session it makes a throwaway prefix.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../../.." && pwd)
. "$top/scripts/lib/wine.sh"

mode=$1
shift

CLSID='{E83E7FF8-AB57-49D9-A129-7B2CD118A073}'
LIBID='{09253B57-3D94-47A0-A5C1-83A834EED518}'
IID='{442A6992-5DA5-4BE5-8929-4C154992C20E}'
HELP_KEY='HKLM\SOFTWARE\Microsoft\Windows\Help'
SETTINGS_KEY='HKCU\Software\Brindle\Tollan'

bits=${TOLLAN_HOST_BITS:-64}
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Runs a Windows command quietly; its standard output (without carriage returns) is printed.
# cscript, regsvr32 and reg are those of the width $bits.
win() {
    case $1 in
    cscript | regsvr32 | reg) wine_host "$bits" "$@" ;;
    *) wine "$@" ;;
    esac </dev/null 2>/dev/null | tr -d '\r'
    return "${PIPESTATUS[0]}"
}

# What a script host of the width $bits reports as its processor.
host_architecture() { if [ "$bits" = 32 ]; then echo x86; else echo AMD64; fi; }

key_exists() { win reg query "$1" >/dev/null; }

# The data of a value ("" for the default value) as `reg query` shows it.
reg_value() {
    local key=$1 name=$2 args
    if [ -z "$name" ]; then args=(/ve); else args=(/v "$name"); fi
    win reg query "$key" "${args[@]}" | sed -n 's/^    .*    REG_[A-Z_]*    //p' | head -n 1
}

expect_value() {
    local key=$1 name=$2 want=$3 got
    got=$(reg_value "$key" "$name")
    [ "$got" = "$want" ] || fail "$key [${name:-default}] is '$got', expected '$want'"
}

expect_key() { key_exists "$1" || fail "$1 is missing"; }
expect_no_key() { ! key_exists "$1" || fail "$1 is still there"; }

# Every mode starts from no saved settings and leaves none; the DLL is the first argument's.
start_session() {
    if [ -z "${WINEPREFIX:-}" ]; then
        wine_session_start
        trap 'cleanup; wine_session_stop' EXIT
    else
        wine_environment
        trap cleanup EXIT
    fi
    dll_path=$(winepath -w "$1" 2>/dev/null)
    forget_settings
    cleanup_actions+=(forget_settings)
}

dll_path=
cleanup_actions=()
cleanup() {
    local action
    for action in "${cleanup_actions[@]}"; do
        eval "$action"
    done
}

register() {
    win regsvr32 /s "$dll_path" >/dev/null || fail "regsvr32 $dll_path failed"
    cleanup_actions+=("bits=$bits win regsvr32 /s /u '$dll_path' >/dev/null")
}

forget_settings() { win reg delete "$SETTINGS_KEY" /f >/dev/null || true; }

# Runs a test program, or a test script with cscript (told the host's width, which a VBScript
# test checks; it must print PASS); it must end well.
run_test() {
    local output status
    case $1 in
    *.exe) output=$(win "$1") ;;
    *) output=$(win cscript //nologo "$(winepath -w "$1" 2>/dev/null)" "$(host_architecture)") ;;
    esac
    status=$?
    printf '%s\n' "$output"
    [ "$status" -eq 0 ] || fail "$1 exited with $status"
    [[ $1 == *.exe ]] || grep -qx PASS <<<"$output" || fail "$1 did not report PASS"
}

case $mode in
registration)
    start_session "$1"
    folder=${dll_path%\\*}

    # The help value goes under an existing key only.
    win reg add "$HELP_KEY" /f >/dev/null
    # A stale class key is replaced whole.
    win reg add "HKCR\\CLSID\\$CLSID\\Stale" /ve /d old /f >/dev/null
    cleanup_actions+=("win reg delete 'HKCR\\CLSID\\$CLSID' /f >/dev/null 2>&1")
    register

    # (Both program identifiers and the server's path are proved by the script hosts creating
    # the class by either name; the names of the keys are the server's own table.)
    expect_value 'HKCR\Tollan.Quill32\CurVer' '' 'Tollan.Quill32.1'
    expect_value "HKCR\\CLSID\\$CLSID\\InprocServer32" ThreadingModel Apartment
    expect_value "HKCR\\CLSID\\$CLSID\\TypeLib" '' "$LIBID"
    expect_no_key "HKCR\\CLSID\\$CLSID\\Stale"
    expect_value "HKCR\\Interface\\$IID\\TypeLib" '' "$LIBID"
    expect_value "$HELP_KEY" tollan.hlp "$folder"

    win regsvr32 /s /u "$dll_path" >/dev/null || fail "unregistration failed"
    for key in Tollan.Quill32.1 Tollan.Quill32 "CLSID\\$CLSID" "TypeLib\\$LIBID" "Interface\\$IID"; do
        expect_no_key "HKCR\\$key"
    done
    expect_key 'HKCR\CLSID'
    expect_key "$HELP_KEY"
    [ -z "$(reg_value "$HELP_KEY" tollan.hlp)" ] || fail "the help value is still there"
    ;;

run)
    start_session "$1"
    register
    run_test "$2"
    ;;

side-by-side)
    start_session "$1"
    declare -A dll=([32]=$dll_path [64]=$(winepath -w "$2" 2>/dev/null))
    probe=$(mktemp /tmp/tollan-probe.XXXXXX.vbs)
    cleanup_actions+=("rm -f '$probe'")
    printf '%s\r\n' 'On Error Resume Next' 'Set q = CreateObject("Tollan.Quill32")' \
        'If Err.Number <> 0 Then WScript.Echo "no class " & Err.Number : WScript.Quit' \
        'q.BaudRate = 38400' 'WScript.Echo "PASS " & q.BaudRate & " " & _' \
        '    CreateObject("WScript.Shell").Environment("Process")("PROCESSOR_ARCHITECTURE")' >"$probe"
    # The host of the width $bits creates and uses the class (the probe prints "PASS 38400 x86",
    # or AMD64: the host loaded the DLL of its own width) and the width's type library entry
    # names that DLL; with $1 "gone", that host finds no class and the entry is gone.
    expect_width() {
        local got want="PASS 38400 $(host_architecture)"
        local entry="HKCR\\TypeLib\\$LIBID\\1.0\\409\\win$bits"
        got=$(win cscript //nologo "$(winepath -w "$probe" 2>/dev/null)")
        if [ "$1" = gone ]; then
            want="no class 429"
            expect_no_key "$entry"
        else
            expect_value "$entry" '' "${dll[$bits]}"
        fi
        [ "$got" = "$want" ] || fail "the $bits-bit host printed '$got', expected '$want'"
    }
    for bits in 32 64; do
        dll_path=${dll[$bits]} register
    done
    # Both; either one unregistered (the other width keeps its class, the shared program
    # identifiers and its type library entry); both again once it is registered again.
    for gone in none 32 64 none; do
        [ "$gone" = none ] || bits=$gone win regsvr32 /s /u "${dll[$gone]}" ||
            fail "unregistering the $gone-bit DLL failed"
        for bits in 32 64; do
            [ "$bits" = "$gone" ] && state=gone || state=kept
            expect_width "$state"
        done
        [ "$gone" = none ] || bits=$gone win regsvr32 /s "${dll[$gone]}" ||
            fail "registering the $gone-bit DLL again failed"
    done
    ;;

imports)
    allowed='^(kernel32|user32|gdi32|advapi32|ole32|oleaut32|comctl32|comdlg32|shell32|shlwapi|msvcrt|ws2_32|winmm|version|uxtheme|rpcrt4)\.dll$'
    count=0
    while IFS= read -r binary; do
        count=$((count + 1))
        while IFS= read -r name; do
            [[ ${name,,} =~ $allowed ]] || fail "$binary imports $name"
        done < <(x86_64-w64-mingw32-objdump -p "$binary" | sed -n 's/^\tDLL Name: //p')
    done < <(find "$1" -path '*/CMakeFiles' -prune -o \( -name '*.exe' -o -name '*.dll' \) -type f -print)
    [ "$count" -gt 0 ] || fail "no binaries under $1"
    echo "checked $count binaries"
    ;;

*)
    echo "unknown mode $mode" >&2
    exit 2
    ;;
esac

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
