# keep_install_tree BUILD_DIR INSTALL_DIR HIVE_FILE [SERVER_VALUES]: lays out a complete installation
# (the dist/ tree plus the built programs and model database) and writes a hive that points at it,
# selecting the Megatec model of the shipped database; SERVER_VALUES are further lines of the server
# key (the UPS link).
keep_install_tree() {
  local build="$1" install="$2" hive="$3" values="${4:-}"
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
"UpsModelName"="Keep LineGuard 1000"
$values
HIVE
}
