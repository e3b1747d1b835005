#!/usr/bin/env bash
# Fetches Debian's source package NAME (the version the machine's own
# Debian sources serve, security fixes included) into WORK and unpacks it
# with Debian's patches into WORK/src. The deb-src lines name the same
# archives and suites as the machine's Debian entries; they, the package
# lists and the download stay under WORK, so the machine's apt
# configuration is not changed. Prints the version fetched.
#
# Usage: scripts/debian-source.sh NAME WORK
set -euo pipefail
name=${1:?usage: debian-source.sh NAME WORK}
work=$(realpath -m "${2:?usage: debian-source.sh NAME WORK}")
mkdir -p "$work/lists/partial" "$work/sources.list.d"

# deb-src twins of the machine's Debian entries: those whose suite is this
# release's (e.g. bookworm, bookworm-updates, bookworm-security), so that
# other vendors' repositories are left out.
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:?}")
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [[ -f $f ]] || continue
  awk -v c="$codename" '$1 == "deb" { for (i = 2; i <= NF; ++i) if ($i !~ /^\[/) break;
    if ($(i + 1) == c || index($(i + 1), c "-") == 1) { $1 = "deb-src"; print } }' "$f"
done >"$work/sources.list"
for f in /etc/apt/sources.list.d/*.sources; do
  [[ -f $f ]] || continue
  # One stanza a paragraph, kept when it serves binaries of this release.
  awk -v c="$codename" 'BEGIN { RS = ""; FS = "\n" }
    { keep = 0; out = "";
      for (i = 1; i <= NF; ++i) {
        line = $i
        if (line ~ /^Types:/) { if (line ~ /[ \t]deb([ \t]|$)/) keep += 1; line = "Types: deb-src" }
        if (line ~ /^Suites:/) { n = split(substr(line, 8), s, /[ \t]+/); ok = 0
          for (j = 1; j <= n; ++j) if (s[j] == c || index(s[j], c "-") == 1) ok = 1
          if (ok) keep += 1 }
        if (line ~ /^Enabled:[ \t]*no/) keep = -9
        out = out line "\n" }
      if (keep == 2) print out }' "$f"
done >"$work/sources.list.d/debian.sources"
[[ -s $work/sources.list || -s $work/sources.list.d/debian.sources ]] ||
  { echo "debian-source: no Debian $codename entry in the machine's apt sources" >&2; exit 1; }
apt_opts=(-q -o "Dir::Etc::SourceList=$work/sources.list" -o "Dir::Etc::SourceParts=$work/sources.list.d"
  -o "Dir::State::Lists=$work/lists" -o APT::Sandbox::User=root)
apt-get "${apt_opts[@]}" update >/dev/null
(cd "$work" && apt-get "${apt_opts[@]}" source --download-only "$name" >/dev/null)
dsc=$(find "$work" -maxdepth 1 -name "${name}_*.dsc" -print -quit)
[[ -n $dsc ]] || { echo "debian-source: no $name source package was fetched" >&2; exit 1; }
rm -rf "$work/src"
(cd "$work" && dpkg-source --no-check -x "$(basename "$dsc")" src >/dev/null)
version=$(basename "$dsc" .dsc)
echo "${version#"${name}"_}"
