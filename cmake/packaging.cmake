# Installable software: the manual page and the bash completion made from the option table (so
# they cannot drift from --help), the copyright file and the changelog, and the package made by
# `cpack` in the build directory: a .deb on Linux (Debian's names and places), a ZIP for Windows.

# The release date of this version, from the changelog: the manual page's date, and a configure
# error when the changelog has no entry for the version --version prints.
file(STRINGS "${PROJECT_SOURCE_DIR}/CHANGELOG.md" marlwood_release
     REGEX "^## \\[${PROJECT_VERSION}\\] - [0-9]+-[0-9]+-[0-9]+$")
if(NOT marlwood_release MATCHES "([0-9]+-[0-9]+-[0-9]+)$")
  message(FATAL_ERROR "CHANGELOG.md has no entry '## [${PROJECT_VERSION}] - YYYY-MM-DD'")
endif()
set(MARLWOOD_RELEASE_DATE "${CMAKE_MATCH_1}")

# YYYY-MM-DD as a Debian changelog dates its entries ("Mon, 07 Dec 2026 00:00:00 +0000"); the
# weekday by Sakamoto's method.
function(marlwood_changelog_date out date)
  string(REGEX MATCH "^([0-9]+)-([0-9]+)-([0-9]+)$" parts "${date}")
  set(year ${CMAKE_MATCH_1})
  set(day ${CMAKE_MATCH_3})
  math(EXPR month_index "${CMAKE_MATCH_2} - 1")
  set(month_offsets 0 3 2 5 0 3 5 1 4 6 2 4)
  list(GET month_offsets ${month_index} offset)
  set(y ${year})
  if(month_index LESS 2)
    math(EXPR y "${year} - 1")
  endif()
  math(EXPR weekday "(${y} + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${offset} + ${day}) % 7")
  set(weekdays Sun Mon Tue Wed Thu Fri Sat)
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(GET weekdays ${weekday} weekday_name)
  list(GET months ${month_index} month_name)
  set(${out} "${weekday_name}, ${day} ${month_name} ${year} 00:00:00 +0000" PARENT_SCOPE)
endfunction()

if(NOT WIN32)
  # The package's own revision: a new package of the same version counts up.
  set(MARLWOOD_PACKAGE_REVISION 1 CACHE STRING "The Debian revision of the package")
  set(MARLWOOD_PACKAGE_MAINTAINER "the marlwood developers <marlwood@example.org>"
      CACHE STRING "The Maintainer of the Debian package, also its changelog's signer")

  # The generator runs on the build machine, so the cross build for Windows goes without it.
  add_executable(make_manual tools/make_manual.cpp)
  target_link_libraries(make_manual PRIVATE marlwood_cli)

  set(marlwood_man "${PROJECT_BINARY_DIR}/marlwood.1")
  set(marlwood_completion "${PROJECT_BINARY_DIR}/marlwood.bash")
  set(marlwood_changelog "${PROJECT_BINARY_DIR}/changelog")
  # gzip -n leaves out the name and time stamp: the same sources give the same package bytes.
  add_custom_command(
    OUTPUT "${marlwood_man}" "${marlwood_man}.gz"
    COMMAND make_manual man "${PROJECT_SOURCE_DIR}/packaging/marlwood.1.in" "${marlwood_man}"
            "${MARLWOOD_RELEASE_DATE}"
    COMMAND gzip -9nfk "${marlwood_man}"
    DEPENDS make_manual "${PROJECT_SOURCE_DIR}/packaging/marlwood.1.in"
    COMMENT "Writing the manual page" VERBATIM)
  add_custom_command(
    OUTPUT "${marlwood_completion}"
    COMMAND make_manual completion "${PROJECT_SOURCE_DIR}/packaging/marlwood.bash.in"
            "${marlwood_completion}"
    DEPENDS make_manual "${PROJECT_SOURCE_DIR}/packaging/marlwood.bash.in"
    COMMENT "Writing the bash completion" VERBATIM)
  add_custom_command(
    OUTPUT "${marlwood_changelog}.gz"
    COMMAND "${CMAKE_COMMAND}" -E copy "${PROJECT_SOURCE_DIR}/CHANGELOG.md" "${marlwood_changelog}"
    COMMAND gzip -9nf "${marlwood_changelog}"
    DEPENDS "${PROJECT_SOURCE_DIR}/CHANGELOG.md" VERBATIM)
  # Debian's changelog of the package: one entry, which version it packs, dated as the release.
  marlwood_changelog_date(MARLWOOD_CHANGELOG_DATE "${MARLWOOD_RELEASE_DATE}")
  set(marlwood_debian_changelog "${PROJECT_BINARY_DIR}/changelog.Debian")
  configure_file("${PROJECT_SOURCE_DIR}/packaging/changelog.Debian.in"
                 "${marlwood_debian_changelog}" @ONLY)
  add_custom_command(
    OUTPUT "${marlwood_debian_changelog}.gz"
    COMMAND gzip -9nfk "${marlwood_debian_changelog}"
    DEPENDS "${marlwood_debian_changelog}" VERBATIM)
  add_custom_target(marlwood_manual ALL
                    DEPENDS "${marlwood_man}.gz" "${marlwood_completion}" "${marlwood_changelog}.gz"
                            "${marlwood_debian_changelog}.gz")
  # Where the tests read them.
  set(MARLWOOD_MAN_PAGE "${marlwood_man}")
  set(MARLWOOD_COMPLETION "${marlwood_completion}")

  install(FILES "${marlwood_man}.gz" DESTINATION share/man/man1)
  install(FILES "${marlwood_completion}" DESTINATION share/bash-completion/completions
          RENAME marlwood)
  install(FILES "${PROJECT_SOURCE_DIR}/packaging/copyright" "${marlwood_changelog}.gz"
                "${marlwood_debian_changelog}.gz" DESTINATION share/doc/marlwood)
  # The datum grids, where the program looks from /usr/bin: ../share/marlwood/proj-grids; their
  # README, which names their source and licence, with the documentation.
  list(FILTER marlwood_grid_files INCLUDE REGEX "\\.tif$")
  install(FILES ${marlwood_grid_files} DESTINATION share/marlwood/proj-grids)
  install(FILES "${PROJECT_SOURCE_DIR}/data/proj-grids/README.md" DESTINATION share/doc/marlwood
          RENAME proj-grids.md)
endif()

set(CPACK_PACKAGE_NAME marlwood)
set(CPACK_PACKAGE_VENDOR "the marlwood developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert USGS SDTS DEM transfers into Terragen terrain files")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(NOT WIN32)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${MARLWOOD_PACKAGE_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_RELEASE ${MARLWOOD_PACKAGE_REVISION})
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # marlwood_VERSION-REVISION_ARCH.deb
  set(CPACK_DEBIAN_PACKAGE_SECTION science)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The libraries loaded with dlopen when a feature first needs them: recommended, not required.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
      "libarchive13, zlib1g, libtiff6, libdeflate0, libpng16-16, libtinyexr1d, libproj25, libcurl4")
  # What the binary links (libc6; the C++ runtime is linked in), with the versions it needs:
  # dpkg-shlibdeps (dpkg-dev) tells, and cpack finds the binaries with file.
  find_program(MARLWOOD_DPKG_SHLIBDEPS dpkg-shlibdeps)
  find_program(MARLWOOD_FILE file)
  if(MARLWOOD_DPKG_SHLIBDEPS AND MARLWOOD_FILE)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6")
  endif()
  # The synopsis line is CPACK_PACKAGE_DESCRIPTION_SUMMARY; this is the extended part.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "marlwood converts USGS 7.5-minute digital elevation models, delivered as SDTS
raster transfers (module prefixes, directories or the .tar.gz archives as
distributed), into Terragen .ter files: stretched or true heights, void
cells filled, neighbouring quads merged, a PNG preview of each terrain.
Started without arguments it asks for one transfer interactively.")
else()
  set(CPACK_GENERATOR ZIP)
endif()
include(CPack)
