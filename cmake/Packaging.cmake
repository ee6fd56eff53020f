# The Debian package: `cpack -G DEB` in a build folder makes ravelwick_<version>_<arch>.deb
# and ravelwick-dbgsym_<version>_<arch>.ddeb with the debug symbols of both programs.
# The binaries carry debug information only in a build type that has it (RelWithDebInfo,
# as scripts/make-package.sh configures).
set(CPACK_PACKAGE_NAME "ravelwick")
set(CPACK_PACKAGE_VENDOR "Kestrilon Software Ltd.")
set(CPACK_PACKAGE_CONTACT "Kestrilon Software Ltd. <support@kestrilon.com>")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Duplicate music detection and library clean-up")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.kestrilon.com/ravelwick/")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
# The DEB generator strips the programs itself when it moves their debug information into
# the -dbgsym package (CPACK_DEBIAN_DEBUGINFO_PACKAGE below); stripping them earlier, at
# install time, would leave it nothing to move and no -dbgsym package would be made.
set(CPACK_STRIP_FILES OFF)

set(CPACK_DEBIAN_PACKAGE_NAME "ravelwick")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Kestrilon Software Ltd. <support@kestrilon.com>")
set(CPACK_DEBIAN_PACKAGE_SECTION "sound")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.kestrilon.com/ravelwick/")
# Follows the summary above as the long description; CPack indents it for debian/control
# and turns an empty line into " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [=[
Ravelwick finds duplicate music files in a large library, such as a radio
station's, and helps clean them up safely. It reads tags and stream
properties without decoding, hashes whole files and audio payloads with
SHA-256 and fingerprints the audio (with its own analyser, or with
Chromaprint's fpcalc when installed). Copies are sorted into four tiers:
identical files, the same audio with other tags, the same recording encoded
differently, and the same song by artist, title and duration.

Each group gets a proposed copy to keep. Copies can be auditioned in a
two-deck A/B player, and the ticked ones are moved into a quarantine folder
with undo manifests, into the recycle bin, or deleted. Results export as
CSV, HTML, JSON or M3U8, and analyses are cached in SQLite.

The package holds the desktop program ravelwick and ravelwick-cli, which
gives servers and nightly jobs the same scan, reports and reversible
clean-up.]=])

# Libraries the programs link come from dpkg-shlibdeps. Plugins that Qt loads at run time
# are invisible to it: the SQLite driver of the analysis cache is needed; the GStreamer
# elements play files in the comparison player (base: the pipeline; good and libav: WAV,
# FLAC, MP3, AAC and the rest). ffmpeg decodes for the built-in fingerprint engine and
# fpcalc is the Chromaprint engine; without them the scan falls back or leaves that out.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, gstreamer1.0-plugins-base")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "ffmpeg, libchromaprint-tools, gstreamer1.0-plugins-good, gstreamer1.0-libav, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE "xz")
set(CPACK_POST_BUILD_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/RepairDbgsym.cmake")

include(CPack)
