# What `cmake --install` puts where: the two programs, the desktop entry, the AppStream
# metainfo, the icon theme set, the manual pages, the bash completion and the package's
# copyright and changelog. Included from the top-level CMakeLists.txt after src/.
include(GNUInstallDirs)

set(RVW_APP_ID "com.kestrilon.Ravelwick")
set(RVW_PACKAGING_DIR "${PROJECT_SOURCE_DIR}/packaging")
set(RVW_DOC_DIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/ravelwick")

install(TARGETS ravelwick ravelwick-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES "${RVW_PACKAGING_DIR}/linux/${RVW_APP_ID}.desktop"
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES "${RVW_PACKAGING_DIR}/linux/${RVW_APP_ID}.metainfo.xml"
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
# Drawn at each size by tools/make-artwork.cpp (ravelwick_artwork --hicolor) and kept in the
# tree, so that an install needs no display.
foreach(size 16 22 24 32 48 64 128 256)
    install(FILES "${RVW_PACKAGING_DIR}/icons/hicolor/${size}x${size}/apps/${RVW_APP_ID}.png"
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES "${RVW_PACKAGING_DIR}/completion/ravelwick-cli"
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions)

# Manual pages and the changelog are installed compressed as Debian wants them, with
# gzip -9n (no name and no time stamp inside, so that the result is reproducible). The
# package is made by the program's own makers (a native package: its version has no
# Debian revision), so its changelog is changelog.gz rather than changelog.Debian.gz.
find_program(RVW_GZIP gzip REQUIRED)
set(_rvw_compressed "")
# Compresses `source` into the build folder as `name`.gz and installs it into `destination`.
function(rvw_install_compressed source name destination)
    set(out "${CMAKE_CURRENT_BINARY_DIR}/packaging/${name}.gz")
    add_custom_command(OUTPUT "${out}"
        COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_CURRENT_BINARY_DIR}/packaging"
        COMMAND ${RVW_GZIP} -9n -c "${source}" > "${out}"
        DEPENDS "${source}"
        COMMENT "Compressing ${name}"
        VERBATIM)
    install(FILES "${out}" DESTINATION "${destination}")
    set(_rvw_compressed ${_rvw_compressed} "${out}" PARENT_SCOPE)
endfunction()
foreach(page ravelwick.1 ravelwick-cli.1)
    rvw_install_compressed("${RVW_PACKAGING_DIR}/man/${page}" ${page} ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
rvw_install_compressed("${RVW_PACKAGING_DIR}/debian/changelog" changelog ${RVW_DOC_DIR})
install(FILES "${RVW_PACKAGING_DIR}/debian/copyright" DESTINATION ${RVW_DOC_DIR})
# Part of `all`, so that the files exist before an install or a package is made.
add_custom_target(ravelwick_install_files ALL DEPENDS ${_rvw_compressed})
unset(_rvw_compressed)
