# Run by CPack after it has made the packages (CPACK_POST_BUILD_SCRIPTS). The DEB generator
# of CMake 3.25 writes the -dbgsym package's md5sums with the absolute paths of its staging
# folder and gives the package no documentation folder. This rebuilds each .ddeb with
# md5sums relative to the root, the debug files not executable, and
# /usr/share/doc/<name>-dbgsym as a link to the main package's folder (which the package
# depends on), as dh_strip makes it.
find_program(_dpkg_deb dpkg-deb REQUIRED)

foreach(_pkg IN LISTS CPACK_PACKAGE_FILES)
    if(NOT _pkg MATCHES "\\.ddeb$")
        continue()
    endif()
    set(_root "${CPACK_TOPLEVEL_DIRECTORY}/repair-dbgsym")
    file(REMOVE_RECURSE "${_root}")
    execute_process(COMMAND "${_dpkg_deb}" --raw-extract "${_pkg}" "${_root}"
                    RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0)
        message(FATAL_ERROR "Cannot unpack ${_pkg}")
    endif()

    file(STRINGS "${_root}/DEBIAN/control" _name REGEX "^Package: ")
    string(REGEX REPLACE "^Package: " "" _name "${_name}")
    string(REGEX REPLACE "-dbgsym$" "" _main "${_name}")

    file(GLOB_RECURSE _files LIST_DIRECTORIES false RELATIVE "${_root}" "${_root}/usr/*")
    list(SORT _files)
    set(_sums "")
    foreach(_f IN LISTS _files)
        if(IS_SYMLINK "${_root}/${_f}")
            continue()
        endif()
        file(CHMOD "${_root}/${_f}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
        file(MD5 "${_root}/${_f}" _md5)
        string(APPEND _sums "${_md5}  ${_f}\n")
    endforeach()
    file(WRITE "${_root}/DEBIAN/md5sums" "${_sums}")
    file(CHMOD "${_root}/DEBIAN/md5sums" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

    file(MAKE_DIRECTORY "${_root}/usr/share/doc")
    file(CREATE_LINK "${_main}" "${_root}/usr/share/doc/${_name}" SYMBOLIC)

    execute_process(COMMAND "${_dpkg_deb}" --root-owner-group -Zxz --build "${_root}" "${_pkg}"
                    RESULT_VARIABLE _rc OUTPUT_QUIET)
    if(NOT _rc EQUAL 0)
        message(FATAL_ERROR "Cannot rebuild ${_pkg}")
    endif()
    file(REMOVE_RECURSE "${_root}")
endforeach()
