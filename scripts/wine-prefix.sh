#!/bin/bash
# Creates the private Wine prefix once and gives it what a Windows XP machine
# has and a new prefix lacks. Safe to call again: a finished prefix is kept.
set -eu
. "$(dirname "$0")/wine-env.sh"

stamp=$WINEPREFIX/.vellum-ready-2
[ -f "$stamp" ] && exit 0

rm -rf "$WINEPREFIX"
mkdir -p "$(dirname "$WINEPREFIX")"
echo "wine-prefix: creating $WINEPREFIX ($WINEARCH)" >&2
timeout 300 "$WINELOADER" wineboot -i >"$WINEPREFIX.wineboot.log" 2>&1 || true
timeout 120 wineserver -w || true

reg=$(mktemp --suffix=.reg)
# Wine's regedit reads UTF-16 .reg files with the Unicode header.
{
printf 'Windows Registry Editor Version 5.00\r\n\r\n'
printf '[HKEY_CLASSES_ROOT\\.js]\r\n@="JSFile"\r\n\r\n'
printf '[HKEY_CLASSES_ROOT\\.jse]\r\n@="JSEFile"\r\n\r\n'
printf '[HKEY_CLASSES_ROOT\\JSFile\\shell\\open\\command]\r\n@="\\"C:\\\\windows\\\\system32\\\\wscript.exe\\" \\"%%1\\" %%*"\r\n\r\n'
printf '[HKEY_CLASSES_ROOT\\JSEFile]\r\n@="JScript Encoded File"\r\n\r\n'
printf '[HKEY_CLASSES_ROOT\\JSEFile\\ScriptEngine]\r\n@="JScript.Encode"\r\n\r\n'
printf '[HKEY_CLASSES_ROOT\\JSEFile\\shell\\open\\command]\r\n@="\\"C:\\\\windows\\\\system32\\\\wscript.exe\\" \\"%%1\\" %%*"\r\n\r\n'
printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n\r\n'
printf '[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n"ShowCrashDialog"=dword:00000000\r\n\r\n'
} | iconv -f utf-8 -t utf-16 > "$reg"
timeout 120 "$WINELOADER" regedit /S "Z:${reg//\//\\}" >/dev/null 2>&1
timeout 120 wineserver -w || true
rm -f "$reg"
# Korean and Chinese texts: link the dialog fonts to a CJK font of the host
# (fonts-wqy-microhei), as Windows links them to its own East Asian fonts.
for face in "Tahoma" "Trebuchet MS" "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" "MS Sans Serif"; do
    timeout 60 "$WINELOADER" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
        /v "$face" /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f >/dev/null 2>&1
done
timeout 120 wineserver -w || true
touch "$stamp"
