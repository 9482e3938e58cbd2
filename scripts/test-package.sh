#!/usr/bin/env bash
# Builds the Debian package, checks its files, unpacks it into a throw-away root and runs
# the installed program from there as an unprivileged user with an empty home: version,
# a PDF report, a CSV export and a short capture without a window on a port file. The
# program must keep its files in that user's XDG folders and write nothing beside itself.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
fail() { echo "ÉCHEC : $*" >&2; exit 1; }

echo "== Paquet Debian"
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DEVTRAK_BUILD_TESTS=OFF \
      -DEVTRAK_BUILD_BENCH=OFF >/dev/null
cmake --build build-package -j"$jobs"
rm -f build-package/evtrak_*.deb
(cd build-package && cpack -G DEB >/dev/null)
deb=$(ls build-package/evtrak_*.deb)
dpkg-deb --field "$deb" Package Version Maintainer Section Priority Installed-Size Depends
# Debian's own checks: any error fails; the warnings kept are explained in the README.
echo "== lintian"
lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian signale des erreurs"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
root=$work/root
dpkg -x "$deb" "$root"
for f in usr/bin/evtrak usr/share/applications/evtrak.desktop \
         usr/share/metainfo/fr.evtrak.Evtrak.metainfo.xml \
         usr/share/icons/hicolor/scalable/apps/evtrak.svg \
         usr/share/icons/hicolor/48x48/apps/evtrak.png \
         usr/share/icons/hicolor/128x128/apps/evtrak.png \
         usr/share/man/man1/evtrak.1.gz usr/share/evtrak/evtrak.html usr/share/evtrak/A_Lire.txt \
         usr/lib/systemd/user/evtrak-headless.service \
         usr/lib/systemd/user/evtrak-collect.service \
         usr/share/doc/evtrak/copyright usr/share/doc/evtrak/changelog.gz \
         usr/share/doc/evtrak/LiberationSans-LICENSE; do
  [ -e "$root/$f" ] || fail "$f manque dans le paquet"
done
[ ! -e "$root/usr/bin/evtrak.portable" ] || fail "le programme installé ne doit pas être portable"
grep -q '^ExecStart=evtrak --headless$' "$root/usr/lib/systemd/user/evtrak-headless.service" \
  || fail "ExecStart du service"
grep -q '^ExecStart=evtrak --collect$' "$root/usr/lib/systemd/user/evtrak-collect.service" \
  || fail "ExecStart du collecteur"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/evtrak.desktop"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$root/usr/share/metainfo/fr.evtrak.Evtrak.metainfo.xml" >/dev/null
fi
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/evtrak.1.gz" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "avertissements de man : $warnings"

# The user: nobody when run as root, else the current user; an empty home either way.
home=$work/home
mkdir -p "$home"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  chown nobody "$home"
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
run() {
  "${as_user[@]}" env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen \
    "$@"
}
evtrak=$root/usr/bin/evtrak

echo "== Programme installé, utilisateur $("${as_user[@]}" id -un)"
run "$evtrak" --version | grep -q '^evtrak ' || fail "--version"
printf 'Porte [ON];0;07/12/2026 14:03:09;0 ms\r\nPorte [OFF];0;07/12/2026 14:03:11;2250 ms\r\n' \
  > "$work/events.txt"
chmod 644 "$work/events.txt"
run "$evtrak" --report "$work/events.txt" --pdf "$home/rapport.pdf" || fail "--report"
pdftotext "$home/rapport.pdf" - | grep -q "Nombre total d'évenements" || fail "texte du rapport"
run "$evtrak" --export csv "$work/events.txt" "$home/events.csv" || fail "--export csv"
grep -q '2250;2,250' "$home/events.csv" || fail "contenu du CSV"

# A short capture: input 0 (data bit 0 of LPT1, port 0x378) goes up then down.
port=$home/port.bin
run sh -c "truncate -s 64K '$port' && printf '\200' | dd of='$port' bs=1 seek=889 conv=notrunc status=none"
# exec: $! is then the program itself, which gets the SIGTERM.
(exec "${as_user[@]}" env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 \
   "$evtrak" --headless --port-device "$port" > "$work/capture.out" 2> "$work/capture.err") &
pid=$!
sleep 2
run sh -c "printf '\001' | dd of='$port' bs=1 seek=888 conv=notrunc status=none"
sleep 1
run sh -c "printf '\000' | dd of='$port' bs=1 seek=888 conv=notrunc status=none"
sleep 1
kill -TERM "$pid"
wait "$pid" || fail "la capture s'est terminée en erreur : $(cat "$work/capture.err")"
grep -q '\[OFF\];0;' "$work/capture.out" || fail "aucun évènement capturé : $(cat "$work/capture.err")"
ls "$home"/.local/share/evtrak/Log/*.txt >/dev/null 2>&1 || fail "pas de fichier dans ~/.local/share/evtrak/Log"
grep -q '\[OFF\];0;' "$home"/.local/share/evtrak/Log/*.txt || fail "capture non sauvegardée"
[ -d "$home/.config/evtrak" ] || fail "pas de dossier ~/.config/evtrak"
extra=$(find "$root" -newer "$deb" -not -type d)
[ -z "$extra" ] || fail "fichiers écrits à côté du programme : $extra"
echo "Paquet $(basename "$deb") : installé et lancé avec les dossiers XDG."
