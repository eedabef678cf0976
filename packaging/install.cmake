# What `cmake --install` puts where, by component: runtime (the library and
# the udev rule), development (headers, CMake package, pkg-config file, tav(3)),
# tools (tavctl and tavctl(1)) and python (the tav package).
include(CMakePackageConfigHelpers)

set(TAV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tav)

install(TARGETS tav EXPORT tavTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
# The USB seam (src/usb/usb_backend.h) stays in the source tree: the USB seam is for the tests and
# the virtual bus, not for applications (as libusb keeps its backend table).
set(TAV_PUBLIC_HEADERS include/TAVLib.h include/tav/tav.h include/tav/board.hpp)
if(WIN32)
  list(APPEND TAV_PUBLIC_HEADERS include/tav/libusb0_win32.h)
endif()
install(FILES ${TAV_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tav COMPONENT development)

install(EXPORT tavTargets NAMESPACE tav:: DESTINATION ${TAV_CMAKE_DIR} COMPONENT development)
configure_package_config_file(packaging/cmake/tavConfig.cmake.in ${PROJECT_BINARY_DIR}/tavConfig.cmake
  INSTALL_DESTINATION ${TAV_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tavConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tavConfig.cmake ${PROJECT_BINARY_DIR}/tavConfigVersion.cmake
  DESTINATION ${TAV_CMAKE_DIR} COMPONENT development)

if(WIN32)
  include(packaging/windows/install.cmake)
  return()
endif()

# pkg-config: for /usr (the distribution packages) plain paths; elsewhere
# relocatable, the prefix found from the .pc file's own place, so that an
# installation made with --prefix or moved still works.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(TAV_PC_PREFIX /usr)
else()
  file(RELATIVE_PATH TAV_PC_TO_PREFIX /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
  string(REGEX REPLACE "/$" "" TAV_PC_TO_PREFIX "${TAV_PC_TO_PREFIX}")
  set(TAV_PC_PREFIX "\${pcfiledir}/${TAV_PC_TO_PREFIX}")
endif()
set(TAV_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
set(TAV_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
configure_file(packaging/pkgconfig/tav.pc.in ${PROJECT_BINARY_DIR}/tav.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tav.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# The examples `tavctl --help` names, with the tool (its Debian package's
# documentation folder).
set(TAV_EXAMPLES_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/tavctl/examples)
install(DIRECTORY examples/ DESTINATION ${TAV_EXAMPLES_DIR} COMPONENT tools)

# The udev rule goes to the rules folder under the prefix (/usr/lib/udev/rules.d for /usr).
install(FILES packaging/udev/60-tav-board.rules DESTINATION lib/udev/rules.d COMPONENT runtime)

# Manual pages, compressed as man(1) and Debian expect them.
foreach(page tavctl.1 tav.3)
  string(REGEX REPLACE ".*\\\\." "" section ${page})
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/docs/${page} > ${PROJECT_BINARY_DIR}/man/${page}.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/${page} VERBATIM)
  list(APPEND TAV_MAN_PAGES ${PROJECT_BINARY_DIR}/man/${page}.gz)
endforeach()
add_custom_target(tav_man_pages ALL DEPENDS ${TAV_MAN_PAGES})
install(FILES ${PROJECT_BINARY_DIR}/man/tavctl.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
install(FILES ${PROJECT_BINARY_DIR}/man/tav.3.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT development)

# The Python package, told where the library was installed (relative to its
# own folder) so that it loads that copy from any working folder.
file(RELATIVE_PATH TAV_PYTHON_TO_LIBDIR /root/${TAV_PYTHON_INSTALL_DIR}/tav /root/${CMAKE_INSTALL_LIBDIR})
configure_file(packaging/python/_install.py.in ${PROJECT_BINARY_DIR}/python/_install.py @ONLY)
install(FILES ${TAV_PYTHON_MODULES} python/tav/py.typed ${PROJECT_BINARY_DIR}/python/_install.py
  DESTINATION ${TAV_PYTHON_INSTALL_DIR}/tav COMPONENT python)
