# The Windows zip, marlwood-VERSION-win64.zip (`cpack` in the build directory): marlwood.exe,
# PROJ's proj.db beside it (where marlwood tells PROJ to look), the datum grids in proj-grids/, the
# README and the licence texts of what the .exe links in, in one folder.
install(TARGETS marlwood RUNTIME DESTINATION .)
install(FILES "${PROJECT_SOURCE_DIR}/README.md" DESTINATION .)
# The datum grids in a folder beside marlwood.exe, where it tells PROJ to look first.
install(FILES ${marlwood_grid_files} DESTINATION proj-grids)
# The mingw-w64 runtime and winpthreads (the posix compiler's threads) are linked into every
# Windows build; Debian's copyright file holds their licences.
set(mingw_licence /usr/share/doc/mingw-w64-x86-64-dev/copyright)
if(EXISTS "${mingw_licence}")
  install(FILES "${mingw_licence}" DESTINATION licences RENAME mingw-w64.txt)
endif()
if(MARLWOOD_WINDOWS_DEPS)
  install(FILES "${MARLWOOD_WINDOWS_DEPS}/share/proj/proj.db" DESTINATION .)
  # What tools/windows-deps gathered beside the libraries (SQLite's is its public-domain notice).
  set(licences "${MARLWOOD_WINDOWS_DEPS}/share/licenses")
  foreach(licence IN ITEMS libarchive/COPYING zlib/copyright libtiff/LICENSE.md proj/COPYING
                           sqlite3/LICENSE.md)
    string(REGEX REPLACE "/.*" ".txt" name "${licence}")
    install(FILES "${licences}/${licence}" DESTINATION licences RENAME "${name}")
  endforeach()
  # libpng, in a prefix made since it was added.
  if(EXISTS "${licences}/libpng/LICENSE")
    install(FILES "${licences}/libpng/LICENSE" DESTINATION licences RENAME libpng.txt)
  endif()
  # tinyexr's code, compiled in from Debian's header (src/heightmap); its copyright file holds
  # the licence.
  set(tinyexr_licence /usr/share/doc/libtinyexr-dev/copyright)
  if(MARLWOOD_TINYEXR_HEADER AND EXISTS "${tinyexr_licence}")
    install(FILES "${tinyexr_licence}" DESTINATION licences RENAME tinyexr.txt)
  endif()
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME "marlwood-${PROJECT_VERSION}-win64")
set(CPACK_STRIP_FILES ON)
include(CPack)
