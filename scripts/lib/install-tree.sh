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
# points at it, selecting MODEL of the shipped database (by default the protocol 1 Megatec model);
# SERVER_VALUES are further lines of the server key (the UPS link).
keep_install_tree() {
  local build="$1" install="$2" hive="$3" values="${4:-}" model="${5:-Keep LineGuard 1000}"
  mkdir -p "$install" "$(dirname "$hive")"
  cp -R "$KEEP_ROOT/dist/." "$install/"
  mkdir -p "$install/bin" "$install/data" "$install/srvtemp"
  cp "$build/server/keepd" "$install/bin/keepd"
  cp "$build/upsdb.ups" "$install/bin/upsdb.ups"
  cat > "$hive" <<HIVE
REGEDIT4

[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Voltrena\\Globals]
"InstallPath"="$install/"
"LanguageFile"="english.lng"

[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Voltrena\\Powerkeep]
"SrvListenPort"=dword:00001689
"UpsModelName"="$model"
$values
HIVE
}
