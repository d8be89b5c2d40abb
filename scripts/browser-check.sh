#!/usr/bin/env bash
# Renders an HTML Log File in headless Chromium and checks that the text of the page equals
# the text Log File of the same run, line for line (non-breaking spaces read as blanks).
# Also reads the text as the browser shows it (innerText) and lists the lines that look
# different there. Exits 77 (skipped) when Chromium or Python is not installed.
#   scripts/browser-check.sh [--writer PROGRAM] [--screenshot FILE.png] [--strict-visible]
# PROGRAM writes the run: PROGRAM page.htm log.txt (default: corvane_browser_log of ./build).
# --strict-visible fails also when the shown text differs from the text file.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
writer=""
screenshot=""
strict_visible=0
while [ $# -gt 0 ]; do
    case "$1" in
        --writer) writer=$2; shift 2 ;;
        --screenshot) screenshot=$2; shift 2 ;;
        --strict-visible) strict_visible=1; shift ;;
        *) echo "browser-check.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done

chromium=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$chromium" ] || ! command -v python3 > /dev/null; then
    echo "browser-check.sh: chromium or python3 is not installed; skipped"
    exit 77
fi
if [ -z "$writer" ]; then
    cmake --build "$here/build" --target corvane_browser_log > /dev/null
    writer="$here/build/tests/browser/corvane_browser_log"
fi

work=$(mktemp -d -t corvane-browser-XXXXXX)
trap 'rm -rf "$work"' EXIT
"$writer" "$work/log.htm" "$work/log.txt"

# The page itself must stay as written, so the shown text is read through a page of our
# own that holds it in a frame (same origin only with file access allowed).
cat > "$work/visible.html" << 'PAGE'
<html><body><iframe id="log" src="log.htm"></iframe><pre id="shown"></pre>
<script>
document.getElementById("log").onload = function () {
  var page = document.getElementById("log").contentDocument;
  document.getElementById("shown").textContent = page ? page.body.innerText : "";
};
</script></body></html>
PAGE

browser() {
    # Local files only; no network, no profile of the user's, bounded in time.
    timeout 120 "$chromium" --headless --no-sandbox --disable-gpu --disable-quic \
        --no-first-run --disable-background-networking --disable-component-update \
        --disable-sync --user-data-dir="$work/profile" "$@" 2>> "$work/chromium.log"
}
browser --dump-dom "file://$work/log.htm" > "$work/dom.html"
browser --allow-file-access-from-files --virtual-time-budget=5000 \
    --dump-dom "file://$work/visible.html" > "$work/visible-dom.html"
if [ -n "$screenshot" ]; then
    mkdir -p "$(dirname "$screenshot")"
    browser --hide-scrollbars --window-size=1000,620 --screenshot="$(realpath -m "$screenshot")" \
        "file://$work/log.htm" > /dev/null
fi

python3 - "$work" "$strict_visible" << 'CHECK'
import html.parser
import sys

work, strict_visible = sys.argv[1], sys.argv[2] == "1"


class BodyText(html.parser.HTMLParser):
    """The body's text: <br> ends a line, the file's own line ends are layout only."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.in_body = False
        self.text = []

    def handle_starttag(self, tag, attrs):
        if tag == "body":
            self.in_body = True
        elif tag == "br" and self.in_body:
            self.text.append("\n")

    def handle_startendtag(self, tag, attrs):
        self.handle_starttag(tag, attrs)

    def handle_endtag(self, tag):
        if tag == "body":
            self.in_body = False

    def handle_data(self, data):
        if self.in_body:
            self.text.append(data.replace("\n", ""))


class Shown(html.parser.HTMLParser):
    """The innerText copied into <pre id="shown">."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.inside = False
        self.text = []

    def handle_starttag(self, tag, attrs):
        self.inside = tag == "pre" and ("id", "shown") in attrs

    def handle_endtag(self, tag):
        if tag == "pre":
            self.inside = False

    def handle_data(self, data):
        if self.inside:
            self.text.append(data)


def read(name):
    with open(f"{work}/{name}", "rb") as f:
        return f.read().decode("latin-1")


def lines_of(text):
    lines = text.replace("\u00a0", " ").split("\n")
    return lines[:-1] if lines and lines[-1] == "" else lines


expected = read("log.txt").split("\r\n")
if expected[-1] != "":
    sys.exit("the text Log File does not end with CR LF")
expected = expected[:-1]

body = BodyText()
body.feed(read("dom.html"))
page = lines_of("".join(body.text))
shown_parser = Shown()
shown_parser.feed(read("visible-dom.html"))
shown = lines_of("".join(shown_parser.text))


def differences(got, label):
    out = [i for i in range(max(len(got), len(expected)))
           if i >= len(got) or i >= len(expected) or got[i] != expected[i]]
    for i in out[:20]:
        g = got[i] if i < len(got) else "(missing)"
        e = expected[i] if i < len(expected) else "(missing)"
        pad = " " * (len(str(i + 1)) + len(label) - 4)
        print(f"  line {i + 1}: {label} {g!r}\n  {pad}       text {e!r}")
    return out


print(f"text Log File: {len(expected)} lines; page text: {len(page)} lines; "
      f"shown text: {len(shown)} lines")
failed = False
page_diff = differences(page, "page")
if page_diff:
    print(f"FAILED: the page's text differs from the text Log File in {len(page_diff)} line(s)")
    failed = True
else:
    print("ok: the page's text equals the text Log File line for line")
shown_diff = differences(shown, "shown")
if not shown:
    print("FAILED: the browser showed no text (frame not read)")
    failed = True
elif shown_diff:
    print(f"note: as shown by the browser, {len(shown_diff)} line(s) differ from the text "
          "Log File (blanks at a line's start or end, tabs)")
    failed = failed or strict_visible
else:
    print("ok: the shown text equals the text Log File line for line")
sys.exit(1 if failed else 0)
CHECK
