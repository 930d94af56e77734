#!/usr/bin/env bash
# Builds build/brisvane_<version>_amd64.deb from a Release build with
# dpkg-deb: programs in /usr/sbin and /usr/bin, the engine, samples and
# extensions in /usr/lib/brisvane, the settings in /etc/brisvane (a
# conffile), the site in /var/www/brisvane, logs in /var/log/brisvane and
# a systemd unit that runs the server as the system user brisvane.
# Usage: tools/package_deb.sh [output directory]   (prints the .deb's path)
set -eu
cd "$(dirname "$0")/.."
root=$PWD
bash tools/deps.sh package >&2
out=${1:-$root/build}
build=$root/build/deb

# The version is spelt once, in the product's own name.
version=$(sed -n 's|.*kProductNameVersion\[\] = "Brisvane/\([^"]*\)".*|\1|p' base/product.h)
[ -n "$version" ] || { echo "no version in base/product.h" >&2; exit 1; }
arch=$(dpkg --print-architecture)

# Debian's hardening flags (fortified functions, full RELRO, immediate
# binding), as the distribution's server packages are built.
flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1" 2>/dev/null || true; }
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRISVANE_TESTS=OFF -DBRISVANE_WERROR=ON \
  "${launcher[@]}" \
  -DCMAKE_C_FLAGS="$(flags CPPFLAGS) $(flags CFLAGS)" -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" -DCMAKE_SHARED_LINKER_FLAGS="$(flags LDFLAGS)" -DCMAKE_MODULE_LINKER_FLAGS="$(flags LDFLAGS)" >/dev/null
cmake --build "$build" -j "$(nproc)" --target vanehost vanecore vaneconf service brisvane_unit_text \
  profile_echo isapi_hello isapi_echo stage_content >/dev/null
stage=$build/stage

pkg=$build/pkg
rm -rf "$pkg"
mkdir -p "$pkg/DEBIAN"
d() { install -d -m 0755 "$pkg/$1"; }
bin() { install -D -m 0755 "$1" "$pkg/$2"; strip --strip-unneeded --remove-section=.comment --remove-section=.note "$pkg/$2"; }
data() { install -D -m 0644 "$1" "$pkg/$2"; }

bin "$stage/vanehost" usr/sbin/vanehost
bin "$stage/service" usr/sbin/brisvane-service
bin "$stage/vaneconf" usr/bin/vaneconf
data "$stage/libvanecore.so" usr/lib/brisvane/libvanecore.so
strip --strip-unneeded --remove-section=.comment --remove-section=.note "$pkg/usr/lib/brisvane/libvanecore.so"
for so in "$stage"/ISAPI/*.so; do
  data "$so" "usr/lib/brisvane/isapi/$(basename "$so")"
  strip --strip-unneeded --remove-section=.comment --remove-section=.note "$pkg/usr/lib/brisvane/isapi/$(basename "$so")"
done
bin "$stage/CGI-WIN/profile_echo" usr/lib/brisvane/cgi-win/profile_echo
d usr/lib/brisvane/cgi-bin
for icon in dist/ICONS/*; do data "$icon" "usr/share/brisvane/icons/$(basename "$icon")"; done
data dist/ERROR.TEMP usr/share/brisvane/ERROR.TEMP
# Copied into the document root by postinst; packages ship nothing in /var/www.
data dist/HTDOCS/index.html usr/share/brisvane/htdocs/index.html

# The shipped settings with every default path moved to its system place.
reg=$pkg/etc/brisvane/registry.reg
data dist-posix/registry.reg etc/brisvane/registry.reg
profile='HKEY_LOCAL_MACHINE\SOFTWARE\Halvex\Brisvane\2.0\Default'
set_sz() { python3 tools/reg_set.py "$reg" "$profile\\$1" "$2" sz "$3"; }
set_sz Log AccessLogFileName /var/log/brisvane/access.log
set_sz Log ErrorLogFileName /var/log/brisvane/error.log
set_sz Log TraceLogFileName /var/log/brisvane/trace.log
set_sz 'Virtual\0000\Server' DocRoot /var/www/brisvane
set_sz 'Virtual\0000\Server' ErrorTemplateFileName /usr/share/brisvane/ERROR.TEMP
set_sz 'Virtual\0000\Alias' /ICONS /usr/share/brisvane/icons
set_sz 'Virtual\0000\CgiBin' /CGI-BIN /usr/lib/brisvane/cgi-bin
set_sz 'Virtual\0000\CgiWin' /CGI-WIN /usr/lib/brisvane/cgi-win
set_sz 'Virtual\0000\ISAPIExt' /ISAPI /usr/lib/brisvane/isapi
echo /etc/brisvane/registry.reg >"$pkg/DEBIAN/conffiles"

# The unit is the one the service tool writes for the packaged host.
d usr/lib/systemd/system
"$build/tools/brisvane_unit_text" "/usr/sbin/vanehost -s" >"$pkg/usr/lib/systemd/system/brisvane.service"
chmod 0644 "$pkg/usr/lib/systemd/system/brisvane.service"

for page in packaging/deb/man/*.[18]; do
  section=${page##*.}
  install -d -m 0755 "$pkg/usr/share/man/man$section"
  gzip -9n <"$page" >"$pkg/usr/share/man/man$section/$(basename "$page").gz"
  chmod 0644 "$pkg/usr/share/man/man$section/$(basename "$page").gz"
done

# Documentation: the copyright and a changelog entry for this version,
# dated by the last commit so that the package builds the same twice.
docs=$pkg/usr/share/doc/brisvane
data packaging/deb/copyright usr/share/doc/brisvane/copyright
when=$(git log -1 --format=%ct 2>/dev/null || date +%s)
{
  echo "brisvane ($version) unstable; urgency=medium"
  echo
  echo "  * Release $version of the Brisvane web server."
  echo
  echo " -- Brisvane developers <packages@brisvane.invalid>  $(LC_ALL=C date -u -R -d "@$when")"
} | gzip -9n >"$docs/changelog.gz"
chmod 0644 "$docs/changelog.gz"

for script in postinst prerm postrm; do
  install -m 0755 "packaging/deb/$script" "$pkg/DEBIAN/$script"
done
# Purge removes the welcome page only while it is the shipped one.
sed -i "s/@INDEX_MD5@/$(md5sum <dist/HTDOCS/index.html | cut -d' ' -f1)/" "$pkg/DEBIAN/postrm"

# Run-time libraries, as dpkg-shlibdeps reads them from the ELF files.
tmpsrc=$(mktemp -d)
trap 'rm -rf "$tmpsrc"' EXIT
mkdir -p "$tmpsrc/debian"
printf 'Source: brisvane\n\nPackage: brisvane\nArchitecture: any\n' >"$tmpsrc/debian/control"
elves=$(find "$pkg/usr" -type f \( -perm -u+x -o -name '*.so' \) -exec sh -c 'head -c4 "$1" | grep -q ELF' _ {} \; -print)
shlibs=$(cd "$tmpsrc" && dpkg-shlibdeps -O $elves 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
[ -n "$shlibs" ] || { echo "dpkg-shlibdeps found no libraries" >&2; exit 1; }

size=$(du -sk --exclude=DEBIAN "$pkg" | cut -f1)
{
  echo "Package: brisvane"
  echo "Version: $version"
  echo "Architecture: $arch"
  echo "Maintainer: Brisvane developers <packages@brisvane.invalid>"
  echo "Installed-Size: $size"
  echo "Depends: $shlibs, adduser, init-system-helpers (>= 1.52)"
  echo "Suggests: perl, php-cgi"
  echo "Section: httpd"
  echo "Priority: optional"
  echo "Description: $(cat packaging/deb/description)"
} >"$pkg/DEBIAN/control"
(cd "$pkg" && find usr etc -type f -exec md5sum {} + | sort -k2) >"$pkg/DEBIAN/md5sums"
chmod 0644 "$pkg/DEBIAN/control" "$pkg/DEBIAN/conffiles" "$pkg/DEBIAN/md5sums"

mkdir -p "$out"
deb=$out/brisvane_${version}_${arch}.deb
dpkg-deb --root-owner-group -Zxz --build "$pkg" "$deb" >/dev/null
echo "$deb"
