# keep_install_tree BUILD_DIR INSTALL_DIR HIVE_FILE: lays out a complete installation (the dist/
# tree plus the built programs) and a hive that points at it.
keep_install_tree() {
  local build="$1" install="$2" hive="$3"
  mkdir -p "$install" "$(dirname "$hive")"
  cp -R "$KEEP_ROOT/dist/." "$install/"
  mkdir -p "$install/bin" "$install/data" "$install/srvtemp"
  cp "$build/server/keepd" "$install/bin/keepd"
  if [ ! -f "$hive" ]; then
    cat > "$hive" <<HIVE
REGEDIT4

[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Voltrena\\Globals]
"InstallPath"="$install/"
"LanguageFile"="english.lng"

[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Voltrena\\Powerkeep]
"SrvListenPort"=dword:00001689
HIVE
  fi
}
