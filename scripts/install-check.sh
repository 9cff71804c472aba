#!/usr/bin/env bash
# Builds the Debian package from build/, installs it with apt, and runs the
# installed programs: tarvo-cli's help, a header and a Max Freqs on the
# bundled recording, and tarvo under Xvfb until its window appears and F1
# opens its manual. The package is removed again at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive
top=$PWD

(cd build && cpack -G DEB >/dev/null)
deb=$(ls -t build/tarvo_*.deb | head -n 1)
echo "install-check: $deb"
if command -v lintian >/dev/null; then
  lintian --allow-root --fail-on error "$deb"
fi

apt-get install -y --no-install-recommends "$top/$deb" >/dev/null
trap 'apt-get remove -y tarvo >/dev/null 2>&1 || true' EXIT

work=$(mktemp -d)
cd "$work"
# Each output is taken whole before it is searched: a grep -q that stops
# reading at its match would leave a longer output to die of SIGPIPE, which
# pipefail reports as a failure.
help=$(/usr/bin/tarvo-cli --help)
grep -q -- '--header' <<<"$help"
/usr/bin/tarvo-cli --version
header=$(/usr/bin/tarvo-cli --chunk 256 --header "$top/samples/tone3k.wav")
grep -q '^Sample Rate: 22050$' <<<"$header"
freqs=$(/usr/bin/tarvo-cli --chunk 256 --header --low 20 --high 8000 --freqs "$top/samples/tone3k.wav")
grep -E '^Aver Freq: 30[0-9][0-9]\.[0-9]+ Hz$' <<<"$freqs"
# The meter's picture loads the Qt module from where it is installed.
meter=$(/usr/bin/tarvo-cli --meter --meter-png meter.png "$top/samples/tone3k.wav")
grep -q '^Meter channel 1 ' <<<"$meter"
test -s meter.png
test -f /usr/share/tarvo/3khz.wav
test -f /usr/share/applications/org.tarvo.Tarvo.desktop
test -f /usr/share/icons/hicolor/48x48/apps/org.tarvo.Tarvo.png
man -w tarvo-cli >/dev/null
# The manual the help commands open, with its pictures.
manual=$(cat /usr/share/tarvo/manual/index.html)
grep -q '<a href="using-the-help.html">Using the help</a>' <<<"$manual"
test -f /usr/share/tarvo/manual/using-the-help.html
test -s /usr/share/tarvo/manual/docs/meter.png
# The machine-readable copyright file, with the programs' licence.
copyright=$(cat /usr/share/doc/tarvo/copyright)
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' <<<"$copyright"
grep -q '^License: GPL-3+$' <<<"$copyright"

# The window, on a virtual display, until it shows its title.
disp=:$(( 90 + RANDOM % 100 ))
Xvfb "$disp" -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb=$!
sleep 1
DISPLAY=$disp /usr/bin/tarvo "$top/samples/tone3k.wav" >/dev/null 2>&1 &
app=$!
found=""
for _ in $(seq 1 50); do
  if DISPLAY=$disp xdotool search --onlyvisible --name 'tone3k.wav - Quillon' >/dev/null 2>&1; then
    found=yes
    break
  fi
  sleep 0.2
done
# F1 opens the installed manual in the help window.
helped=""
if [ -n "$found" ]; then
  DISPLAY=$disp xdotool search --onlyvisible --name 'tone3k.wav - Quillon' windowfocus --sync key F1 >/dev/null 2>&1 || true
  for _ in $(seq 1 50); do
    if DISPLAY=$disp xdotool search --onlyvisible --name '^Tarvo manual$' >/dev/null 2>&1; then
      helped=yes
      break
    fi
    sleep 0.2
  done
fi
kill "$app" 2>/dev/null || true
kill "$xvfb" 2>/dev/null || true
wait 2>/dev/null || true
rm -rf "$work"
[ -n "$found" ] || { echo "install-check: the window of the installed tarvo did not appear" >&2; exit 1; }
[ -n "$helped" ] || { echo "install-check: F1 did not open the installed manual" >&2; exit 1; }
echo "install-check: passed"
