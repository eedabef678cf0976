# The tests that only Windows has, run under wine: tav.dll's real USB path
# through a stand-in libusb0.dll, and its export table.

# The stand-in lies in bin/standin, not beside the programs: only a test that
# adds that folder (AddDllDirectory) finds it.
# Beside it the stand-in libusb-1.0.dll, of the boards a WinUSB or libusbK
# driver would give libusb-1.0 (its names undecorated on 32-bit too, as
# libusb's own DLL exports them).
add_library(tav_libusb0_standin SHARED windows/libusb0_standin.cpp windows/standin_bus.cpp)
add_library(tav_libusb1_standin SHARED windows/libusb1_standin.cpp windows/standin_bus.cpp)
target_link_libraries(tav_libusb1_standin PRIVATE tav_libusb1_header)
target_link_options(tav_libusb1_standin PRIVATE -Wl,--kill-at)
foreach(standin tav_libusb0_standin tav_libusb1_standin)
  target_link_libraries(${standin} PRIVATE tav_static tav_warnings)
  target_link_options(${standin} PRIVATE -Wl,--exclude-libs,ALL)
  set_target_properties(${standin} PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin/standin)
endforeach()
set_target_properties(tav_libusb0_standin PROPERTIES OUTPUT_NAME libusb0)
set_target_properties(tav_libusb1_standin PROPERTIES OUTPUT_NAME libusb-1.0)

add_executable(tav_libusb0_tests windows/libusb0_test.cpp)
target_link_libraries(tav_libusb0_tests PRIVATE tav GTest::gtest_main tav_warnings)
add_dependencies(tav_libusb0_tests tav_libusb0_standin tav_libusb1_standin)
add_test(NAME Libusb0StandIn COMMAND tav_libusb0_tests --gtest_filter=-WithoutLibusb0.*:OpenBeforeInitial.*:OnlyLibusb1.*)
add_test(NAME OnlyLibusb1 COMMAND tav_libusb0_tests --gtest_filter=OnlyLibusb1.*)
add_test(NAME WithoutLibusb0 COMMAND tav_libusb0_tests --gtest_filter=WithoutLibusb0.*)
add_test(NAME OpenBeforeInitial COMMAND tav_libusb0_tests --gtest_filter=OpenBeforeInitial.*)
set_tests_properties(Libusb0StandIn WithoutLibusb0 OpenBeforeInitial PROPERTIES TIMEOUT 120)

# The export table: g++ and Microsoft names of the 35, the C interface.
file(STRINGS ${PROJECT_SOURCE_DIR}/include/tav/tav.h tav_c_declarations REGEX "^TAV_C_API ")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/include/tav/tav.h)
list(LENGTH tav_c_declarations tav_c_function_count)
add_executable(tav_exports_tests windows/exports_test.cpp)
target_include_directories(tav_exports_tests PRIVATE ${PROJECT_SOURCE_DIR}/packaging/windows)
target_compile_definitions(tav_exports_tests PRIVATE TAV_C_FUNCTION_COUNT=${tav_c_function_count})
target_link_libraries(tav_exports_tests PRIVATE tav GTest::gtest_main tav_warnings)
add_test(NAME WindowsExports COMMAND tav_exports_tests)
set_tests_properties(WindowsExports PROPERTIES TIMEOUT 120)

# Programs of Microsoft's ABI (clang in Microsoft mode, lld-link, tav.lib,
# no C runtime), each in a folder of its own with tav.dll and the stand-in:
# C++ calling TAVLib by its Microsoft names, and C.
find_program(TAV_CLANG NAMES clang)
find_program(TAV_LLD_LINK NAMES lld-link lld-link-14)
function(tav_msvc_program name source)
  set(folder ${PROJECT_BINARY_DIR}/bin/msvc-${name})
  set(program ${folder}/${name}.exe)
  add_custom_command(OUTPUT ${program}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND ${TAV_CLANG} --target=${TAV_WINDOWS_ARCH}-pc-windows-msvc ${ARGN} -ffreestanding -O1 -Wall -Wextra
            -Werror -I${PROJECT_SOURCE_DIR}/include -c ${CMAKE_CURRENT_SOURCE_DIR}/windows/${source}
            -o ${folder}/${name}.obj
    COMMAND ${TAV_LLD_LINK} /nologo /entry:mainCRTStartup /subsystem:console /nodefaultlib
            /out:${program} ${folder}/${name}.obj $<TARGET_FILE_DIR:tav>/tav.lib
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:tav> $<TARGET_FILE:tav_libusb0_standin> ${folder}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/windows/${source} tav tav_libusb0_standin
            ${PROJECT_SOURCE_DIR}/include/TAVLib.h ${PROJECT_SOURCE_DIR}/include/tav/tav.h
    COMMENT "A Microsoft-ABI program against tav.lib: ${name}" VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${program})
  add_test(NAME ${name} COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} ${program} WORKING_DIRECTORY ${folder})
  set_tests_properties(${name} PROPERTIES TIMEOUT 120 ENVIRONMENT TAV_STANDIN_BOARDS=T)
endfunction()
if(TAV_CLANG AND TAV_LLD_LINK)
  tav_msvc_program(MicrosoftProgramCallsTAVLib msvc_program.cpp -x c++ -std=c++17 -fno-exceptions)
  tav_msvc_program(MicrosoftCProgram msvc_c_program.c -x c -std=c99)
else()
  message(WARNING "clang or lld-link not found: the Microsoft-ABI programs are not tested")
endif()

# tavctl.exe under wine: the tool's tests that are not Linux-only, and boards
# behind the stand-in as `tavctl list` names them.
# tav_console_ctrl gives tavctl a Ctrl-C on its console.
add_executable(tav_console_ctrl windows/console_ctrl.cpp)
target_link_libraries(tav_console_ctrl PRIVATE tav_warnings)
add_test(NAME TavctlUnderWine COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tavctl_test.sh $<TARGET_FILE:tavctl>
                                      $<TARGET_FILE:tav_libusb0_standin>)
set_tests_properties(TavctlUnderWine PROPERTIES TIMEOUT 600
  ENVIRONMENT TAV_CONSOLE_CTRL=$<TARGET_FILE:tav_console_ctrl>)

# tavctl.exe serve under wine: the panel test's HTTP checks over wine's
# loopback sockets, and the page in the build machine's Chromium.
find_program(TAV_HOST_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(TAV_HOST_PYTHON AND TARGET tav_panel)
  add_test(NAME PanelUnderWine COMMAND ${TAV_HOST_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/panel_test.py $<TARGET_FILE:tavctl>)
  set_tests_properties(PanelUnderWine PROPERTIES TIMEOUT 600 ENVIRONMENT "TAV_RUNNER=${CMAKE_CROSSCOMPILING_EMULATOR}")
endif()

# Properties -> Details of the DLL and the tool.
add_executable(tav_version_test windows/version_test.cpp)
target_compile_definitions(tav_version_test PRIVATE TAV_VERSION="${PROJECT_VERSION}")
target_link_libraries(tav_version_test PRIVATE version tav_warnings)
add_test(NAME VersionResources COMMAND tav_version_test tav.dll tavctl.exe
         WORKING_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
set_tests_properties(VersionResources PROPERTIES TIMEOUT 120)

# The zip for Windows users, unpacked and used.
add_test(NAME WindowsZip COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows/zip_test.sh ${PROJECT_SOURCE_DIR}
                                 ${PROJECT_BINARY_DIR} ${CMAKE_C_COMPILER} ${TAV_MINGW_OBJDUMP})
set_tests_properties(WindowsZip PROPERTIES TIMEOUT 600)

# Frames per operation through each stand-in DLL, one by one against queued
# (scripts/windows.sh runs tests/windows/frames.sh on it).
add_executable(tav_usb_frames ${PROJECT_SOURCE_DIR}/bench/usb_frames.c)
target_link_libraries(tav_usb_frames PRIVATE tav tav_warnings)
add_dependencies(tav_usb_frames tav_libusb0_standin tav_libusb1_standin)
