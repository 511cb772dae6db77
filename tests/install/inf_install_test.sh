#!/usr/bin/env bash
# Installs Drovemark with its INF into a fresh 64-bit Wine prefix, checks every key, value and
# file the installation promises (the Amiga side's files among them, where Setup looks for them) in both registry views, that a 64-bit and a 32-bit process each
# reach the folder through the shell from that registration alone, removes it through the
# UninstallString (the DLL's Uninstall export, answered Yes), and compares the registry with its
# state before the installation.
#   inf_install_test.sh SOURCE_DIR DLL DLL32 INSTALL_CHECK_EXE INSTALL_CHECK32_EXE AMIGA_DIR WORK_DIR
set -uo pipefail
src=$1
dll=$2
dll32=$3
check=$4
check32=$5
amiga=$6
work=$7
for tool in wine wineserver winepath iconv; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing"; exit 77; }
done
[ -f "$dll" ] && [ -f "$check" ] || { echo "SKIP: build drovemark_dll and install_check first"; exit 77; }
[ -f "$dll32" ] && [ -f "$check32" ] ||
  { echo "SKIP: build the windows32 preset first (its drovemark.dll and install_check.exe)"; exit 77; }
amiga_files=(Setup.rexx Drovemark Drovemark.info ReadMe.txt ReadMe.txt.info)
for file in "${amiga_files[@]}"; do
  [ -f "$amiga/$file" ] || { echo "SKIP: build the native preset's amiga-package first"; exit 77; }
done
# Wine's own programs as a 64-bit Windows runs them: regedit sees the native registry view.
wine() { "$src/tools/wine-native" "$@"; }
case "$work" in /*/inf-test) ;; *) echo "refusing work folder $work"; exit 2 ;; esac

clsid='{6B2D9A41-5C7E-4F83-9D10-3A5E7C24B8F6}'
folder='C:\Program Files\Drovemark'
folder32='C:\Program Files (x86)\Drovemark'
prefix=$work/prefix
installed=$prefix/drive_c/Program\ Files/Drovemark
installed32=$prefix/drive_c/Program\ Files\ \(x86\)/Drovemark
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# The prefix is ours alone: waiting for its server to end is safe, and then it can go.
cleanup() {
  timeout 30 wineserver -w 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
rm -rf "$work"
mkdir -p "$work"

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
step() { echo "[$SECONDS s] $*"; }

# HKCR is HKLM\Software\Classes merged with HKCU\Software\Classes: both machine and user hives are
# exported, one line per key and one per value (the key, a tab, the value). The noise, left out:
# every Wine session registers the display driver's video devices again, under new GUIDs and with
# a new driver date, and services.exe counts its starts in ServiceCurrent.
export_registry() {
  local name=$1 hive
  for hive in HKEY_LOCAL_MACHINE HKEY_CURRENT_USER; do
    wine regedit /E "$work/$name.$hive.raw" "$hive" || fail "regedit could not export $hive"
    iconv -f UTF-16 -t UTF-8 "$work/$name.$hive.raw" | tr -d '\r' |
      awk '/^\[/ {key = $0; noise = /\\Control\\(Video\\\{|ServiceCurrent\])/; if (!noise) print; next}
           !noise && NF && !/^"DriverDateData"=/ && !/Control\\\\Video\\\\\{/ {print key "\t" $0}'
  done >"$work/$name.reg"
}

# The values of one key as regedit writes them (sorted by name), compared with the expected lines.
expect_key() {
  local key=$1 expected actual
  expected=$(cat)
  grep -qxF "[$key]" "$work/installed.reg" || { fail "missing key $key"; return; }
  actual=$(grep -F "[$key]"$'\t' "$work/installed.reg" | cut -f2-)
  [ "$actual" = "$expected" ] || fail "key $key holds"$'\n'"$actual"$'\n'"expected"$'\n'"$expected"
}

step "creating a fresh prefix"
"$src/tools/wine-prefix" "$prefix" null || { echo "SKIP: no Wine prefix could be made"; exit 77; }
# The shell's desktop icon flag keys, as a Windows shell has them (a fresh Wine prefix has none).
hide='Software\Microsoft\Windows\CurrentVersion\Explorer\HideDesktopIcons'
apply_reg() {
  printf 'REGEDIT4\n\n%s\n' "$1" >"$work/apply.reg"
  wine regedit /S "$work/apply.reg" || fail "regedit could not apply $1"
}
apply_reg "$(printf '[%s]\n\n' "HKEY_CURRENT_USER\\$hide\\ClassicStartMenu" \
  "HKEY_CURRENT_USER\\$hide\\NewStartPanel" "HKEY_LOCAL_MACHINE\\$hide\\ClassicStartMenu" \
  "HKEY_LOCAL_MACHINE\\$hide\\NewStartPanel")"
export_registry before

step "installing"
"$src/install/wine-install" --amiga "$amiga" "$prefix" "$dll" "$dll32" "$src/install/drovemark.inf" install ||
  fail "wine-install install failed"
export_registry installed

cmp -s "$dll" "$installed/drovemark.dll" || fail "drovemark.dll is not in $folder"
cmp -s "$src/install/drovemark.inf" "$installed/drovemark.inf" || fail "drovemark.inf is not in $folder"
cmp -s "$dll32" "$installed32/drovemark.dll" || fail "the 32-bit drovemark.dll is not in $folder32"
for file in "${amiga_files[@]}"; do
  cmp -s "$amiga/$file" "$installed/Amiga/$file" || fail "$file is not in $folder\Amiga"
done

classes='HKEY_LOCAL_MACHINE\Software\Classes\CLSID\'$clsid
explorer='Software\Microsoft\Windows\CurrentVersion\Explorer'
computer="HKEY_LOCAL_MACHINE\\$explorer\\MyComputer\\Namespace\\$clsid"
desktop="HKEY_LOCAL_MACHINE\\$explorer\\Desktop\\Namespace\\$clsid"
uninstall='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\Drovemark'
dll_value='C:\\Program Files\\Drovemark\\drovemark.dll'
inf_value='C:\\Program Files\\Drovemark\\drovemark.inf'
expect_key "$classes" <<<'@="Drovemark"'
expect_key "$classes\\InProcServer32" <<<"@=\"$dll_value\""$'\n''"ThreadingModel"="Apartment"'
expect_key "$classes\\DefaultIcon" <<<"@=\"$dll_value,-5\""
expect_key "$classes\\ShellFolder" <<<'"Attributes"=dword:a0000000'
expect_key "$classes\\shellex\\PropertySheetHandlers\\$clsid" <<<'@="Drovemark"'
expect_key "$classes\\shellex\\ContextMenuHandlers\\$clsid" <<<'@="Drovemark"'
expect_key "$computer" <<<'@="Drovemark"'
expect_key "$desktop" <<<'@="Drovemark"'
# What a 32-bit process sees: the same class, served by the 32-bit DLL, and the same junctions.
classes32='HKEY_LOCAL_MACHINE\Software\Classes\Wow6432Node\CLSID\'$clsid
explorer32='Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Explorer'
computer32="HKEY_LOCAL_MACHINE\\$explorer32\\MyComputer\\Namespace\\$clsid"
desktop32="HKEY_LOCAL_MACHINE\\$explorer32\\Desktop\\Namespace\\$clsid"
dll32_value='C:\\Program Files (x86)\\Drovemark\\drovemark.dll'
expect_key "$classes32" <<<'@="Drovemark"'
expect_key "$classes32\\InProcServer32" <<<"@=\"$dll32_value\""$'\n''"ThreadingModel"="Apartment"'
expect_key "$classes32\\DefaultIcon" <<<"@=\"$dll32_value,-5\""
expect_key "$classes32\\ShellFolder" <<<'"Attributes"=dword:a0000000'
expect_key "$computer32" <<<'@="Drovemark"'
expect_key "$desktop32" <<<'@="Drovemark"'
expect_key 'HKEY_LOCAL_MACHINE\Software\Quenzor\Drovemark\2005.0' \
  <<<'"Path"="C:\\Program Files\\Drovemark"'
expect_key "$uninstall" <<<"\"DisplayIcon\"=\"$dll_value,-5\"
\"DisplayName\"=\"Drovemark\"
\"InstallLocation\"=\"C:\\\\Program Files\\\\Drovemark\"
\"NoModify\"=dword:00000001
\"NoRepair\"=dword:00000001
\"Publisher\"=\"Quenzor\"
\"UninstallString\"=\"rundll32.exe \\\"$dll_value\\\",Uninstall $inf_value\""

# Nothing but these keys (and the parents they need) is new.
new_keys=$(grep -xvF -f "$work/before.reg" <(grep -v $'\t' "$work/installed.reg") | sort)
expected_keys=$(printf '[%s]\n' "$classes" "$classes\\DefaultIcon" "$classes\\InProcServer32" \
  "$classes\\shellex" "$classes\\shellex\\ContextMenuHandlers" \
  "$classes\\shellex\\ContextMenuHandlers\\$clsid" "$classes\\shellex\\PropertySheetHandlers" \
  "$classes\\shellex\\PropertySheetHandlers\\$clsid" "$classes\\ShellFolder" "$computer" "$desktop" \
  "$uninstall" 'HKEY_LOCAL_MACHINE\Software\Quenzor' 'HKEY_LOCAL_MACHINE\Software\Quenzor\Drovemark' \
  'HKEY_LOCAL_MACHINE\Software\Quenzor\Drovemark\2005.0' "$computer32" "$desktop32" | sort)
# The 32-bit class keys, seen by the export under both names of the 32-bit classes root.
for root32 in "$classes32" "${classes32/Classes\\Wow6432Node/Wow6432Node\\Classes}"; do
  expected_keys+=$'\n'$(printf '[%s]\n' "$root32" "$root32\\DefaultIcon" "$root32\\InProcServer32" \
    "$root32\\shellex" "$root32\\shellex\\ContextMenuHandlers" \
    "$root32\\shellex\\ContextMenuHandlers\\$clsid" "$root32\\shellex\\PropertySheetHandlers" \
    "$root32\\shellex\\PropertySheetHandlers\\$clsid" "$root32\\ShellFolder")
done
expected_keys=$(sort <<<"$expected_keys")
[ "$new_keys" = "$expected_keys" ] ||
  fail "the installation made other keys:"$'\n'"$(diff <(echo "$expected_keys") <(echo "$new_keys"))"

step "activating the class in a 64-bit and in a 32-bit process"
activation=$(timeout 30 wine "$check" activate "$folder\\drovemark.dll" | tr -d '\r')
echo "$activation"
[ "${activation%% *}" = OK ] || fail "the class does not activate from its registration"
activation=$(timeout 30 wine "$check32" activate "$folder32\\drovemark.dll" | tr -d '\r')
echo "$activation"
[ "${activation%% *}" = OK ] || fail "a 32-bit process does not reach the folder"

# What the module itself writes while installed: its settings and the desktop icon flags.
apply_reg "$(printf '[%s]\n"%s"=dword:00000001\n\n' \
  'HKEY_LOCAL_MACHINE\Software\Quenzor\Drovemark\2005.0\Connection' 'Packet Size' \
  "HKEY_CURRENT_USER\\$hide\\ClassicStartMenu" "$clsid" "HKEY_CURRENT_USER\\$hide\\NewStartPanel" "$clsid" \
  "HKEY_LOCAL_MACHINE\\$hide\\ClassicStartMenu" "$clsid" "HKEY_LOCAL_MACHINE\\$hide\\NewStartPanel" "$clsid")"

step "uninstalling through the UninstallString"
answer=$(timeout 40 wine "$check" uninstall "Confirm File Deletion" 15 | tr -d '\r')
echo "$answer"
grep -qxF "asked: Are you sure you want to completely remove Drovemark and all of its components?" \
  <<<"$answer" || fail "the Uninstall export did not ask as expected"
# The export hands the work to a second rundll32 and returns: wait for the prefix to fall quiet.
timeout 30 wineserver -w || fail "the prefix did not fall quiet after the uninstallation"
export_registry removed

[ -e "$installed/drovemark.dll" ] && fail "drovemark.dll is still installed"
[ -e "$installed32/drovemark.dll" ] && fail "the 32-bit drovemark.dll is still installed"
[ -z "$(ls -A "$installed32" 2>/dev/null)" ] || fail "$folder32 still holds: $(ls -A "$installed32")"
[ -e "$installed/drovemark.inf" ] && fail "drovemark.inf is still installed"
# DelFiles removes files only: the emptied folders stay, and must be empty.
[ -z "$(ls -A "$installed/Amiga" 2>/dev/null)" ] ||
  fail "$folder\Amiga still holds: $(ls -A "$installed/Amiga")"
rmdir "$installed/Amiga" 2>/dev/null
[ -z "$(ls -A "$installed" 2>/dev/null)" ] || fail "$folder still holds: $(ls -A "$installed")"

# The maker's key stays (other products of the maker may live there) and must be empty.
changes=$(diff "$work/before.reg" "$work/removed.reg" | grep '^[<>]')
[ "$changes" = '> [HKEY_LOCAL_MACHINE\Software\Quenzor]' ] ||
  fail "the registry after removal differs from before:"$'\n'"$changes"

step "done, $failures failures"
[ "$failures" = 0 ]
