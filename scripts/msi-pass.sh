#!/usr/bin/env bash
# One Windows Installer package end to end, in the running Wine session of
# scripts/test.sh (WINEPREFIX set, wineserver up):
#   install silently; the installed program starts, alerts and writes the
#   Application log (the end-to-end driver's Installed test, with Wine's
#   event log trace caught in a file); then, with what the program leaves
#   behind made (the autostart value, the logon tasks, the INI file, the
#   user's kept state, in the 64-bit pass under a drawn root's name), remove
#   silently and check that nothing is left.
#   msi-pass.sh PACKAGE.msi x64|x86 DRIVER.exe
set -uo pipefail
package=$1 arch=$2 driver=$3
c=$WINEPREFIX/drive_c
case "$arch" in
  x64) folder="Program Files" ;;
  x86) folder="Program Files (x86)" ;;
esac
installed="$c/$folder/Keywarden"
# Windows puts a per-machine shortcut among all users' programs; Wine's
# msiexec puts it among the installing user's.
shortcuts=("$c/ProgramData/Microsoft/Windows/Start Menu/Programs/Keywarden.lnk"
  "$c/users/$(id -un)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Keywarden.lnk")
# Wine's Task Scheduler keeps each task as a file.
task="$c/windows/system32/tasks/Keywarden"
source_key='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Keywarden'
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
failures=0
check() {  # check WHAT COMMAND...: one step's outcome
  local what=$1
  shift
  if "$@" >/dev/null 2>&1; then
    echo "msi-pass: ok: $what"
  else
    echo "msi-pass: FAILED: $what"
    failures=$((failures + 1))
    return 1
  fi
}
absent() { ! "$@"; }
# The installer and the tools are bounded: a hung one fails the step.
w() { timeout 120 "$KW_WINE" "$@"; }

cp "$package" "$c/keywarden.msi"
check "silent install" w msiexec /i 'C:\keywarden.msi' /qn
check "program installed" test -f "$installed/Keywarden.exe"
check "readme installed" test -f "$installed/ReadMe.txt"
check "Start-menu shortcut" sh -c 'test -f "$0" || test -f "$1"' "${shortcuts[@]}"
check "event source registered" \
  sh -c "timeout 60 \"$KW_WINE\" reg query '$source_key' /v EventMessageFile | grep -qi 'Keywarden\\\\Keywarden.exe'"

trace=$(mktemp /tmp/keywarden-eventlog.XXXXXX)
program="C:\\$folder\\Keywarden\\Keywarden.exe"
# The program started by the driver writes its trace to the driver's stderr.
run_installed() {
  KW_PROGRAM="$program" KW_EVENT_TRACE="$trace" WINEDEBUG=-all,+eventlog \
    timeout 120 "$KW_WINE" "$driver" --gtest_filter='Installed.*' 2>"$trace"
}
check "the installed program alerts and writes the Application log" run_installed
check "event log strings traced" grep -q 'ReportEventW L' "$trace"

# What the program leaves when the user has used it: the autostart value,
# the logon task of "开机启动" and the settings beside it.
w reg add "$run_key" /v Keywarden /d "\"$program\"" /f >/dev/null 2>&1
cat >"$c/keywarden-task.xml" <<XML
<?xml version="1.0"?>
<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">
  <Triggers><LogonTrigger><Enabled>true</Enabled></LogonTrigger></Triggers>
  <Principals><Principal id="Author"><RunLevel>HighestAvailable</RunLevel></Principal></Principals>
  <Actions Context="Author"><Exec><Command>$program</Command></Exec></Actions>
</Task>
XML
w schtasks /Create /TN Keywarden /XML 'C:\keywarden-task.xml' /F >/dev/null 2>&1
check "logon task made" test -f "$task"
# The installed program kept its state in the user's folder, named by the
# user's SID, as is the user's own logon task.
state_root="$c/ProgramData/Keywarden"
user_folder=$(ls -d "$state_root"/S-1-* 2>/dev/null | head -n 1)
sid=${user_folder##*/}
check "the user's state kept in the state root" test -f "$user_folder/Keywarden.state"
w schtasks /Create /TN "Keywarden $sid" /XML 'C:\keywarden-task.xml' /F >/dev/null 2>&1
user_task="$c/windows/system32/tasks/Keywarden $sid"
check "the user's logon task made" test -f "$user_task"
printf '[Options]\r\n' >"$installed/Keywarden.ini"
# The 64-bit pass removes a root of a drawn name, as the guard makes where a
# user's program held the usual one first: the guard's note names it, and
# the folder in the way, a user's program's own, is left. The 32-bit pass
# removes the usual root.
kept_root=$state_root
if [ "$arch" = x64 ]; then
  kept_root="$c/ProgramData/Keywarden.0123456789abcdef"
  mv "$state_root" "$kept_root"
  w reg add 'HKLM\SOFTWARE\Keywarden' /v StateRootName /d "${kept_root##*/}" /reg:64 /f >/dev/null 2>&1
  mkdir -p "$state_root" && echo "a program's own" >"$state_root/own.txt"
fi

check "silent removal" w msiexec /x 'C:\keywarden.msi' /qn
check "no program folder left" absent test -e "$installed" ||
  find "$installed" -printf 'msi-pass: left: %P\n' 2>/dev/null
check "no shortcut left" absent sh -c 'test -e "$0" || test -e "$1"' "${shortcuts[@]}"
check "no event source left" absent w reg query "$source_key"
check "no autostart value left" absent w reg query "$run_key" /v Keywarden
check "no logon task left" absent test -e "$task"
check "no user's logon task left" absent test -e "$user_task"
check "no kept state left" absent test -e "$kept_root"
if [ "$arch" = x64 ]; then
  check "the folder in the usual root's way left" test -f "$state_root/own.txt"
  rm -rf "$state_root"
fi
check "no note of the state root left" absent w reg query 'HKLM\SOFTWARE\Keywarden' /reg:64
rm -f "$c/keywarden.msi" "$c/keywarden-task.xml" "$trace"
[ "$failures" -eq 0 ]
