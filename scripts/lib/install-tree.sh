# keep_model_for_protocol NUMBER: prints the name of the first model of the shipped database
# dist/bin/upsdb.txt whose protocol number (field 4) is NUMBER; nothing, and status 1, when none is.
keep_model_for_protocol() {
  local found
  found="$(awk -F'|' -v number="$1" '
    /^#/ || /^[[:space:]]*$/ { next }
    { protocol = $5; gsub(/^[[:space:]]+|[[:space:]]+$/, "", protocol) }
    protocol == number { name = $1; gsub(/^[[:space:]]+|[[:space:]]+$/, "", name); print name; exit }
  ' "$KEEP_ROOT/dist/bin/upsdb.txt")"
  [ -n "$found" ] || return 1
  printf '%s\n' "$found"
}

# keep_install_tree BUILD_DIR INSTALL_DIR HIVE_FILE [SERVER_VALUES [MODEL]]: lays out a complete
# installation (the dist/ tree plus the built programs and model database) and writes a hive that
# points at it: the shipped default configuration (dist/config/registry.reg, the one the package
# installs) with MODEL of the shipped database (by default the protocol 1 Megatec model) and
# SERVER_VALUES, further lines of the server key (the UPS link).
keep_install_tree() {
  local build="$1" install="$2" hive="$3" values="${4:-}" model="${5:-Keep LineGuard 1000}"
  mkdir -p "$install" "$(dirname "$hive")"
  cp -R "$KEEP_ROOT/dist/." "$install/"
  mkdir -p "$install/bin" "$install/data" "$install/srvtemp"
  cp "$build/server/keepd" "$install/bin/keepd"
  cp "$build/upsdb.ups" "$install/bin/upsdb.ups"
  # The server key is the file's last: the UPS lines go at its end.
  sed "s|^\"InstallPath\"=.*|\"InstallPath\"=\"$install/\"|" "$KEEP_ROOT/dist/config/registry.reg" > "$hive"
  printf '"UpsModelName"="%s"\n%s\n' "$model" "$values" >> "$hive"
}
