# Helpers shared by the command-line test scripts (sourced, never run on its
# own: every tests/cli/*.sh is a test of its own, this file is not one).

# cli_workdir: a scratch folder in $WORK, made writable again and removed on
# exit, and FAILED=0 for fail to set.
cli_workdir() {
  WORK=$(mktemp -d)
  trap 'chmod -R u+w "$WORK" 2>/dev/null; rm -rf "$WORK"' EXIT
  FAILED=0
}

fail() { echo "FAIL: $*" >&2; FAILED=1; }

# expect_rc CODE COMMAND...: runs the command, output to out.txt / err.txt.
expect_rc() {
  local want=$1; shift
  "$@" > out.txt 2> err.txt
  local got=$?
  [ "$got" -eq "$want" ] || fail "$* exited $got, expected $want: $(cat err.txt)"
}

expect_text() { # expect_text FILE TEXT
  grep -qF -- "$2" "$1" || fail "$1 lacks '$2': $(cat "$1")"
}

size_of() { stat -c %s "$1"; }

# append_foreign_record FILE: a plausible 660-byte record that is not one of
# ours (its marker is unknown) at the end of FILE.
append_foreign_record() {
  { head -c 4 /dev/zero; printf 'NOT_A_MODULE'; head -c 640 /dev/zero; printf '\x00\x00\x02\x94'; } >> "$1"
}
