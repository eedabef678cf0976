# What the Windows build installs beside the library, tool and headers: the
# import library for Microsoft's linker, the Python package, the licence and
# the Windows read-me. (No pkg-config file, udev rule or man pages there.)
install(FILES $<TARGET_FILE_DIR:tav>/tav.lib DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(FILES ${TAV_PYTHON_MODULES} python/tav/py.typed DESTINATION python/tav COMPONENT python)
# The copies beside the Python package and the C# binding are stripped, as
# bin\tav.dll is (the wheel's build makes one; without it, stripped on install).
if(TAV_HOST_PYTHON)
  set(TAV_STRIPPED_DLL ${PROJECT_BINARY_DIR}/wheel/tav.dll)
  install(FILES ${TAV_STRIPPED_DLL} DESTINATION python/tav COMPONENT python) # the package loads it from beside itself
  install(FILES bindings/dotnet/Tav.cs ${TAV_STRIPPED_DLL} DESTINATION dotnet COMPONENT development)
else()
  install(FILES $<TARGET_FILE:tav> DESTINATION python/tav COMPONENT python)
  install(FILES bindings/dotnet/Tav.cs $<TARGET_FILE:tav> DESTINATION dotnet COMPONENT development)
  install(CODE "foreach(copy python/tav/tav.dll dotnet/tav.dll)
                  execute_process(COMMAND ${CMAKE_STRIP} \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${copy})
                endforeach()" COMPONENT development)
endif()
install(FILES LICENSE DESTINATION . RENAME LICENSE.txt COMPONENT runtime)
install(FILES packaging/windows/README-windows.txt DESTINATION . COMPONENT runtime)
# C# and VB.NET under Mono: the dllmap (a program that compiles Tav.cs in
# takes it as PROGRAM.exe.config).
install(FILES bindings/dotnet/Tav.Net.dll.config DESTINATION dotnet COMPONENT development)
install(DIRECTORY examples/ DESTINATION examples COMPONENT tools)
