#!/usr/bin/env bash
# Builds a static libcurl for 64-bit Windows from Debian's own curl source
# package (its security fixes applied), for the Windows program's alert
# mail: Windows' own TLS (Schannel), HTTP(S) and SMTP(S), nothing that needs
# another library. The result is DEST/curl (include/, lib/libcurl.a).
#
# The source comes through scripts/debian-source.sh, which leaves the
# machine's apt configuration as it is. Quick when DEST/curl is
# there already. The compile runs at the lowest priority on one job: on a
# shared machine other builds go first.
#
# Usage: scripts/fetch-curl.sh DEST
set -euo pipefail
dest=$(realpath -m "${1:?usage: fetch-curl.sh DEST}")
[[ -f $dest/curl/lib/libcurl.a && -f $dest/curl/include/curl/curl.h ]] && exit 0

triplet=x86_64-w64-mingw32
work=$dest/curl-source
rm -rf "$work"
version=$(bash "$(dirname "${BASH_SOURCE[0]}")/debian-source.sh" curl "$work")

# Only what the alert mail needs: HTTP(S) and SMTP(S) over Schannel. No
# compression, IDN, PSL, SSH, LDAP, HTTP/2 or HTTP/3 libraries: the program
# stays one file that needs the system's DLLs only.
nice -n 19 cmake -S "$work/src" -B "$work/build" -G "Unix Makefiles" \
  -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR=x86_64 \
  -DCMAKE_C_COMPILER=$triplet-gcc-posix -DCMAKE_RC_COMPILER=$triplet-windres \
  -DCMAKE_FIND_ROOT_PATH=/usr/$triplet -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER \
  -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY \
  -DCMAKE_FIND_ROOT_PATH_MODE_PACKAGE=ONLY \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$dest/curl" \
  -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF \
  -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_USE_MBEDTLS=OFF -DCURL_USE_WOLFSSL=OFF \
  -DCURL_USE_BEARSSL=OFF -DCURL_USE_NSS=OFF -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBSSH=OFF \
  -DCURL_USE_GSSAPI=OFF -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_LIBIDN2=OFF \
  -DUSE_WIN32_IDN=OFF -DUSE_NGHTTP2=OFF -DUSE_NGTCP2=OFF -DUSE_QUICHE=OFF -DUSE_MSH3=OFF \
  -DUSE_LIBRTMP=OFF -DCURL_DISABLE_LDAP=ON -DCURL_DISABLE_LDAPS=ON \
  -DCURL_DISABLE_FTP=ON -DCURL_DISABLE_FILE=ON -DCURL_DISABLE_DICT=ON -DCURL_DISABLE_TELNET=ON \
  -DCURL_DISABLE_TFTP=ON -DCURL_DISABLE_POP3=ON -DCURL_DISABLE_IMAP=ON -DCURL_DISABLE_RTSP=ON \
  -DCURL_DISABLE_GOPHER=ON -DCURL_DISABLE_MQTT=ON -DCURL_DISABLE_SMB=ON \
  -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none >"$work/configure.log" 2>&1 ||
  { tail -n 40 "$work/configure.log" >&2; exit 1; }
nice -n 19 cmake --build "$work/build" -j1 --target libcurl >"$work/build.log" 2>&1 ||
  { tail -n 40 "$work/build.log" >&2; exit 1; }
rm -rf "$dest/curl.new"
mkdir -p "$dest/curl.new/lib" "$dest/curl.new/include"
cp -r "$work/src/include/curl" "$dest/curl.new/include/"
cp "$work/build/lib/libcurl.a" "$dest/curl.new/lib/"
cp "$work/src/COPYING" "$dest/curl.new/COPYING"
echo "$version" >"$dest/curl.new/VERSION"
rm -rf "$dest/curl"
mv "$dest/curl.new" "$dest/curl"
rm -rf "$work"
echo "fetch-curl: static libcurl $version for Windows in $dest/curl"
