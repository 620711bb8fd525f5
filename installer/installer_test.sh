#!/bin/sh
# The Windows installer, silent, in a 64-bit Wine prefix of its own with fake editors: each
# chosen place gets the plug-in of its editor's bitness, which loads there; an upgrade over
# an older install and a copy from the zip leaves one copy per editor; a read-only folder
# fails with a message and changes nothing; the uninstaller leaves the user's files only.
# installer_test.sh WINDOWS_TREE WINDOWS64_TREE WORKDIR [SCREENSHOT_DIR]
# With SCREENSHOT_DIR, it goes through the setup's pages among the same fake editors instead,
# and saves a picture of each there (needs xdotool and a display).
set -u
x86=$(cd "$1" && pwd) x64=$(cd "$2" && pwd) work=$3 shots=${4:-}
here=$(cd "$(dirname "$0")/.." && pwd)
# The shipped setup is a 32-bit program; where 32-bit code cannot run, the same script is
# tested as a 64-bit one, and the 32-bit plug-ins are checked as files only.
run32=0 amd64=--amd64
if /usr/lib/wine/wine --version >/dev/null 2>&1; then run32=1 amd64=; fi
if [ -d "$work/prefix" ]; then
  WINEPREFIX=$work/prefix /usr/lib/wine/wineserver64 -k 2>/dev/null
  chmod -R u+w "$work/prefix" 2>/dev/null
fi
rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1
export CORVANEL_WINE64_PREFIX=$work/prefix
trap 'WINEPREFIX=$work/prefix /usr/lib/wine/wineserver64 -k 2>/dev/null' EXIT
fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }
# Every Wine program has a time limit: a dialog left open would fail here, not hang.
win() { timeout -k 5 180 "$here/cmake/wine-run" win64 "$@"; }
settle() { WINEPREFIX=$work/prefix timeout 60 /usr/lib/wine/wineserver64 -w; }

version=$(sed -n 's/^project(Corvanel VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
# What goes into the setup is checked first: each bitness where it belongs, the version.
sh "$here/installer/stage.sh" "$x64" "$x86" swapped "$version" 2>/dev/null &&
  bad "stage.sh took the 64-bit files for the 32-bit ones"
if sh "$here/installer/stage.sh" "$x86" "$x64" other 9.9.9.9 2>err.txt ||
  ! grep -q "version resource is not 9.9.9.9" err.txt; then
  bad "stage.sh took a plug-in of another version"
fi
# The setup shipped runs on 32-bit Windows too.
setup=$(sh "$here/installer/build.sh" "$x86" "$x64" "$work/new") || exit 1
i686-w64-mingw32-objdump -f "$setup" | grep -q 'file format pei-i386' ||
  bad "the setup shipped is not a 32-bit program"
[ $run32 = 1 ] || setup=$(sh "$here/installer/build.sh" $amd64 "$x86" "$x64" "$work/new64") || exit 1
older=$(sh "$here/installer/build.sh" $amd64 "$x86" "$x64" "$work/old" 2.0.0.0) || exit 1
win wineboot -i >/dev/null 2>&1
settle

c=$work/prefix/drive_c
pf="$c/Program Files" pf86="$c/Program Files (x86)"
ps20="$pf/Adobe/Adobe Photoshop 2020" cs5="$pf86/Adobe/Adobe Photoshop CS5"
cs6="$pf/Adobe/Adobe Photoshop CS6" shared="$pf/Common Files/Adobe/Plug-Ins/CC"
irfan="$pf/IrfanView" inst="$pf/Tessory/Corvanel"
# Editors made of our own commands: a PE header is what says an editor's bitness.
mkdir -p "$ps20/Plug-ins" "$cs5/Plug-ins/Filters" "$cs6/Plug-ins" "$shared" "$irfan/Plugins" \
  "$pf/Affinity/Photo 2"
cp "$x64/corvanel.exe" "$ps20/Photoshop.exe"
cp "$x86/corvanel.exe" "$cs5/Photoshop.exe"
cp "$x64/corvanel.exe" "$cs6/Photoshop.exe" # found by its folder only
cp "$x64/corvanel.exe" "$irfan/i_view64.exe"
cp "$x64/corvanel.exe" "$pf/Affinity/Photo 2/Photo.exe"
cp "$x86/Corvanel.8bf" "$cs5/Plug-ins/Filters/Corvanel.8bf" # copied by hand from the zip
echo mine >"$cs5/Plug-ins/mine.8bf"
echo mine >"$shared/mine.8bf"
printf 'Windows Registry Editor Version 5.00\r\n
[HKEY_LOCAL_MACHINE\\SOFTWARE\\Adobe\\Photoshop\\140.0]\r\n"ApplicationPath"="C:\\\\Program Files\\\\Adobe\\\\Adobe Photoshop 2020\\\\"\r\n
[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Adobe\\Photoshop\\12.0]\r\n"ApplicationPath"="C:\\\\Program Files (x86)\\\\Adobe\\\\Adobe Photoshop CS5\\\\"\r\n' >fake.reg
win regedit /S fake.reg
path_key='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
uninst_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Corvanel'
reg_value() { win reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"; }
path0=$(reg_value "$path_key" Path)
logw=$(win winepath -w "$work/log.txt" 2>/dev/null)
convert -size 24x16 xc:'#ffc85a' -fill white -draw 'point 5,5' PNG24:in.png

if [ -n "$shots" ]; then
  mkdir -p "$shots"
  shots=$(cd "$shots" && pwd)
  timeout -k 2 300 "$here/cmake/wine-run" win64 "$setup" >/dev/null 2>&1 &
  pid=$!
  for page in welcome components folder finish; do
    window=""
    for _ in $(seq 60); do
      window=$(xdotool search --name "Corvanel $version Setup" 2>/dev/null | tail -n 1)
      [ -n "$window" ] && break
      sleep 1
    done
    sleep 3
    [ $page = finish ] && sleep 5
    if [ $page = components ]; then  # the description of the first editor
      eval "$(xdotool getwindowgeometry --shell "$window")"
      xdotool mousemove $((X + 250)) $((Y + 150)) sleep 0.5 mousemove $((X + 260)) $((Y + 137))
      sleep 2
    fi
    import -window "$window" "$shots/installer-$page.png"
    xdotool windowfocus --sync "$window" key Return
  done
  wait $pid
  exit 0
fi

# run SETUP STATUS ARGS...: the setup, silent, ending with STATUS.
run() {
  exe=$1 want=$2
  shift 2
  rm -f log.txt
  win "$exe" /S "/LOG=$logw" "$@"
  got=$?
  settle
  [ "$got" -eq "$want" ] || { bad "$(basename "$exe") $*: status $got, wanted $want"; cat log.txt 2>/dev/null >&2; }
}
# loads FILE ARCH: the command of that bitness applies the plug-in at FILE.
loads() {
  rm -f out.png
  cmd=$x64/corvanel.exe
  if [ "$2" = i386 ]; then
    [ $run32 = 1 ] || return 0
    cmd=$x86/corvanel.exe
  fi
  win "$cmd" --plugin "$(win winepath -w "$1")" in.png out.png --quiet --radius 3 >/dev/null 2>err.txt &&
    [ -s out.png ] || { bad "$1 did not load: $(cat err.txt)"; }
}
# is FILE ARCH: the plug-in of that bitness is there, and loads.
is() {
  if [ ! -f "$1" ]; then
    bad "no $1"
    return
  fi
  x86_64-w64-mingw32-objdump -f "$1" | grep -q "file format pei-$2" || bad "$1 is not $2"
  loads "$1" "$2"
}
copies() { find "$@" -iname corvanel.8bf | wc -l; }

# An older version with some of the choices; this one over it keeps them, then takes others.
on_path() {
  case ";$(reg_value "$path_key" Path);" in
    *";C:\\Program Files\\Tessory\\Corvanel;"*";C:\\Program Files\\Tessory\\Corvanel;"*)
      bad "PATH names the command's folder twice" ;;
    *";C:\\Program Files\\Tessory\\Corvanel;"*) ;;
    *) bad "PATH does not name the command's folder: $(reg_value "$path_key" Path)" ;;
  esac
}
run "$older" 0 /SELECT=Adobe-Photoshop-2020-x64,IrfanView-x64,command,path
[ "$(reg_value "$uninst_key" DisplayVersion)" = 2.0.0.0 ] || bad "the older version is not registered"
on_path
run "$setup" 0
is "$ps20/Plug-ins/Corvanel.8bf" x86-64
[ "$(copies "$shared" "$cs6" "$pf/Tessory")" = 1 ] || bad "the upgrade did not keep the earlier choices"
[ -f "$irfan/Plugins/Adobe 8BF/Corvanel.8bf" ] || bad "the upgrade dropped IrfanView"
[ "$(reg_value "$uninst_key" DisplayVersion)" = "$version" ] || bad "DisplayVersion is not $version"
on_path
run "$setup" 0 /SELECT=Adobe-Photoshop-2020-x64,Adobe-Photoshop-CS5-x86,Adobe-Photoshop-CS6-x64,Photoshop-shared-x64,IrfanView-x64,folder,command
cp log.txt upgrade-log.txt
is "$shared/Corvanel.8bf" x86-64
is "$cs5/Plug-ins/Corvanel.8bf" i386
is "$cs6/Plug-ins/Corvanel.8bf" x86-64
is "$irfan/Plugins/Adobe 8BF/Corvanel.8bf" x86-64
is "$inst/Plug-ins/Corvanel.8bf" x86-64 # Affinity Photo's, named on the finish page
is "$inst/Corvanel.8bf" x86-64
x86_64-w64-mingw32-objdump -f "$inst/corvanel.exe" | grep -q pei-x86-64 || bad "the command is not 64-bit"
win "$(win winepath -w "$inst/corvanel.exe")" in.png own.png --quiet >/dev/null 2>&1 ||
  bad "the installed command does not run with the plug-in beside it"
# One copy per editor: Photoshop 2020 reads the shared folder, so its own copy went; so
# did the copy from the zip in CS5's Filters folder.
[ "$(copies "$ps20" "$shared")" = 1 ] || bad "Photoshop 2020 sees $(copies "$ps20" "$shared") copies"
[ "$(copies "$cs5")" = 1 ] || bad "Photoshop CS5 sees $(copies "$cs5") copies"
[ "$(find "$c" -name '*.corvanel-*' | wc -l)" = 0 ] || bad "staged files were left: $(find "$c" -name '*.corvanel-*')"
[ "$(reg_value "$uninst_key" Publisher)" = Tessory ] || bad "the publisher is not Tessory"
[ "$(reg_value "$path_key" Path)" = "$path0" ] || bad "PATH not restored when no longer chosen"
[ -f "$cs5/Plug-ins/mine.8bf" ] && [ -f "$shared/mine.8bf" ] || bad "a user's plug-in went"

# Nothing changes when a place cannot be written, and the message says which and why: a
# read-only plug-in (its folder too, which root could write all the same), then a plug-in
# an editor has loaded, held by the command's dialog.
snapshot() { (cd "$c" && find . -path ./windows -prune -o -path ./users -prune -o -type f -print | sort | xargs -d '\n' md5sum); reg_value "$uninst_key" DisplayVersion; reg_value "$path_key" Path; }
snapshot >before.txt
chmod 444 "$cs6/Plug-ins/Corvanel.8bf"
chmod 555 "$cs6/Plug-ins"
run "$setup" 2 /SELECT=IrfanView-x64,Photoshop-shared-x64,Adobe-Photoshop-CS6-x64,command,path
grep -q 'cannot write .*Photoshop CS6.Plug-ins.Corvanel.8bf: access is denied.*Nothing was changed' log.txt ||
  bad "no message on the read-only plug-in: $(cat log.txt 2>/dev/null)"
chmod 755 "$cs6/Plug-ins"
chmod 644 "$cs6/Plug-ins/Corvanel.8bf"
timeout -k 2 120 "$here/cmake/wine-run" win64 "$x64/corvanel.exe" --plugin \
  "$(win winepath -w "$irfan/Plugins/Adobe 8BF/Corvanel.8bf")" in.png held.png --dialog >/dev/null 2>&1 &
held=$!
for _ in $(seq 60); do
  xwininfo -root -tree 2>/dev/null | grep -q Corvanel && break
  sleep 1
done
run "$setup" 2
grep -q 'cannot write .*IrfanView.Plugins.Adobe 8BF.Corvanel.8bf: the file is in use' log.txt ||
  bad "no message on the plug-in in use: $(cat log.txt 2>/dev/null)"
kill $held 2>/dev/null
wait $held 2>/dev/null
settle
rm -f held.png
# Refused before anything is written: a folder that two choices of both bitnesses would
# share (Corvanel's own folder made Photoshop CS5's), and a PATH longer than the setup's
# strings, which rewriting would cut.
# (/D= must come last and unquoted: through cmd, as Wine would quote an argument with spaces)
rm -f log.txt
win cmd /c "$(win winepath -w "$setup") /S /SELECT=Adobe-Photoshop-CS5-x86,folder /LOG=$logw /D=C:\Program Files (x86)\Adobe\Adobe Photoshop CS5" >/dev/null 2>&1
settle
grep -q 'CS5.Plug-ins.Corvanel.8bf, one 64-bit and one 32-bit' log.txt ||
  bad "two bitnesses for one folder were not refused: $(cat log.txt 2>/dev/null)"
long="$path0;C:\\$(printf '%01100d' 0)"
win reg add "$path_key" /v Path /t REG_EXPAND_SZ /d "$long" /f >/dev/null 2>&1
run "$setup" 2 /SELECT=command,path
grep -q 'cannot add .* to PATH: PATH is longer' log.txt || bad "a long PATH was not refused"
[ "$(reg_value "$path_key" Path)" = "$long" ] || bad "a long PATH was changed"
win reg add "$path_key" /v Path /t REG_EXPAND_SZ /d "$path0" /f >/dev/null 2>&1
snapshot >after.txt
cmp -s before.txt after.txt || { bad "a failed install changed something:"; diff before.txt after.txt >&2; }
run "$setup" 2 /SELECT=GIMP-x64
grep -q 'GIMP-x64 was asked for, but no such editor' log.txt || bad "an unknown choice was not refused"

# The uninstaller removes what it installed, and nothing a user put beside it.
echo mine >"$irfan/Plugins/Adobe 8BF/mine.8bf"
echo mine >"$inst/Plug-ins/mine.8bf"
win "$(win winepath -w "$inst/uninstall.exe")" /S
settle
left=$(find "$c" -path "$c/windows" -prune -o -path "$c/users" -prune -o -type f -iname '*corvanel*' -print)
[ -z "$left" ] || bad "the uninstaller left: $left"
[ -f "$irfan/Plugins/Adobe 8BF/mine.8bf" ] && [ -f "$inst/Plug-ins/mine.8bf" ] &&
  [ -f "$shared/mine.8bf" ] || bad "the uninstaller removed a user's file"
[ ! -e "$inst/uninstall.exe" ] && [ "$(ls "$inst")" = Plug-ins ] || bad "the uninstaller left: $(ls "$inst")"
[ -z "$(reg_value "$uninst_key" DisplayName)" ] || bad "still in Apps and Features"

# With no editor here the silent default refuses and installs nothing.
rm -rf "$pf/Adobe" "$pf86/Adobe" "$pf/Common Files/Adobe" "$irfan" "$pf/Affinity" "$pf/Tessory"
win reg delete 'HKLM\SOFTWARE\Adobe' /f >/dev/null 2>&1
win reg delete 'HKLM\SOFTWARE\Wow6432Node\Adobe' /f >/dev/null 2>&1
run "$setup" 2
grep -q 'no editor was found' log.txt || bad "no message without an editor: $(cat log.txt 2>/dev/null)"
[ ! -e "$pf/Tessory" ] || bad "an install without an editor left files"
# ...but installs Corvanel's own folder and the command where asked.
run "$setup" 0 /SELECT=folder,command '/D=C:\Tools\Corvanel'
is "$c/Tools/Corvanel/Plug-ins/Corvanel.8bf" x86-64
[ -f "$c/Tools/Corvanel/corvanel.exe" ] || bad "/D= was not followed"
[ $fail = 0 ] && echo "installer: every case passed"
exit $fail
