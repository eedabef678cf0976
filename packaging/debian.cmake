# Debian packages through CPack (cpack -G DEB in a build configured with
# -DCMAKE_INSTALL_PREFIX=/usr): libtav1 (the library and the udev rule),
# libtav-dev (headers, CMake package, pkg-config file, tav(3)), tavctl (the
# tool and tavctl(1)) and python3-tav (the Python package).
set(CPACK_PACKAGE_NAME tavlib)
set(CPACK_PACKAGE_VENDOR "tavlib developers")
set(CPACK_PACKAGE_CONTACT "tavlib developers <tavlib@tavlib.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development tools python)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
set(tav_deb_version "${PROJECT_VERSION}-1")
# Each package's description below starts with its own summary line. CPackDeb
# puts the project's summary in front of every one of them unless the summary
# is CPack's default, so it gets that.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libtav${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# shlibs for the library package (the only one with a shared library).
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "control library for TAV USB input/output boards
libtav drives the digital pins and the three PWM timer groups of a TAV USB
input/output board through libusb 0.1, from C, C++ and Python, and carries a
virtual board for running without hardware. This package holds the shared
library and the udev rule that lets users open the board without root.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libtav-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libtav${PROJECT_VERSION_MAJOR} (= ${tav_deb_version}), libusb-dev")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "control library for TAV USB input/output boards - development files
libtav drives the digital pins and the three PWM timer groups of a TAV USB
input/output board. This package holds the C and C++ headers, the CMake
package (find_package(tav CONFIG)), the pkg-config file and tav(3).")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME tavctl)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "libtav${PROJECT_VERSION_MAJOR} (= ${tav_deb_version})")
# The shell loads libedit when it starts (line editing and history); without
# it the shell reads plain lines.
set(CPACK_DEBIAN_TOOLS_PACKAGE_RECOMMENDS "libedit2")
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "command-line tool for TAV USB input/output boards
tavctl lists TAV boards and drives their pins and PWM groups from the shell,
runs scripts with timing and repetition, offers an interactive shell, and
shows what every pin of the built-in virtual board does.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-tav)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3, libtav${PROJECT_VERSION_MAJOR} (>= ${tav_deb_version})")
set(CPACK_DEBIAN_PYTHON_DESCRIPTION "Python package for TAV USB input/output boards
The tav package drives TAV boards and their virtual twin from Python through
libtav's C interface, with the standard library only.")

# Every package carries the copyright file and the changelog Debian wants.
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog.Debian @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
  COMMAND gzip -9n -c ${PROJECT_BINARY_DIR}/debian/changelog.Debian > ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
  DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.Debian VERBATIM)
add_custom_target(tav_debian_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz)
foreach(component runtime development tools python)
  string(TOUPPER ${component} upper)
  set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

include(CPack)
