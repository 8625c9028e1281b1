# libcurl for the Windows build of the mail companion. Debian ships no libcurl for mingw-w64, so it
# is built from Debian's own curl source package (its security patches applied by dpkg-source, the
# files checked by apt against the signed source index), for SMTP alone, with Windows' own TLS
# (Schannel) so that no OpenSSL is needed. Sourced by scripts/test-windows after common.sh.

# keep_win_curl DIR: installs a static libcurl into DIR (DIR/include, DIR/lib/libcurl.a) unless it is
# there already. Needs network access to Debian's source archive on the first run.
keep_win_curl() {
  local dest
  dest="$(realpath -m "$1")"
  [ -f "$dest/lib/libcurl.a" ] && [ -f "$dest/include/curl/curl.h" ] && return 0
  keep_require_packages dpkg-dev make
  local work="$dest.work"
  rm -rf "$work" "$dest"
  mkdir -p "$work/lists/partial"
  # A private source list and package state: the machine's own apt setup is left as it is.
  local suite
  suite="$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")"
  cat >"$work/sources.list" <<EOF
deb-src http://deb.debian.org/debian $suite main
EOF
  local apt=(apt-get -q -o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts=/dev/null
    -o Dir::State::Lists="$work/lists")
  echo "libcurl for Windows: fetching Debian's curl source"
  "${apt[@]}" update >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; return 1; }
  (cd "$work" && "${apt[@]}" source --download-only curl >>"$work/apt.log" 2>&1) || {
    cat "$work/apt.log" >&2
    return 1
  }
  (cd "$work" && dpkg-source -x ./curl_*.dsc src >>"$work/apt.log" 2>&1) || { cat "$work/apt.log" >&2; return 1; }
  echo "libcurl for Windows: building $(cd "$work" && ls curl_*.dsc)"
  mkdir -p "$work/build"
  # SMTP, and HTTP which the SMTP code needs for its header limits; every other protocol and
  # optional library left out keeps the companion small.
  (cd "$work/build" && CC=x86_64-w64-mingw32-gcc-posix ../src/configure --host=x86_64-w64-mingw32 \
    --prefix="$dest" --with-schannel --without-openssl --disable-shared --enable-static \
    --disable-ldap --disable-ldaps --disable-rtsp --disable-dict --disable-telnet --disable-tftp \
    --disable-pop3 --disable-imap --disable-gopher --disable-mqtt --disable-ftp --disable-file \
    --disable-proxy --disable-smb --disable-manual --disable-docs --without-libpsl \
    --without-zlib --without-brotli --without-zstd --without-libidn2 --without-nghttp2 \
    --without-librtmp --without-libssh2 >"$work/build.log" 2>&1 &&
    make -j"$(nproc)" -C lib >>"$work/build.log" 2>&1 &&
    make -C lib install >>"$work/build.log" 2>&1 &&
    make -C include install >>"$work/build.log" 2>&1) || {
    tail -40 "$work/build.log" >&2
    return 1
  }
  rm -rf "$work"
}
