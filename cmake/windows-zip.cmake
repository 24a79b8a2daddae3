# The Windows zip, marlwood-VERSION-win64.zip (`cpack` in the build directory): marlwood.exe, the
# README and the licence texts of what the .exe links in, in one folder.
install(TARGETS marlwood RUNTIME DESTINATION .)
install(FILES "${PROJECT_SOURCE_DIR}/README.md" DESTINATION .)
# The mingw-w64 runtime and winpthreads (the posix compiler's threads) are linked into every
# Windows build; Debian's copyright file holds their licences.
set(mingw_licence /usr/share/doc/mingw-w64-x86-64-dev/copyright)
if(EXISTS "${mingw_licence}")
  install(FILES "${mingw_licence}" DESTINATION licences RENAME mingw-w64.txt)
endif()
if(MARLWOOD_WINDOWS_DEPS)
  # What tools/windows-deps gathered beside the libraries.
  set(licences "${MARLWOOD_WINDOWS_DEPS}/share/licenses")
  install(FILES "${licences}/libarchive/COPYING" DESTINATION licences RENAME libarchive.txt)
  install(FILES "${licences}/zlib/copyright" DESTINATION licences RENAME zlib.txt)
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME "marlwood-${PROJECT_VERSION}-win64")
set(CPACK_STRIP_FILES ON)
include(CPack)
