# The static libraries tools/windows-deps cross-builds into one prefix (MARLWOOD_WINDOWS_DEPS), as
# imported targets that carry their own dependencies, so each room links what it uses and the
# link order follows. Without the prefix the Windows build refuses archives, GeoTIFF and crops.
set(MARLWOOD_WINDOWS_DEPS "" CACHE PATH "The prefix printed by tools/windows-deps (Windows build)")
if(NOT MARLWOOD_WINDOWS_DEPS)
  message(STATUS "MARLWOOD_WINDOWS_DEPS not set: this build reads no archives, writes no GeoTIFF "
                 "and places no crops")
  return()
endif()
if(NOT EXISTS "${MARLWOOD_WINDOWS_DEPS}/.complete")
  message(FATAL_ERROR "${MARLWOOD_WINDOWS_DEPS} is no complete prefix: run tools/windows-deps "
                      "(it prints the prefix)")
endif()
find_library(MARLWOOD_MINGW_ZLIB libz.a)  # the static one of Debian's libz-mingw-w64-dev
if(NOT MARLWOOD_MINGW_ZLIB)
  message(FATAL_ERROR "libz.a not found: install Debian libz-mingw-w64-dev")
endif()

# windows_dep(<name> <file in lib/> <libraries it needs>...)
function(windows_dep name file)
  add_library(WindowsDeps::${name} STATIC IMPORTED GLOBAL)
  set_target_properties(WindowsDeps::${name} PROPERTIES
    IMPORTED_LOCATION "${MARLWOOD_WINDOWS_DEPS}/lib/${file}"
    INTERFACE_INCLUDE_DIRECTORIES "${MARLWOOD_WINDOWS_DEPS}/include"
    INTERFACE_LINK_LIBRARIES "${ARGN}")
endfunction()
add_library(WindowsDeps::zlib STATIC IMPORTED GLOBAL)
set_target_properties(WindowsDeps::zlib PROPERTIES IMPORTED_LOCATION "${MARLWOOD_MINGW_ZLIB}")
windows_dep(archive libarchive_static.a WindowsDeps::zlib advapi32)
set_target_properties(WindowsDeps::archive PROPERTIES
  INTERFACE_COMPILE_DEFINITIONS LIBARCHIVE_STATIC)
windows_dep(tiff libtiff.a WindowsDeps::zlib)
# A prefix from before libpng was added has none: that build refuses 16-bit PNG heightmaps.
if(EXISTS "${MARLWOOD_WINDOWS_DEPS}/lib/libpng16.a")
  windows_dep(png libpng16.a WindowsDeps::zlib)
endif()
windows_dep(sqlite3 libsqlite3.a)
# PROJ is built with winpthreads; its proj.pc also names -lgcc_s, which would make the program
# need libgcc_s_seh-1.dll, so it is not read.
windows_dep(proj libproj.a WindowsDeps::tiff WindowsDeps::sqlite3 pthread)

# proj.db beside the executable, in the build tree as in the zip: PROJ is told to look there.
configure_file("${MARLWOOD_WINDOWS_DEPS}/share/proj/proj.db" "${CMAKE_BINARY_DIR}/proj.db" COPYONLY)
