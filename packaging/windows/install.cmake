# What the Windows build installs beside the library, tool and headers: the
# import library for Microsoft's linker, the Python package, the licence and
# the Windows read-me. (No pkg-config file, udev rule or man pages there.)
install(FILES $<TARGET_FILE_DIR:tav>/tav.lib DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(FILES python/tav/__init__.py python/tav/__main__.py DESTINATION python/tav COMPONENT python)
install(FILES $<TARGET_FILE:tav> DESTINATION python/tav COMPONENT python) # the package loads it from beside itself
install(FILES packaging/debian/copyright DESTINATION . RENAME LICENSE.txt COMPONENT runtime)
install(FILES packaging/windows/README-windows.txt DESTINATION . COMPONENT runtime)
# C# and VB.NET: the binding's one source file, with tav.dll beside it.
install(FILES bindings/dotnet/Tav.cs $<TARGET_FILE:tav> DESTINATION dotnet COMPONENT development)
install(DIRECTORY examples/ DESTINATION examples COMPONENT tools)
