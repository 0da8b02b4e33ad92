# Shared by the portable build and its tests (sourced, not run): minimal
# Debian roots made with debootstrap and kept between runs, and commands run
# inside them with the mounts they need, which are always taken down again.
#
# BL_ROOTS_DIR (default /var/cache/brightloom-roots) holds the roots; it is
# outside the checkout, so nothing made here is ever committed. A root's
# stamp names its suite and packages: change the list and it is made anew.

portable_tools="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo_root="$(cd "$portable_tools/../.." && pwd)"
roots_dir="${BL_ROOTS_DIR:-/var/cache/brightloom-roots}"
# BL_DEBIAN_MIRROR overrides the system's mirror (e.g. once a suite has
# moved to archive.debian.org).
debian_mirror="$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources 2>/dev/null)"
debian_mirror="${BL_DEBIAN_MIRROR:-${debian_mirror:-http://deb.debian.org/debian}}"

# make_root NAME SUITE PACKAGE... : a minbase root of SUITE (amd64) holding the
# packages, at $roots_dir/NAME. A root made before with the same suite and
# packages (its stamp) is reused; a half-made one never is, because it only
# gets its final name when complete.
make_root() {
  local name="$1" suite="$2"; shift 2
  local dir="$roots_dir/$name" want="$suite amd64 $*"
  [ -f "$dir/.bl-stamp" ] && [ "$(cat "$dir/.bl-stamp")" = "$want" ] && return 0
  "$repo_root/tools/install-packages.sh" debootstrap
  echo "[portable] making the $suite root $name (debootstrap, once per machine)"
  mkdir -p "$roots_dir"
  # Removing a root with something still mounted in it would reach through
  # the mount (the checkout is bound into the build root).
  if awk -v d="$dir" 'index($2, d) == 1 { found = 1 } END { exit !found }' /proc/mounts; then
    echo "[portable] $dir still has mounts; not removing it" >&2
    return 1
  fi
  rm -rf "$dir.part" "$dir"
  local log="$roots_dir/$name.log"
  if ! debootstrap --variant=minbase --arch=amd64 --include="$(IFS=,; echo "$*")" \
         "$suite" "$dir.part" "$debian_mirror" >"$log" 2>&1; then
    tail -n 30 "$log"; echo "[portable] debootstrap of $suite failed (log: $log)" >&2
    return 1
  fi
  rm -rf "$dir.part/var/cache/apt/archives/"*.deb
  echo "$want" >"$dir.part/.bl-stamp"
  mv "$dir.part" "$dir"
}

# The roots the packages are tried in: what a user of the wheel has and
# nothing else. make_user_roots makes (or reuses) all of them.
user_suites=(bullseye trixie)
user_packages=(python3 python3-numpy python3-pip)
make_user_roots() {
  local suite
  for suite in "${user_suites[@]}"; do make_root "user-$suite" "$suite" "${user_packages[@]}"; done
}

# in_root NAME [--bind HOST:INSIDE]... -- COMMAND... : runs COMMAND in the root
# with /proc, /dev and the named folders mounted; every mount is undone on
# the way out, whether COMMAND succeeds or not.
in_root() {
  local dir="$roots_dir/$1"; shift
  local binds=()
  while [ "$1" != "--" ]; do
    [ "$1" = "--bind" ] && { binds+=("$2"); shift 2; continue; }
    echo "in_root: unexpected $1" >&2; return 2
  done
  shift
  (
    mounted=()
    # shellcheck disable=SC2317  # runs from the trap
    unmount_all() {
      local i
      for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[i]}" 2>/dev/null || true; done
    }
    trap unmount_all EXIT
    mount_at() {  # mount arguments..., target
      mkdir -p "${!#}"
      mount "$@" && mounted+=("${!#}")
    }
    mount_at -t proc proc "$dir/proc"
    mount_at --rbind /dev "$dir/dev"
    mount --make-rslave "$dir/dev"
    local b
    for b in "${binds[@]}"; do mount_at --bind "${b%%:*}" "$dir${b#*:}"; done
    chroot "$dir" /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin HOME=/root \
      LANG=C.UTF-8 "$@"
  )
}
