# tav.dll for Windows: the name users copy, import libraries for MinGW
# (libtav.dll.a) and for Microsoft's linker (tav.lib).
set_target_properties(tav PROPERTIES PREFIX "" IMPORT_PREFIX "lib" OUTPUT_NAME tav)

# A version resource (VERSIONINFO) from the project's version, compiled by
# MinGW-w64's windres: Properties -> Details shows it.
enable_language(RC)
function(tav_version_resource target description)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    set(TAV_RC_FILETYPE VFT_DLL)
    set(TAV_RC_FILENAME ${target}.dll)
  else()
    set(TAV_RC_FILETYPE VFT_APP)
    set(TAV_RC_FILENAME ${target}.exe)
  endif()
  set(TAV_RC_DESCRIPTION "${description}")
  set(TAV_RC_INTERNAL_NAME ${target})
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/version.rc.in ${PROJECT_BINARY_DIR}/${target}-version.rc
                 @ONLY)
  target_sources(${target} PRIVATE ${PROJECT_BINARY_DIR}/${target}-version.rc)
endfunction()
tav_version_resource(tav "tavlib: control library for the TAV USB input/output board")

# The 35 static functions also under their Microsoft C++ names.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64)$")
  set(TAV_WINDOWS_ARCH x86_64)
  set(TAV_DLLTOOL_MACHINE i386:x86-64)
else()
  set(TAV_WINDOWS_ARCH i686)
  set(TAV_DLLTOOL_MACHINE i386)
endif()
find_program(TAV_MINGW_OBJDUMP NAMES ${CMAKE_CXX_COMPILER_TARGET}-objdump ${TAV_MINGW_TRIPLET}-objdump objdump REQUIRED)
set(TAV_ALIASES_DEF ${PROJECT_BINARY_DIR}/tav-msvc-aliases.def)
add_custom_command(OUTPUT ${TAV_ALIASES_DEF}
  COMMAND ${PROJECT_SOURCE_DIR}/packaging/windows/msvc_aliases.sh ${TAV_ALIASES_DEF} ${TAV_WINDOWS_ARCH}
          ${CMAKE_CXX_COMPILER} ${TAV_MINGW_OBJDUMP} ${PROJECT_SOURCE_DIR}/include
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/windows/msvc_aliases.sh ${PROJECT_SOURCE_DIR}/packaging/windows/tavlib_addresses.cpp
          ${PROJECT_SOURCE_DIR}/packaging/windows/tavlib_functions.h ${PROJECT_SOURCE_DIR}/include/TAVLib.h
          ${PROJECT_SOURCE_DIR}/include/tav/libusb0_win32.h
  COMMENT "Microsoft names of TAVLib's functions (clang in Microsoft mode)" VERBATIM)
add_custom_target(tav_msvc_aliases DEPENDS ${TAV_ALIASES_DEF})
add_dependencies(tav tav_msvc_aliases)
# Every export, aliases included, in a .def of its own, from which the import
# library for Microsoft's linker is made.
set(TAV_EXPORTS_DEF ${PROJECT_BINARY_DIR}/tav-exports.def)
target_link_options(tav PRIVATE ${TAV_ALIASES_DEF} -Wl,--output-def,${TAV_EXPORTS_DEF})
set_property(TARGET tav APPEND PROPERTY LINK_DEPENDS ${TAV_ALIASES_DEF})
find_program(TAV_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)
# The linker writes aliases as "name = target"; the import library wants the
# exported names alone.
add_custom_command(TARGET tav POST_BUILD
  COMMAND sed -E "s/^( +)\"?([^\" ]+)\"? = [^ ]+/\\1\"\\2\"/" ${TAV_EXPORTS_DEF} > ${TAV_EXPORTS_DEF}.names
  COMMAND ${TAV_LLVM_DLLTOOL} -m ${TAV_DLLTOOL_MACHINE} -D tav.dll -d ${TAV_EXPORTS_DEF}.names
          -l $<TARGET_FILE_DIR:tav>/tav.lib
  COMMENT "tav.lib, the import library for Microsoft's linker" VERBATIM)

# Python wheels for this arch (win_amd64, win32) carrying tav.dll, made by the
# package's own build backend with the build machine's python3.
if(TAV_WINDOWS_ARCH STREQUAL "x86_64")
  set(TAV_WHEEL_PLATFORM win_amd64)
else()
  set(TAV_WHEEL_PLATFORM win32)
endif()
find_program(TAV_HOST_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(TAV_HOST_PYTHON)
  set(TAV_WHEEL ${PROJECT_BINARY_DIR}/wheel/tav-${PROJECT_VERSION}-py3-none-${TAV_WHEEL_PLATFORM}.whl)
  add_custom_command(OUTPUT ${TAV_WHEEL}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/wheel
    # Stripped as the zip's copy is (cmake --install --strip).
    COMMAND ${CMAKE_STRIP} -o ${PROJECT_BINARY_DIR}/wheel/tav.dll $<TARGET_FILE:tav>
    COMMAND ${TAV_HOST_PYTHON} -c
            "import sys; sys.path.insert(0, sys.argv[1]); import build_backend; build_backend.build_wheel(sys.argv[2], {'platform': sys.argv[3], 'library': sys.argv[4]})"
            ${PROJECT_SOURCE_DIR}/python ${PROJECT_BINARY_DIR}/wheel ${TAV_WHEEL_PLATFORM} ${PROJECT_BINARY_DIR}/wheel/tav.dll
    DEPENDS tav ${PROJECT_SOURCE_DIR}/python/build_backend.py ${TAV_PYTHON_MODULES}
    COMMENT "the ${TAV_WHEEL_PLATFORM} wheel, with tav.dll" VERBATIM)
  add_custom_target(tav_wheel ALL DEPENDS ${TAV_WHEEL})
  install(FILES ${TAV_WHEEL} DESTINATION python COMPONENT python)
endif()
