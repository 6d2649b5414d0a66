# The demo: a package built from the sample payload, installed onto the demo
# machine (one Ovin drive at E:) by the console wizard, then installed again
# over itself.  Sourced by ./run, which has built out/bin and out/win.
#
# Everything lands in out/demo/: the package, the payload it carries and the
# folder that stands for drive E:.

demo_step() { printf '\n\033[1m==> %s\033[0m\n' "$*"; }

# One line per entry below FOLDER: Windows attributes, size, path.  Files
# carry the archive bit (the simulation, like Wine, implies it), read-only is
# the write permission and hidden is kept in user.DOSATTRIB.
demo_show_tree() {
  local folder=$1 rel entry bits attrs size
  (cd "$folder" && find . -mindepth 1 | sort) | while read -r rel; do
    entry=$folder/${rel#./}
    bits=$(getfattr --only-values -n user.DOSATTRIB "$entry" 2>/dev/null | tr -d '\0' || true)
    if [ -d "$entry" ]; then attrs="D"; size="<dir>"; else attrs="A"; size=$(stat -c %s "$entry"); fi
    [ "$(( 0$(stat -c %a "$entry") & 0200 ))" -eq 0 ] && attrs+="R"
    (( (${bits:-0} & 2) != 0 )) && attrs+="H"
    printf '  %-4s %8s  %s\n' "$attrs" "$size" "E:\\$(printf '%s' "${rel#./}" | tr '/' '\\')"
  done
}

# The wizard's output without the agreement's text.
demo_transcript() {
  awk '/License Agreement\]/ && !skipped { print; print "  (the agreement text, shown through $PAGER)"; skip = 1; skipped = 1; next }
       /^Accept or Decline/ { skip = 0 }
       !skip { print }'
}

run_demo() {
  local bin=${DEMO_BIN:-$ROOT/out/bin} win=${DEMO_WIN:-$ROOT/out/win}
  local work=${DEMO_WORK:-$ROOT/out/demo}
  local package=$work/brelvane-demo drive=$work/drive-E payload=$work/payload
  rm -rf "$work"
  mkdir -p "$payload/Docs" "$drive"

  demo_step "The sample payload"
  local program="$win/payload/Brelvane v1.0.exe"
  if [ -f "$program" ]; then
    cp "$program" "$payload/"
    echo "Brelvane v1.0.exe: the tiny Windows stand-in built with mingw ($program)"
  else
    printf 'Brelvane v1.0 stand-in (mingw was not available to build the program)\r\n' \
      > "$payload/Brelvane v1.0.exe"
    echo "Brelvane v1.0.exe: a text stand-in (no mingw build found)"
  fi
  cp "$ROOT/samples/payload/docs/readme.txt" "$payload/Docs/readme.txt"
  (cd "$payload" && ls -l "Brelvane v1.0.exe" Docs/readme.txt)

  demo_step "A package: brelvane-sim with the Ovin module set, built from samples/demo-installer.toml"
  cp "$bin/brelvane-sim" "$work/brelvane-sim"
  cp "$ROOT/samples/demo-installer.toml" "$work/installer.toml"
  "$bin/oempack" build "$work/installer.toml" -o "$package"
  # The build writes a new file, as Windows knows files: no execute bit.
  chmod +x "$package"
  "$bin/oempack" list "$package"

  demo_step "First run on the demo machine: accept, install (answers piped in)"
  printf 'accept\ninstall\n' |
    PAGER=cat "$package" --drive "E=$drive" --launch | demo_transcript
  echo "(exit code ${PIPESTATUS[1]})"

  demo_step "What is on drive E: now (D directory, R read-only, H hidden, A archive)"
  demo_show_tree "$drive"
  cmp "$payload/Brelvane v1.0.exe" "$drive/Brelvane v1.0.exe" &&
    cmp "$payload/Docs/readme.txt" "$drive/Brelvane/Docs/readme.txt" &&
    echo "  both files are byte for byte the payload"

  demo_step "Second run: the utility is already the set's and is left alone; the readme was changed on the drive, so it is offered for replacing (yes)"
  chmod u+w "$drive/Brelvane/Docs/readme.txt"
  printf 'my own notes\r\n' > "$drive/Brelvane/Docs/readme.txt"
  chmod a-w "$drive/Brelvane/Docs/readme.txt"
  printf 'accept\ninstall\nyes\n' |
    PAGER=cat "$package" --drive "E=$drive" | demo_transcript
  echo "(exit code ${PIPESTATUS[1]})"
  demo_show_tree "$drive"

  demo_step "Done.  Try it yourself:  $package --drive E=$drive"
}
