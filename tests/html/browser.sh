# Sourced by the tests of the HTML pages: headless Chromium without network, and the checks
# every page passes. Needs $chromium (the program), $work (the test's folder) and fail().

# Chromium with a fresh profile, no network at all (host names resolve to nothing), its
# console on standard error.
browse() {
  local profile status=0
  profile=$(mktemp -d "$work/profile.XXXXXX")
  timeout 120 "$chromium" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --host-resolver-rules='MAP * ~NOTFOUND' --user-data-dir="$profile" \
    --enable-logging=stderr --v=0 "$@" || status=$?
  rm -rf "$profile"
  return $status
}

# Loads the page (a file of $work) and dumps its document to DOM: no console message, the
# script's last statement done, nothing fetched, no address in the page or the document.
loadpage() {
  local file=$1 dom=$2 name
  name=${dom%.html}
  browse --log-net-log="$work/$name-net.json" --dump-dom "file://$work/$file" > "$dom" \
    2> "$name-console.txt" || fail "chromium failed: $(tail -3 "$name-console.txt")"
  if grep -q ':CONSOLE' "$name-console.txt"; then
    fail "$file: console messages: $(grep ':CONSOLE' "$name-console.txt" | head -5)"
  fi
  grep -q '<html lang="en" data-ready="1">' "$dom" || fail "$file: the page's script did not run to its end"
  [ -s "$name-net.json" ] || fail "no network log"
  # Requests made for a page opened from disk carry its site, file://; the browser's own do not.
  if grep -q 'site=file://' "$name-net.json"; then
    fail "$file fetched: $(grep -o '"url":"[^"]*"' "$name-net.json" | sort -u | head -5)"
  fi
  local page
  for page in "$file" "$dom"; do
    if sed -E 's/ xmlns(:[a-z]+)?="[^"]*"//g' "$page" | grep -Eq 'https?:'; then
      fail "$page holds an address: $(sed -E 's/ xmlns(:[a-z]+)?="[^"]*"//g' "$page" | grep -Eo '.{20}https?:.{30}' | head -3)"
    fi
  done
}

# The page's document with words after # in its address (sorting, opening), checked for
# console messages.
dumpwith() {
  local address=$1 dom=$2
  browse --dump-dom "file://$work/$address" > "$dom" 2> "${dom%.html}-console.txt" ||
    fail "chromium failed: $(tail -3 "${dom%.html}-console.txt")"
  if grep -q ':CONSOLE' "${dom%.html}-console.txt"; then
    fail "$address: console messages: $(grep ':CONSOLE' "${dom%.html}-console.txt" | head -5)"
  fi
}
