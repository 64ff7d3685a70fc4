# Sourced by scripts/build-windows and scripts/windows-qt: Debian's own source packages, fetched
# through a private apt configuration below "$cache/apt" whose deb-src entry repeats the machine's
# Debian entry, so the machine's apt state stays as it was. The caller sets "cache".

# The machine's own Debian entry ("URI suite keyring"), from deb822 files or one-line lists.
debian_entry() {
  local file
  for file in /etc/apt/sources.list.d/*.sources; do
    [[ -f "$file" ]] || continue
    awk '
      function flush() {
        if (types ~ /(^| )deb( |$)/ && uri ~ /debian/ && uri !~ /security/ && suite != "") {
          print uri, suite, (key == "" ? "-" : key); found = 1; exit
        }
        types = uri = suite = key = ""
      }
      /^[ \t]*$/ { flush(); next }
      /^Types:/ { types = $0; sub(/^Types:[ \t]*/, "", types) }
      /^URIs:/ { uri = $2 }
      /^Suites:/ { suite = $2 }
      /^Signed-By:/ { key = $2 }
      END { if (!found) flush() }
    ' "$file" | head -1
  done
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -f "$file" ]] || continue
    awk '$1 == "deb" {
           key = "-"; i = 2
           if ($2 ~ /^\[/) {
             for (; i <= NF; i++) {
               if ($i ~ /signed-by=/) { key = $i; sub(/.*signed-by=/, "", key); sub(/\]$/, "", key) }
               if ($i ~ /\]$/) { i++; break }
             }
           }
           if ($i ~ /debian/ && $i !~ /security/) { print $i, $(i + 1), key; exit }
         }' "$file"
  done
}

# apt with its own source list, lists and cache, so the machine's apt state stays as it was.
private_apt() {
  local tool=$1; shift
  "$tool" -q -o Dir::Etc::sourcelist="$cache/apt/sources.list" -o Dir::Etc::sourceparts=- \
    -o Dir::State::Lists="$cache/apt/lists" -o Dir::Cache="$cache/apt/cache" \
    -o APT::Sandbox::User=root "$@"
}

prepare_private_apt() {
  local entry uri suite key
  entry=$(debian_entry | head -1)
  if [[ -z "$entry" ]]; then
    echo "No Debian entry in /etc/apt: cannot fetch the source packages." >&2
    exit 1
  fi
  read -r uri suite key <<<"$entry"
  mkdir -p "$cache/apt/lists/partial" "$cache/apt/cache/archives/partial"
  local options=""
  [[ "$key" != "-" ]] && options="[signed-by=$key] "
  echo "deb-src ${options}${uri} ${suite} main" >"$cache/apt/sources.list"
  # Without the network the lists of an earlier run still name the versions in the cache.
  if ! private_apt apt-get update -qq >/dev/null 2>&1; then
    compgen -G "$cache/apt/lists/*Sources*" >/dev/null || {
      echo "Cannot read the source package lists of $uri $suite." >&2
      exit 1
    }
    echo "Source package lists not refreshed; using those of an earlier run." >&2
  fi
}

source_version() {
  private_apt apt-cache showsrc "$1" | awk '$1 == "Version:" { print $2; exit }'
}

fetch_source() {  # package version -> prints the unpacked folder
  local package=$1 version=$2 dir="$cache/src/$1_$2"
  if [[ ! -f "$dir/.unpacked" ]]; then
    rm -rf "$dir" && mkdir -p "$dir"
    (cd "$dir" && private_apt apt-get source -qq "$package=$version" >/dev/null)
    touch "$dir/.unpacked"
  fi
  find "$dir" -mindepth 1 -maxdepth 1 -type d | head -1
}
