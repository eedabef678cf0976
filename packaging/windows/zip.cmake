# The zip for Windows users (cpack -G ZIP in a Windows build):
# tavlib-VERSION-win64.zip or -win32.zip with bin/tav.dll, bin/tavctl.exe,
# lib/libtav.dll.a, lib/tav.lib, the CMake package, include/tav/, python/tav/,
# LICENSE.txt and README-windows.txt.
set(CPACK_PACKAGE_NAME tavlib)
set(CPACK_PACKAGE_VENDOR "tavlib developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR ZIP)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CPACK_PACKAGE_FILE_NAME tavlib-${PROJECT_VERSION}-win64)
else()
  set(CPACK_PACKAGE_FILE_NAME tavlib-${PROJECT_VERSION}-win32)
endif()
set(CPACK_COMPONENTS_ALL runtime development tools python)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_STRIP_FILES ON)
include(CPack)
