# Sourced by run.sh and test.sh: install_packages NEED... installs the
# packages of cmake/packages.list whose lines name one of NEED and that are
# missing, with sudo unless run as root, saying on standard error what it
# installs.
install_packages() {
  local list need check what package missing=()
  list="$(dirname "${BASH_SOURCE[0]}")/packages.list"
  while read -r need check what package; do
    case "$need" in '' | '#'*) continue ;; esac
    [[ " $* " == *" $need "* ]] || continue
    case "$check" in
      command) command -v "$what" > /dev/null && continue ;;
      file) [ -e "$what" ] && continue ;;
      find) [ -n "$(find "${what%%:*}" -name "${what#*:}" -print -quit 2> /dev/null)" ] && continue ;;
    esac
    missing+=("$package")
  done < "$list"
  [ "${#missing[@]}" -gt 0 ] || return 0
  echo "Installing ${missing[*]}" >&2
  local sudo="" log
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  log="$(mktemp)"
  if ! { $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
         $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"; } > "$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    echo "Could not install ${missing[*]}" >&2
    return 1
  fi
  rm -f "$log"
}
