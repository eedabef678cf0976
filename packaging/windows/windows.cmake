# tav.dll for Windows: the name users copy, import libraries for MinGW
# (libtav.dll.a) and for Microsoft's linker (tav.lib).
set_target_properties(tav PROPERTIES PREFIX "" IMPORT_PREFIX "lib" OUTPUT_NAME tav)
