# Sourced by the tests that build hosts against an installed bplink: from
# $prefix (the installation: a `cmake --install --prefix` tree, or the usr/
# of unpacked packages) it sets $libdir (lib, or lib/<multiarch> from a
# package) and points pkg-config at the installation's files. Unpacked
# packages name /usr in those files: the part of $prefix above it is then
# pkg-config's sysroot, whose include directory is no system one.
pc=$(find "$prefix" -name bplink.pc -path '*/pkgconfig/*' | head -n1)
[ -n "$pc" ] || { echo "no bplink.pc under $prefix" >&2; exit 1; }
libdir=$(dirname "$(dirname "$pc")")
export PKG_CONFIG_PATH
PKG_CONFIG_PATH=$(dirname "$pc")
pc_prefix=$(pkg-config --variable=prefix bplink)
if [ "$pc_prefix" != "$prefix" ]; then
  export PKG_CONFIG_SYSROOT_DIR=${prefix%"$pc_prefix"} PKG_CONFIG_ALLOW_SYSTEM_CFLAGS=1
fi
