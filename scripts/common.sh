# Sourced by the other scripts: set-up when something is missing, then build.
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${KESTRELLA_BUILD_DIR:-$top/build}

needs_setup() {
  local c
  for c in cmake g++ make clang++ llvm-symbolizer mkfs.fat mcopy mdel mdeltree unzip xxd pkg-config \
    help2man desktop-file-validate appstreamcli dbus-daemon; do
    command -v "$c" >/dev/null || return 0
  done
  [ -f /usr/include/gtest/gtest.h ] || return 0
  compgen -G '/usr/lib/*/libgtest.a' >/dev/null || return 0
  compgen -G '/usr/lib/*/cmake/Qt6/Qt6Config.cmake' >/dev/null || return 0
  pkg-config --exists libsystemd || return 0
  compgen -G '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null || return 0
  return 1
}

ensure_setup() {
  if needs_setup; then
    echo "== installing what the build needs"
    "$top/scripts/setup"
  fi
}

build() {
  echo "== configuring and building in $build_dir"
  # Optimised as Debian builds its packages (-O2), without debug information:
  # it adds about a quarter to the compile time of a whole build.
  cmake -S "$top" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DKESTRELLA_WERROR=ON >/dev/null
  cmake --build "$build_dir" -j "$(nproc)" "$@"
}
