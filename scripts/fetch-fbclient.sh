#!/usr/bin/env bash
# Builds the Firebird 3.0 client library for 64-bit Windows, fbclient.dll,
# from Debian's own firebird3.0 source package (its security fixes applied),
# with mingw-w64: the remote protocol over TCP, the Srp, legacy and Windows
# logins, wire encryption (Arc4) and compression (zlib1.dll, loaded when
# present). libgcc, libstdc++, winpthread and libtommath (from Debian's
# libtommath source) are linked in, so the DLL needs only the system's DLLs.
# The result is DEST/fbclient (fbclient.dll, the licences, VERSION).
#
# Firebird's mingw build is from 32-bit MinGW days and its posix build does
# not expect to cross-compile; what it takes is done below, each step says
# why. Nothing of the client is written here: its export list is the posix
# build's own (builds/posix/firebird.vers, the symbols of libfbclient.so).
#
# Quick when DEST/fbclient is there already. The compile runs at the lowest
# priority on one job (on a shared machine other builds go first), or on
# every core when CI is set (a CI machine has nothing else to do).
#
# Usage: scripts/fetch-fbclient.sh DEST
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
dest=$(realpath -m "${1:?usage: fetch-fbclient.sh DEST}")
[[ -f $dest/fbclient/fbclient.dll ]] && exit 0

triplet=x86_64-w64-mingw32
work=$dest/fbclient-source
jobs=1
if [[ -n ${CI:-} ]]; then jobs=$(nproc 2>/dev/null || echo 2); fi
started=$SECONDS
rm -rf "$work"
mkdir -p "$work"

# Runs a step quietly into its log; on failure shows the log's end.
step() {
  local log=$work/$1.log
  shift
  nice -n 19 "$@" >>"$log" 2>&1 || {
    tail -n 40 "$log" >&2
    echo "fetch-fbclient: failed: $* (log: $log)" >&2
    exit 1
  }
}

version=$(bash "$here/debian-source.sh" firebird3.0 "$work/firebird")
tommath_version=$(bash "$here/debian-source.sh" libtommath "$work/tommath")
src=$work/firebird/src

# The cross compiler's extra headers and libraries. Debian packages no ICU
# and no libtommath for mingw: libtommath is cross-built from its source;
# of ICU the client needs the headers only (it loads ICU at run time, for
# collations it never uses), and Boost is headers only as well.
cross=$work/cross
mkdir -p "$cross/include" "$cross/lib"
step tommath make -C "$work/tommath/src" -j"$jobs" CC=$triplet-gcc-posix AR=$triplet-ar \
  RANLIB=$triplet-ranlib libtommath.a
cp "$work/tommath/src/libtommath.a" "$cross/lib/"
cp "$work/tommath/src"/tommath*.h "$cross/include/"
ln -s /usr/include/unicode "$cross/include/unicode"
ln -s /usr/include/boost "$cross/include/boost"
# The Windows code includes headers as Windows.h, WinSock2.h, ... (MSVC's
# spelling); mingw-w64's are lower case, on a case-sensitive file system.
mingw_include=/usr/share/mingw-w64/include
for name in Windows.h WinSock2.h Winsock2.h Ws2tcpip.h Wspiapi.h Security.h; do
  ln -s "$mingw_include/${name,,}" "$cross/include/$name"
done

# The build runs tools it has just built (gpre_boot preprocesses array.epp
# and blob.epp; cloop makes the interface header, btyacc the parser's
# keyword header): a native build of the same source, as far as those
# tools, makes them for the cross build.
native=$work/native
cp -a "$src" "$native"
(cd "$native" && step native-autogen env NOCONFIGURE=1 ./autogen.sh)
(cd "$native" && step native-configure ./configure --disable-rpath --without-editline)
ln -sf "$native/src/include/gen/autoconfig.auto" "$native/src/include/gen/autoconfig.h"
for target in updateBuildNum export_lists extern updateCloopInterfaces boot; do
  step native-make make -C "$native/gen" -j"$jobs" TARGET=Release "$target"
done
gpre_boot=$native/gen/Release/firebird/bin/gpre_boot
cloop=$native/gen/Release/cloop/release/bin/cloop
btyacc=$native/extern/btyacc/btyacc
[[ -x $gpre_boot && -x $cloop && -x $btyacc ]] || { echo "fetch-fbclient: the native tools were not built" >&2; exit 1; }

# Debian's fbserver-startup patch signals the guardian with kill(), which
# Windows does not have; it concerns the server only.
(cd "$src" && step cross-patch patch -R -p1 <"$src/debian/patches/out/fbserver-startup.patch")
# The Windows client also offers the Windows login (Win_Sspi), which its
# provider registers; the posix object lists leave that source out.
sed -i 's|\$(call dirObjects,plugins/crypt/arc4)|& $(call makeObjects,auth/trusted,AuthSspi.cpp)|' \
  "$src/builds/posix/make.shared.variables"
grep -q 'auth/trusted,AuthSspi' "$src/builds/posix/make.shared.variables" ||
  { echo "fetch-fbclient: the client's object list was not found" >&2; exit 1; }
# The mingw prefix: C++03 as on Linux (the code's throw() specifications);
# AMD64 for the 64-bit Windows code paths (__control87_2 is 32-bit only);
# no -Dlint (a variable of that name in common/utils.cpp) and, as in the
# Linux build's release flags, no -Wall, -Wshadow, -Wundef (thousands of
# warnings in the log); SSE 4.2 for the CRC32C code, as on Linux; the export list made
# from the posix one (the Windows .def of upstream's tree is not in Debian's
# source); the compiler's runtime linked in, no DLL of its own, stripped;
# SSPI for the Windows login; the extra headers and libraries above
# (configure's CPPFLAGS and LDFLAGS do not reach these make files).
cat >>"$src/builds/posix/prefix.mingw" <<EOF

# fetch-fbclient.sh: a 64-bit client with mingw-w64
CXXFLAGS+=-std=gnu++03
PROD_FLAGS:=\$(filter-out -Dlint -Wall -Wshadow -Wundef,\$(PROD_FLAGS)) -DAMD64 -I$cross/include
LINK_FIREBIRD_SYMBOLS=\$(GEN_ROOT)/fbclient.def
LIB_LINK_OPTIONS+=-L$cross/lib -static -static-libgcc -static-libstdc++ -Wl,-s
LINK_FIREBIRD_LIBS+=-lsecur32
%/CRC32C.o: CXXFLAGS+=-msse4
EOF
(cd "$src" && step cross-autogen env NOCONFIGURE=1 ./autogen.sh)
# configure cannot look for /proc/self/maps when cross-compiling (Windows
# has none), and its ICU check links a library that is not there for mingw.
(cd "$src" && step cross-configure ./configure --build=x86_64-linux-gnu --host=$triplet \
  CC=$triplet-gcc-posix CXX=$triplet-g++-posix CPPFLAGS="-I$cross/include" LDFLAGS="-L$cross/lib" \
  --disable-rpath --without-editline ac_cv_file__proc_self_maps=no ac_cv_lib_icuuc_main=yes)
ln -sf "$src/src/include/gen/autoconfig.auto" "$src/src/include/gen/autoconfig.h"
{
  echo "EXPORTS"
  grep -E '^[[:space:]]*[A-Za-z_][A-Za-z0-9_]*[[:space:]]*$' "$src/builds/posix/firebird.vers" | tr -d ' \t'
} >"$src/gen/fbclient.def"
(($(wc -l <"$src/gen/fbclient.def") > 200)) ||
  { echo "fetch-fbclient: the export list from firebird.vers is too short" >&2; exit 1; }
# The size check of the on-disk structures runs a program just built, which
# cannot run here; the client does not read database pages.
for target in updateBuildNum export_lists updateCloopInterfaces yvalve; do
  step cross-make make -C "$src/gen" -j"$jobs" TARGET=Release CLOOP="$cloop" BTYACC="$btyacc" \
    GPRE_CURRENT="$gpre_boot" "$target"
done
dll=$(find "$src/gen/Release/firebird/bin" -maxdepth 1 -type f -name 'libfbclient.dll*' -print -quit)
[[ -n $dll ]] || { echo "fetch-fbclient: the link made no libfbclient.dll" >&2; exit 1; }

# Only the system's DLLs: anything else would have to be shipped beside it.
imports=$($triplet-objdump -p "$dll" | awk '/DLL Name:/ { print tolower($3) }' | sort -u)
for name in $imports; do
  case $name in
    advapi32.dll | kernel32.dll | mpr.dll | msvcrt.dll | ole32.dll | shell32.dll | user32.dll | ws2_32.dll | \
      secur32.dll | version.dll | comctl32.dll | gdi32.dll) ;;
    *) echo "fetch-fbclient: fbclient.dll needs $name, which Windows does not have" >&2; exit 1 ;;
  esac
done

rm -rf "$dest/fbclient.new"
mkdir -p "$dest/fbclient.new"
cp "$dll" "$dest/fbclient.new/fbclient.dll"
cp "$src/builds/install/misc/IDPLicense.txt" "$src/builds/install/misc/IPLicense.txt" "$dest/fbclient.new/"
cp "$work/tommath/src/LICENSE" "$dest/fbclient.new/libtommath-LICENSE"
printf 'firebird3.0 %s\nlibtommath %s\n' "$version" "$tommath_version" >"$dest/fbclient.new/VERSION"
rm -rf "$dest/fbclient"
mv "$dest/fbclient.new" "$dest/fbclient"
rm -rf "$work"
echo "fetch-fbclient: fbclient.dll of Firebird $version for Windows in $dest/fbclient" \
  "($(stat -c %s "$dest/fbclient/fbclient.dll") bytes, built in $((SECONDS - started)) s)"
